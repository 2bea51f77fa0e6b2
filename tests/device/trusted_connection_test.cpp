// A port someone else holds is never taken nor disturbed, the tracker wins over other ports, a
// port busy at plug time is tried again, a recording stops with a word when its file fails.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "device/logic_observer.h"
#include "platform/port_lock.h"
#include "tests/link/device_frames.h"
#include "tests/support/console_harness.h"
#include "tests/support/pty_peer.h"

extern char** environ;

namespace {

// Another program (`sleep 60`, or `flock <port> sleep 60`), in its own process group, with
// `port` as its standard input when given.
struct Holder {
  explicit Holder(const std::string& port = {}, const std::string& flockPort = {},
                  const std::string& sleep = "/usr/bin/sleep") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!port.empty()) posix_spawn_file_actions_addopen(&actions, 0, port.c_str(), O_RDWR, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    std::vector<std::string> argv = {sleep, "60"};
    if (!flockPort.empty()) argv.insert(argv.begin(), {"/usr/bin/flock", flockPort});
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    const std::string held = port + flockPort;
    for (int i = 0; i < 2000 && !held.empty() && !Holds(held); ++i) ::usleep(5000);
  }
  ~Holder() { End(); }
  bool Holds(const std::string& port) const {
    for (const ports::PortHolder& holder : ports::FindOtherPortHolders(port, -1)) {
      if (holder.pid == pid) return true;
    }
    return false;
  }
  void End() {
    if (pid > 0 && ::kill(-pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  pid_t pid = -1;
};

std::string Read(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

struct Rig {
  explicit Rig(const std::function<void(ConsoleEnvironment&)>& adjust = {}) : h(0, adjust) {
    EXPECT_TRUE(peer.RegisterAsPort(h.PortsFolder(), 97));
  }
  std::string LockPath() { return h.LockFolder() + "/" + serial::LockFileName(peer.SlavePath()); }
  // Open, and showing it: connected, or waiting for the device's first answer.
  bool Connected() {
    const std::string& link = h.state.m_linkState;
    return (link == T(kLinkConnected) || link == T(kWaitingForDevice)) && h.logic.Port().IsOpen();
  }
  ConsoleHarness h;
  PtyPeer peer;
};

TEST(Exclusive, APortSomeoneElseHoldsIsNotTakenAndTheHolderIsNamed) {
  enum class Hold { kOpen, kFlock, kLockFile, kSecondConsole, kStaleLock, kModemManager };
  const struct {
    const char* description;
    Hold hold;
    std::string named;  // the holder the window names ("" : connected)
  } rows[] = {
      {"a plain open() holder (a terminal, a cat)", Hold::kOpen, "sleep"},
      {"a flock holder", Hold::kFlock, "flock"},
      {"a lock-file holder that has not even opened it", Hold::kLockFile, "sleep"},
      {"a second console", Hold::kSecondConsole, "self"},
      {"a stale lock file: taken over, and ours removed on close", Hold::kStaleLock, ""},
      {"a modem manager probing it: named, with a hint", Hold::kModemManager, "ModemManager"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    Rig r;
    const std::string port = r.peer.SlavePath();
    const bool modemManager = row.hold == Hold::kModemManager;
    const std::string program = r.h.tree.Root() + "/ModemManager";  // sleep by another name
    if (modemManager) std::filesystem::copy_file("/usr/bin/sleep", program);
    Holder holder(row.hold == Hold::kOpen || modemManager ? port : "",
                  row.hold == Hold::kFlock ? port : "", modemManager ? program : "/usr/bin/sleep");
    if (row.hold == Hold::kStaleLock) holder.End();
    pid_t pid = row.hold == Hold::kSecondConsole ? ::getpid() : holder.pid;
    if (row.hold == Hold::kLockFile || row.hold == Hold::kStaleLock) {
      std::ofstream(r.LockPath()) << "     " << (pid > 0 ? pid : 99999999) << "\n";
    }
    ConsoleHarness first(0, [&](ConsoleEnvironment& e) { e.lockFolder = r.h.LockFolder(); });
    ASSERT_EQ(::symlink(port.c_str(), (first.PortsFolder() + "/COM97").c_str()), 0);
    if (row.hold == Hold::kSecondConsole) first.logic.OnInitDialog();
    r.h.logic.OnInitDialog();
    EXPECT_EQ(r.Connected(), row.named.empty()) << r.h.surface.portProblem;
    if (row.named.empty()) {
      char line[16];
      std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(::getpid()));
      EXPECT_EQ(Read(r.LockPath()), line);
      r.h.logic.CloseStep();
      EXPECT_NE(::access(r.LockPath().c_str(), F_OK), 0);
      continue;
    }
    const std::string named = " (PID " + std::to_string(pid) + ")";
    EXPECT_NE(r.h.surface.portProblem.find(named), std::string::npos) << r.h.surface.portProblem;
    if (row.hold == Hold::kOpen || modemManager) {  // exactly what the operator reads
      EXPECT_EQ(r.h.surface.portProblem,
                T(kPortBusyBy) + row.named + named + (modemManager ? T(kModemManagerHint) : ""));
    }
    if (row.hold == Hold::kSecondConsole) {  // the failed open left the first one's flag alone
      const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      int exclusive = 0;
      EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
      EXPECT_EQ(exclusive, 1);
      ::close(fd);
    }
  }
}

// A program holding the port with settings of its own (9600, line editing), a line it has not
// read, bytes its far end has not read, and perhaps the exclusive flag. It runs in a child
// without the pseudo-terminal's master, and answers each byte on `ask` with its side's view.
struct TtyHolder {
  struct View {
    speed_t speed = 0;
    tcflag_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
    int unread = 0;
    int exclusive = 0;
    bool operator==(const View&) const = default;
  };
  TtyHolder(const PtyPeer& peer, bool exclusive) {
    if (::pipe(ask) != 0 || ::pipe(answer) != 0) return;
    pid = ::fork();
    if (pid != 0) return;
    ::close(peer.MasterFd());
    const int fd = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    termios line{};
    ::tcgetattr(fd, &line);
    ::cfsetspeed(&line, B9600);
    line.c_lflag |= ICANON;
    ::tcsetattr(fd, TCSANOW, &line);
    if (exclusive) ::ioctl(fd, TIOCEXCL);
    (void)!::write(fd, "not read by peer\n", 17);
    for (char c = 0; ::read(ask[0], &c, 1) == 1;) {
      View view;
      ::tcgetattr(fd, &line);
      view = {::cfgetospeed(&line), line.c_iflag, line.c_oflag, line.c_cflag, line.c_lflag};
      ::ioctl(fd, FIONREAD, &view.unread);
      ::ioctl(fd, TIOCGEXCL, &view.exclusive);
      (void)!::write(answer[1], &view, sizeof view);
    }
    ::_exit(0);
  }
  ~TtyHolder() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
  }
  View Look() {
    View view;
    const bool told =
        ::write(ask[1], "?", 1) == 1 && ::read(answer[0], &view, sizeof view) == sizeof view;
    return told ? view : View{};
  }
  pid_t pid = -1;
  int ask[2] = {-1, -1};
  int answer[2] = {-1, -1};
};

int Unread(int fd) {
  int count = -1;
  ::ioctl(fd, FIONREAD, &count);
  return count;
}

TEST(Exclusive, ARefusedPortKeepsItsHolderSettingsQueuesAndFlag) {
  for (const bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "holder made it exclusive (root passes that)" : "plain holder");
    Rig r;
    TtyHolder holder(r.peer, exclusive);
    ASSERT_TRUE(r.peer.Write("typed, not read\n"));
    ASSERT_TRUE(r.h.RunUntil(
        [&] { return holder.Look().unread == 16 && Unread(r.peer.MasterFd()) >= 17; }));
    const TtyHolder::View before = holder.Look();
    const int pendingOut = Unread(r.peer.MasterFd());
    EXPECT_EQ(before.speed, B9600);
    EXPECT_EQ(before.exclusive, exclusive ? 1 : 0);
    for (int probe = 0; probe < 100; ++probe) {
      EXPECT_FALSE(r.h.logic.ScanAndConnect());
    }
    EXPECT_TRUE(r.h.surface.portProblem.starts_with(T(kPortBusyBy)));
    EXPECT_NE(r.h.surface.portProblem.find("(PID " + std::to_string(holder.pid) + ")"),
              std::string::npos)
        << r.h.surface.portProblem;
    EXPECT_TRUE(holder.Look() == before) << "settings, unread input or flag changed";
    EXPECT_EQ(Unread(r.peer.MasterFd()), pendingOut) << "the holder's output was thrown away";
  }
}

// Anyone may put anything at a lock's name in the shared lock folder.
TEST(LockFile, WhatIsNotALockFileRefusesThePortAtOnceAndSaysWhat) {
  const auto sized = [](int bytes) {  // a file this large, without a PID, a minute old
    return [bytes](const std::string& lock, const std::string&) {
      std::ofstream(lock) << std::string(static_cast<std::size_t>(bytes), 'x');
      const timespec minuteAgo[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
      return ::utimensat(AT_FDCWD, lock.c_str(), minuteAgo, 0);
    };
  };
  const struct {
    const char* description;
    std::function<int(const std::string& lock, const std::string& elsewhere)> plant;  // 0: done
    std::string what;  // "": taken over and connected
  } rows[] = {
      {"a FIFO: never opened for reading, so nothing waits on it",
       [](auto& lock, auto&) { return ::mkfifo(lock.c_str(), 0666); }, "FIFO"},
      {"a link leading nowhere",
       [](auto& lock, auto& elsewhere) { return ::symlink(elsewhere.c_str(), lock.c_str()); },
       "symbolic link"},
      {"a link to a stale lock elsewhere",
       [](auto& lock, auto& elsewhere) {
         std::ofstream(elsewhere) << "  99999999\n";
         return ::symlink(elsewhere.c_str(), lock.c_str());
       },
       "symbolic link"},
      {"a folder", [](auto& lock, auto&) { return ::mkdir(lock.c_str(), 0755); }, "directory"},
      {"a file one byte above the size a lock file may have", sized(65), "65 bytes"},
      {"a stale file of the largest size a lock file may have", sized(64), ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    Rig r;
    const std::string lock = r.LockPath();
    ASSERT_EQ(row.plant(lock, r.h.tree.Root() + "/elsewhere"), 0);
    const auto start = std::chrono::steady_clock::now();
    r.h.logic.OnInitDialog();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(r.Connected(), row.what.empty()) << r.h.surface.portProblem;
    if (row.what.empty()) continue;
    EXPECT_EQ(r.h.surface.portProblem, T(kPortLockUnsafe) + lock + ": " + row.what);
    EXPECT_FALSE(r.h.logic.Port().IsOpen());
  }
}

// Root passes TIOCEXCL: a program that opens our port after we connected is named.
TEST(Exclusive, AnotherOpenerOfTheConnectedPortIsNamedWithinFiveSeconds) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root opens a port past TIOCEXCL";
  ConsoleHarness h(0, [](ConsoleEnvironment& e) { e.holderLookMilliseconds = 700; });
  SimProcess sim(TC_SIM_PATH, h.PortsFolder(), Quiet());
  ASSERT_EQ(sim.WaitForPlug(), 97);
  h.logic.OnInitDialog();
  ASSERT_TRUE(h.RunUntil([&] { return h.logic.DeviceAnswered(); }));
  h.RunUntil([] { return false; }, std::chrono::milliseconds(800));
  EXPECT_EQ(h.surface.statusLine, "") << "the tracker's own side is nobody else";
  Holder intruder(h.PortsFolder() + "/COM97");
  const std::string named = T(kPortAlsoHeldBy) + "sleep (PID " + std::to_string(intruder.pid) + ")";
  EXPECT_TRUE(h.RunUntil([&] { return h.surface.portProblem == named; }, std::chrono::seconds(5)))
      << h.surface.portProblem;
  EXPECT_EQ(h.surface.statusLine, named);
  EXPECT_NE(h.surface.pane.find(named), std::string::npos) << "and in the log";
}

// Without a runtime folder of the session, the ports folder sits in /tmp, where anyone may
// have made it first.
TEST(PrivateFolder, AFolderOthersCouldWriteOrALinkIsNotUsedForVirtualPorts) {
  const struct {
    const char* description;
    mode_t mode;  // 0: the folder is a link to a private one
    std::string problem;
  } rows[] = {
      {"ours, 0700", 0700, ""},
      {"open to the group for reading", 0750, "mode 0750"},
      {"open to all", 0777, "mode 0777"},
      {"a symbolic link to a private folder", 0, "symbolic link"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    Rig r([](ConsoleEnvironment& e) { e.roots.portsFolderMustBePrivate = true; });
    const std::string folder = r.h.PortsFolder();
    ::chmod((r.h.tree.Root() + "/run").c_str(), 0700);
    if (row.mode == 0) {
      ASSERT_EQ(::rename(folder.c_str(), (folder + ".real").c_str()), 0);
      ::chmod((folder + ".real").c_str(), 0700);
      ASSERT_EQ(::symlink((folder + ".real").c_str(), folder.c_str()), 0);
    } else {
      ::chmod(folder.c_str(), row.mode);
    }
    r.h.logic.OnInitDialog();
    EXPECT_EQ(r.Connected(), row.problem.empty());
    EXPECT_EQ(r.h.logic.LastPortList().empty(), !row.problem.empty());
    EXPECT_EQ(r.h.surface.portProblem,
              row.problem.empty() ? "" : T(kPortsFolderRefused) + folder + ": " + row.problem);
  }
}

TEST(RightPort, WhatAFrameTellsAboutThePort) {
  using W = FrameWitness;
  const std::vector<std::string> sent = {"nnect ok!#", "rt:imei,?#"};  // our frames as decoded
  const struct {
    std::string text;
    W witness;
  } rows[] = {
      // clang-format off
      {"nnect ok!#", W::kEcho}, {"rt:imei,?#", W::kEcho}, {"AT:connect ok!#", W::kTracker},
      {"AT+uart:gsm,20,agps,0,gps,0,sim,1", W::kTracker}, {"AT+uart:", W::kLine},
      {"$GPRMC,,V,,,,,,,,,,N*53", W::kTracker}, {"$GPRMC,,V,,,,,,,,,,N*52", W::kLine},
      {"$GPRMC,,V,,,,,,,,,,N*5", W::kLine}, {"heartbeat", W::kLine}, {"\xb5\xc8\tGBK", W::kLine},
      {"heart\x01" "beat", W::kNoise}, {"\x7f", W::kNoise}, {"", W::kNoise},
      // clang-format on
  };
  for (const auto& row : rows) {
    EXPECT_EQ(WitnessOfFrame(row.text, sent), row.witness) << row.text;
  }
}

// A device on a pseudo-terminal registered as COM<n>: silent, sending back what it gets,
// sending noise (bytes and frames that are not text, and one text frame), or a tracker that
// starts its status reports after `quietFor`.
struct FakeDevice {
  enum class Kind { kSilent, kLoopback, kNoise, kLateTracker };
  FakeDevice(const std::string& folder, int number, Kind kind,
             std::chrono::milliseconds quietFor = {}) {
    EXPECT_TRUE(peer.RegisterAsPort(folder, number));
    if (kind != Kind::kSilent)
      worker = std::thread([this, kind, quietFor] { Run(kind, quietFor); });
  }
  ~FakeDevice() {
    stop = true;
    if (worker.joinable()) worker.join();
  }
  void Run(Kind kind, std::chrono::milliseconds quietFor) {
    using namespace std::chrono_literals;
    const auto talkFrom = std::chrono::steady_clock::now() + quietFor;
    bool saidText = false;
    while (!stop) {
      if (kind == Kind::kLoopback) {
        const std::string got = peer.ReadUntilQuiet(5ms);
        if (!got.empty()) peer.Write(got, 100ms);
        continue;
      }
      const bool greeted = !peer.ReadUntilQuiet(50ms).empty();
      if (kind == Kind::kNoise) {
        // One text frame, once the console listens (what came before its open is flushed).
        const bool text = greeted && !saidText;
        peer.Write(linktest::DeviceFrameBytes(text ? "x~" : "\x01\x02\x7f") + "\x55\xaa\x13",
                   100ms);
        saidText = saidText || text;
      } else if (std::chrono::steady_clock::now() >= talkFrom) {
        peer.Write(linktest::DeviceFrameBytes("AT+uart:gsm,20,agps,0,gps,0,sim,1"), 100ms);
      }
    }
  }
  PtyPeer peer;
  std::atomic<bool> stop{false};
  std::thread worker;
};

// The ports a station would have made records for.
struct LinkUps : LogicObserver {
  void OnLinkUp(const std::string& port, const std::string&) override {
    ports.push_back(port.substr(0, 5));
  }
  void OnLinkDown() override {}
  void OnReply(const char*) override {}
  std::vector<std::string> ports;
};

TEST(RightPort, TheTrackerWinsOverLoopbackNoiseSilenceAndBusiness) {
  using Kind = FakeDevice::Kind;
  using namespace std::chrono_literals;
  constexpr auto kAnswerWait = 900ms;
  const struct {
    const char* description;
    std::vector<std::pair<int, Kind>> devices;
    int simPort;  // tracker-sim's COM number (0: none)
    bool simBusyAtFirst;
    std::string endsOn;
  } rows[] = {
      // clang-format off
      {"a loopback and a noisy port listed before the tracker",
       {{97, Kind::kLoopback}, {98, Kind::kNoise}}, 99, false, "COM99"},
      {"a tracker silent for longer than the answer wait, after a silent port",
       {{97, Kind::kSilent}, {98, Kind::kLateTracker}}, 0, false, "COM98"},
      {"a tracker busy at plug time beside a silent port",
       {{98, Kind::kSilent}}, 97, true, "COM97"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    ConsoleHarness h(0, [&](ConsoleEnvironment& e) {
      e.answerWaitMilliseconds = static_cast<unsigned>(kAnswerWait.count());
      e.silentRescanMilliseconds = 2600;
      e.busyRetryIntervalMilliseconds = 70;
      e.busyRetryMilliseconds = 20000;
    });
    LinkUps linkUps;
    h.logic.SetObserver(&linkUps);
    std::vector<std::unique_ptr<FakeDevice>> devices;
    for (const auto& [number, kind] : row.devices) {
      devices.push_back(
          std::make_unique<FakeDevice>(h.PortsFolder(), number, kind, 2 * kAnswerWait));
    }
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Holder> holder;
    if (row.simPort != 0) {
      sim = std::make_unique<SimProcess>(TC_SIM_PATH, h.PortsFolder(),
                                         Quiet({"--port-number", std::to_string(row.simPort)}));
      ASSERT_EQ(sim->WaitForPlug(), row.simPort);
    }
    if (row.simBusyAtFirst) {
      holder = std::make_unique<Holder>(h.PortsFolder() + "/COM" + std::to_string(row.simPort));
      h.surface.onPortProblem = [&] {
        if (h.surface.portProblem.find(T(kPortRetrying)) != std::string::npos) holder->End();
      };
      h.logic.OnDeviceChange(kDeviceArrival, 0);
    } else {
      h.logic.OnInitDialog();
    }
    EXPECT_TRUE(h.RunUntil([&] { return h.logic.DeviceAnswered(); }, 20s));
    EXPECT_EQ(h.state.m_portName.substr(0, 5), row.endsOn);
    EXPECT_EQ(h.state.m_linkState, T(kLinkConnected));
    EXPECT_EQ(linkUps.ports, std::vector<std::string>{row.endsOn}) << "a record for another port";
  }
}

TEST(RightPort, UntilTheDeviceAnswersTheWindowSaysSoAndSendsNothing) {
  using namespace std::chrono_literals;
  ConsoleHarness h(0);
  LinkUps linkUps;
  h.logic.SetObserver(&linkUps);
  FakeDevice tracker(h.PortsFolder(), 97, FakeDevice::Kind::kLateTracker, 1500ms);
  h.logic.OnInitDialog();
  EXPECT_EQ(h.state.m_linkState, T(kWaitingForDevice));
  EXPECT_EQ(h.surface.Controls().m_linkState, T(kWaitingForDevice))
      << "where the operator reads it";
  h.logic.OnReadImei();
  EXPECT_EQ(h.surface.BoxTexts(), std::vector<std::string>{T(kWaitingForDevice)});
  EXPECT_TRUE(linkUps.ports.empty());
  EXPECT_TRUE(h.RunUntil([&] { return h.logic.DeviceAnswered(); }));
  EXPECT_EQ(h.state.m_linkState, T(kLinkConnected));
  EXPECT_EQ(linkUps.ports, std::vector<std::string>{"COM97"});
}

// Tracker A is pulled out in the middle of a frame; tracker B's first bytes are the rest of
// it. Nothing of A's frame may reach the window.
TEST(RightPort, HalfAFrameBeforeAHangUpDoesNotCompleteWithTheNextTracker) {
  Rig r;
  const std::string status = linktest::DeviceFrameBytes("AT+uart:gsm,20,agps,0,gps,0,sim,1");
  const std::string imeiOfA = linktest::DeviceFrameBytes("AT+uart:imei,860000000000001");
  r.h.logic.OnInitDialog();
  ASSERT_TRUE(r.peer.Write(status + imeiOfA.substr(0, 20)));
  ASSERT_TRUE(r.h.RunUntil([&] { return r.h.logic.DeviceAnswered(); }));
  r.peer.HangUp();
  ASSERT_TRUE(r.h.RunUntil([&] { return !r.h.logic.Port().IsOpen(); }));
  ASSERT_TRUE(r.peer.Recreate());
  ASSERT_TRUE(r.h.RunUntil([&] { return r.Connected(); }));
  ASSERT_TRUE(r.peer.Write(imeiOfA.substr(20) + status));
  EXPECT_TRUE(r.h.RunUntil([&] { return r.h.logic.DeviceAnswered(); }));
  EXPECT_EQ(r.h.state.m_imei, "");
  EXPECT_EQ(r.h.surface.pane.find("860000000000001"), std::string::npos) << r.h.surface.pane;
}

// One freed during the retries connects: the busy tracker's row of RightPort.TheTrackerWins...
TEST(BusyRetry, APortBusyAtPlugTimeAndNeverFreedIsGivenUpWhenTimeIsUp) {
  Rig r([](ConsoleEnvironment& e) {
    e.busyRetryIntervalMilliseconds = 50;
    e.busyRetryMilliseconds = 600;
  });
  Holder holder(r.peer.SlavePath());
  r.h.logic.OnDeviceChange(kDeviceArrival, 0);
  EXPECT_FALSE(r.Connected());
  EXPECT_TRUE(r.h.surface.portProblem.ends_with(T(kPortRetryGaveUp))) << r.h.surface.portProblem;
}

TEST(Recording, AFileThatCannotTakeALineStopsRecordingWithItsNameAndReason) {
  const std::string whole = "0123456789\r\n";
  const struct {
    const char* description;
    int fileSizeLimit;  // 0: none
    bool deleted;
    std::string path;  // "": a new file
    std::string reason;
    std::string leftInFile;
  } rows[] = {
      {"deleted", 0, true, "", T(kLogFileDeleted), ""},
      {"full after a line and a half: no torn last line", 15, false, "", "File too large", whole},
      {"a full disk (/dev/full)", 0, false, "/dev/full", "No space left on device", ""},
  };
  ::signal(SIGXFSZ, SIG_IGN);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    ConsoleHarness h(0);
    const std::string path = row.path.empty() ? h.LockFolder() + "/log.txt" : row.path;
    h.surface.nextLogFileName = path;
    h.logic.OnSaveToFile();
    ASSERT_TRUE(h.state.m_saving);
    if (row.deleted) ::unlink(path.c_str());
    rlimit limit{row.fileSizeLimit > 0 ? rlim_t(row.fileSizeLimit) : RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    h.logic.WriteLogFile(whole + whole);
    limit.rlim_cur = RLIM_INFINITY;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(h.state.m_saving);
    ASSERT_TRUE(h.RunUntil([&] { return !h.surface.boxes.empty(); }));
    EXPECT_EQ(h.surface.boxes[0].text, T(kLogFileWriteFailed) + path + "\n" + row.reason);
    if (row.path.empty() && !row.deleted) {
      EXPECT_EQ(Read(path), row.leftInFile);
    }
  }
}

}  // namespace
