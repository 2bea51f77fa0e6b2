#include "tests/support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PtyPeer::PtyPeer() {
  OpenMaster();
}

PtyPeer::~PtyPeer() {
  Unregister();
  if (master_ >= 0) close(master_);
}

bool PtyPeer::OpenMaster() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return false;
  char name[128] = {};
  termios raw{};
  // Termios set through the master apply to the slave: raw until the console sets its own.
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0 || tcgetattr(master_, &raw) != 0) {
    close(master_);
    master_ = -1;
    return false;
  }
  cfmakeraw(&raw);
  tcsetattr(master_, TCSANOW, &raw);
  slavePath_ = name;
  return true;
}

bool PtyPeer::RegisterAsPort(const std::string& portsFolder, int portNumber) {
  std::error_code error;
  std::filesystem::create_directories(portsFolder, error);
  if (!ok() || error) return false;
  Unregister();
  const std::string link = portsFolder + "/COM" + std::to_string(portNumber);
  unlink(link.c_str());
  if (symlink(slavePath_.c_str(), link.c_str()) != 0) return false;
  portsFolder_ = portsFolder;
  portNumber_ = portNumber;
  linkPath_ = link;
  return true;
}

void PtyPeer::Unregister() {
  if (linkPath_.empty()) return;
  unlink(linkPath_.c_str());
  linkPath_.clear();
}

bool PtyPeer::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!bytes.empty()) {
    const ssize_t sent = write(master_, bytes.data(), bytes.size());
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (Clock::now() >= deadline) return false;
    pollfd room{master_, POLLOUT, 0};
    poll(&room, 1, MillisecondsUntil(deadline));
  }
  return true;
}

std::string PtyPeer::ReadExactly(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::string got;
  while (got.size() < count && ReadSome(&got, count - got.size(), deadline)) {
  }
  return got;
}

bool PtyPeer::ReadSome(std::string* into, std::size_t limit, Clock::time_point deadline) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(master_, buffer, std::min(sizeof buffer, limit));
    if (got > 0) {
      into->append(buffer, static_cast<std::size_t>(got));
      return true;
    }
    if (Clock::now() >= deadline) return false;
    if (got < 0 && errno == EIO) {
      // Nobody has the slave open (yet, or any more): the master reports a hang-up until then.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    pollfd data{master_, POLLIN, 0};
    poll(&data, 1, MillisecondsUntil(deadline));
  }
}

void PtyPeer::HangUp() {
  Unregister();
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool PtyPeer::Recreate() {
  const bool wasRegistered = !linkPath_.empty() || portNumber_ != 0;
  HangUp();
  if (!OpenMaster()) return false;
  return !wasRegistered || RegisterAsPort(portsFolder_, portNumber_);
}
