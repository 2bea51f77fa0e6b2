// Device notices from the ports folder watch: each change of a port link is one notice, the
// descriptor polls readable exactly while notices are pending, and a folder removed and made
// again is still watched.

#include "platform/device_notices.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/port_list.h"
#include "tests/support/fake_sysfs.h"

namespace {

namespace fs = std::filesystem;

bool Readable(int fd, int timeoutMs) {
  pollfd waiting{fd, POLLIN, 0};
  return ::poll(&waiting, 1, timeoutMs) == 1 && (waiting.revents & POLLIN) != 0;
}

TEST(DeviceNotices, EachChangeOfTheFolderIsOneNotice) {
  fake::FakeSysfs tree;
  fake::Pty pty;
  const std::string folder = tree.Root() + "/runtime/tracker-console/ports";
  const auto path = [&](const std::string& name) { return folder + "/" + name; };
  notices::DeviceNoticeSource source;
  ASSERT_TRUE(source.Open(folder, /*useUdev=*/false, nullptr));
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u) << "made private";
  EXPECT_FALSE(Readable(source.fd(), 0));

  const std::string target = pty.SlavePath();
  const struct {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> notices;
  } rows[] = {
      {"link created: plug", [&] { fs::create_symlink(target, path("COM97")); }, {"+port COM97"}},
      {"link removed: unplug", [&] { fs::remove(path("COM97")); }, {"-port COM97"}},
      {"link renamed into place",
       [&] {
         fs::create_symlink(target, path(".pending"));
         fs::rename(path(".pending"), path("COM98"));
       },
       {"+port COM98"}},
      {"link moved away",
       [&] { fs::rename(path("COM98"), tree.Root() + "/COM98"); },
       {"-port COM98"}},
      {"other files are not ports; two ports at once, in order",
       [&] {
         std::ofstream(path("notes.txt")) << "x";
         fs::remove(path("notes.txt"));
         fs::create_directory(path("CO"));
         fs::create_symlink(target, path("COM127"));
         fs::remove(path("COM127"));
       },
       {"+port COM127", "-port COM127"}},
      {"folder removed with a link in it",
       [&] {
         fs::create_symlink(target, path("COM97"));
         fs::remove_all(folder);
       },
       {"+port COM97", "-port COM97"}},
      {"folder made again is still watched",
       [&] { ASSERT_EQ(ports::RegisterVirtualPort(folder, target), 97); },
       {"+port COM97"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    row.change();
    ASSERT_TRUE(Readable(source.fd(), 10000));
    std::vector<std::string> seen;
    for (const notices::DeviceNotice& notice : source.ReadNotices()) {
      const bool arrival = notice.kind == notices::Kind::kArrival;
      seen.push_back((arrival ? "+" : "-") + notice.what);
    }
    EXPECT_EQ(seen, row.notices);
    EXPECT_FALSE(Readable(source.fd(), 0)) << "drained";
  }
  source.Close();
  EXPECT_EQ(source.fd(), -1);
  EXPECT_TRUE(source.ReadNotices().empty());
}

}  // namespace
