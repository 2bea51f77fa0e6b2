// Device notices from the ports folder watch: a port link created is one arrival, removed one
// removal, and the descriptor polls readable exactly while notices are pending.

#include "platform/device_notices.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/port_list.h"
#include "tests/support/fake_sysfs.h"

namespace {

using notices::DeviceNotice;
using notices::Kind;

constexpr int kGenerousWaitMs = 10000;

bool Readable(int fd, int timeoutMs) {
  pollfd waiting{fd, POLLIN, 0};
  return ::poll(&waiting, 1, timeoutMs) == 1 && (waiting.revents & POLLIN) != 0;
}

std::vector<std::string> Drain(notices::DeviceNoticeSource& source) {
  std::vector<std::string> seen;
  for (const DeviceNotice& notice : source.ReadNotices()) {
    seen.push_back((notice.kind == Kind::kArrival ? "arrival " : "removal ") + notice.what);
  }
  return seen;
}

class FolderNotices : public ::testing::Test {
 protected:
  void SetUp() override {
    notices::SourceError error;
    ASSERT_TRUE(source_.Open(folder_, /*useUdev=*/false, &error))
        << error.step << ": " << error.errorCode;
    ASSERT_GE(source_.fd(), 0);
  }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  fake::FakeSysfs tree_;
  fake::Pty pty_;
  std::string folder_ = tree_.Root() + "/runtime/tracker-console/ports";
  notices::DeviceNoticeSource source_;
};

TEST_F(FolderNotices, OpenCreatesPrivateFolderAndStartsQuiet) {
  struct stat info {};
  ASSERT_EQ(::stat(folder_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_FALSE(Readable(source_.fd(), 0));
  EXPECT_TRUE(source_.ReadNotices().empty());
}

TEST_F(FolderNotices, EachChangeOfTheFolderIsOneNotice) {
  struct Case {
    const char* description;
    std::function<void()> change;
    std::vector<std::string> expected;
  };
  const std::string target = pty_.SlavePath();
  const std::vector<Case> cases = {
      {"link created: plug",
       [&] { std::filesystem::create_symlink(target, Path("COM97")); },
       {"arrival port COM97"}},
      {"link removed: unplug",
       [&] { std::filesystem::remove(Path("COM97")); },
       {"removal port COM97"}},
      {"link renamed into place",
       [&] {
         std::filesystem::create_symlink(target, Path(".pending"));
         std::filesystem::rename(Path(".pending"), Path("COM98"));
       },
       {"arrival port COM98"}},
      {"link moved away",
       [&] { std::filesystem::rename(Path("COM98"), tree_.Root() + "/COM98"); },
       {"removal port COM98"}},
      {"other files are not ports",
       [&] {
         std::ofstream(Path("notes.txt")) << "x";
         std::filesystem::remove(Path("notes.txt"));
         std::filesystem::create_directory(Path("CO"));
         std::filesystem::create_symlink(target, Path("COM100"));
       },
       {"arrival port COM100"}},
      {"two ports at once, in order",
       [&] {
         std::filesystem::create_symlink(target, Path("COM99"));
         std::filesystem::remove(Path("COM100"));
       },
       {"arrival port COM99", "removal port COM100"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    c.change();
    ASSERT_TRUE(Readable(source_.fd(), kGenerousWaitMs));
    EXPECT_EQ(Drain(source_), c.expected);
    EXPECT_FALSE(Readable(source_.fd(), 0)) << "drained";
  }
}

TEST_F(FolderNotices, FolderRemovedAndMadeAgainIsStillWatched) {
  std::filesystem::create_symlink(pty_.SlavePath(), Path("COM97"));
  std::filesystem::remove_all(folder_);
  ASSERT_TRUE(Readable(source_.fd(), kGenerousWaitMs));
  EXPECT_EQ(Drain(source_), (std::vector<std::string>{"arrival port COM97", "removal port COM97"}));
  ASSERT_EQ(ports::RegisterVirtualPort(folder_, pty_.SlavePath()), 97);
  ASSERT_TRUE(Readable(source_.fd(), kGenerousWaitMs));
  EXPECT_EQ(Drain(source_), (std::vector<std::string>{"arrival port COM97"}));
}

TEST(DeviceNoticeSource, FolderThatCannotBeMadeIsReportedAndClosedSourceIsQuiet) {
  fake::FakeSysfs tree;
  std::ofstream(tree.Root() + "/file") << "x";
  notices::DeviceNoticeSource source;
  EXPECT_EQ(source.fd(), -1);
  notices::SourceError error;
  EXPECT_FALSE(source.Open(tree.Root() + "/file/ports", false, &error));
  EXPECT_EQ(error.errorCode, ENOTDIR);
  EXPECT_EQ(error.step, "mkdir");
  EXPECT_TRUE(source.ReadNotices().empty());
  ASSERT_TRUE(source.Open(tree.Roots().portsFolder, false, nullptr));
  EXPECT_GE(source.fd(), 0);
  source.Close();
  EXPECT_EQ(source.fd(), -1);
  EXPECT_TRUE(source.ReadNotices().empty());
}

}  // namespace
