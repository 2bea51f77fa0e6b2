// The real window (offscreen unless a display is asked for) drains, decodes, shows and records
// a flood of device frames on a pseudo-terminal. Two streams, each in a fresh process: mix (log
// lines, status reports, read replies and a GGA/GSA/GSV group after every ninth line) and plain
// (no NMEA). Prints per phase of the pane's bound frames/s, UI stalls (a 10 ms timer's lateness)
// and RSS; the flood's frames/s, CPU s/MB (the writer's left out), whether the recording holds
// every line in order; start-up, click to wire, idle CPU; what `cat` drains of the same bytes.
//
//   bench_gui_log_flood [frames] [character-bound]   (defaults 2,500,000 and 52,428,800)
//   bench_gui_log_flood [frames] [character-bound] mix|plain   (one stream, no cat)

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/config_dlg.h"
#include "app/log_pane.h"
#include "bench/bench_util.h"
#include "tests/link/device_frames.h"

namespace {

using Clock = std::chrono::steady_clock;

double ResidentMegabytes() {
  double pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// A log line's payload, numbered so order can be checked.
std::string LogPayload(std::uint64_t n) {
  return "LOG n=" + std::to_string(n) + " gsm,23,agps,3,gps,7,sim,1 bat=4.12V T=31C";
}

std::string WithNmeaChecksum(const std::string& body) {
  unsigned sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[4];
  std::snprintf(tail, sizeof tail, "*%02X", sum & 0xFFU);
  return "$" + body + tail;
}

// The receiver's group for second s: position, fix, satellites (their signals wander).
std::string NmeaPayload(std::uint64_t s, int which) {
  const auto at = [s](int base) { return std::to_string(base + static_cast<int>(s % 7)); };
  char time[16];
  std::snprintf(time, sizeof time, "%02d%02d%02d.00", static_cast<int>(s / 3600 % 24),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  if (which == 0) {
    return WithNmeaChecksum(std::string("GPGGA,") + time + ",3130.52" + at(10) + ",N,12126.88" +
                            at(40) + ",E,1,04,1.1,12." + at(0) + ",M,8.4,M,,");
  }
  if (which == 1) return WithNmeaChecksum("GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1");
  return WithNmeaChecksum("GPGSV,1,1,04,04,45,120," + at(40) + ",05,30,210," + at(30) +
                          ",09,60,045," + at(20) + ",12,22,180," + at(10));
}

bool g_mix = false;

// What frame n carries. Plain: log lines and, every tenth, a status report. Mix: the same,
// every thousandth line a read reply (its notice opens), and after every ninth line the
// receiver's group, so a block is nine lines and three sentences.
std::string FramePayload(std::uint64_t n) {
  const std::uint64_t block = g_mix ? n / 12 : n / 10;
  const std::uint64_t slot = g_mix ? n % 12 : n % 10;
  if (g_mix && slot >= 9) return NmeaPayload(block, static_cast<int>(slot - 9));
  if (slot == 0) return "AT+uart:gsm," + std::to_string(20 + block % 9) + ",agps,3,gps,7,sim,1#";
  if (g_mix && slot == 4 && block % 100 == 0)
    return "AT+uart:upload," + std::to_string(block) + "#";
  return LogPayload(n);
}

bool IsNmea(std::uint64_t n) {
  return g_mix && n % 12 >= 9;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Frames 0 .. frames-1 to `fd` in blocks of 64 KiB; `sent` hears each block's size.
template <typename Sent>
void WriteFrames(int fd, std::uint64_t frames, Sent sent) {
  std::string block;
  for (std::uint64_t n = 0; n < frames; ++n) {
    block += linktest::DeviceFrameBytes(FramePayload(n));
    if (block.size() >= 1 << 16 || n + 1 == frames) {
      if (!WriteAll(fd, block.data(), block.size())) return;
      sent(block.size());
      block.clear();
    }
  }
}

// Lateness of a 10 ms timer: how long the UI thread kept it waiting.
class StallProbe {
 public:
  StallProbe() {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      const qint64 now = m_clock.nsecsElapsed();
      m_late.push_back(static_cast<double>(std::max<qint64>(0, now - m_last - 10'000'000)) / 1e6);
      m_last = now;
    });
    m_clock.start();
    m_last = m_clock.nsecsElapsed();
    m_timer.start();
  }
  struct Lateness {
    double p99 = 0;  // milliseconds
    double max = 0;
    std::size_t ticks = 0;
  };
  // Since the last call; the samples are added to `all` too.
  Lateness Take(std::vector<double>* all) {
    std::vector<double> late;
    late.swap(m_late);
    all->insert(all->end(), late.begin(), late.end());
    if (late.empty()) return {};
    return {Percentile(late, 0.99), Percentile(late, 1.0), late.size()};
  }

 private:
  QTimer m_timer;
  QElapsedTimer m_clock;
  qint64 m_last = 0;
  std::vector<double> m_late;
};

struct Phase {
  const char* name;
  Clock::time_point start;
  std::uint64_t lines = 0;
  double cpu = 0;
};

// What `cat` drains of the same wire bytes from a raw pseudo-terminal (the master's settings
// are the terminal's). Returns frames/s and CPU s/MB.
std::pair<double, double> MeasureCat(std::uint64_t frames) {
  std::string slave;
  const int master = OpenRawMaster(&slave);
  if (master < 0) return {};
  const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
  std::FILE* cat = popen(("exec cat <" + slave + " >/dev/null 2>&1").c_str(), "w");
  if (cat == nullptr) return {};
  std::uint64_t bytes = 0;
  const auto start = Clock::now();
  WriteFrames(master, frames, [&](std::size_t size) { bytes += size; });
  // Drained once the pty's queue is empty.
  int queued = 1;
  while (queued > 0 && ioctl(master, TIOCOUTQ, &queued) == 0) usleep(1000);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(master);
  pclose(cat);
  const double cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
  return {static_cast<double>(frames) / seconds, cpu / (static_cast<double>(bytes) / 1e6)};
}

// Every line of the recording, in order: sequence numbers and payload counters both run on.
// The protocol ends a frame early where a payload byte equals the running checksum at the end
// of a read; such a line is its own payload cut short, and is counted apart.
bool CheckRecording(const std::filesystem::path& path, std::uint64_t frames) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  std::uint64_t n = 0;
  std::uint64_t cut = 0;
  std::uint64_t expected = 0;
  for (std::uint64_t i = 0; i < frames; ++i) expected += IsNmea(i) ? 0 : 1;
  std::uint64_t seen = 0;
  while (std::getline(file, line)) {
    while (IsNmea(n)) ++n;  // sentences stay out of the file
    const std::string want = FramePayload(n);
    const std::size_t tab = line.rfind('\t');
    const bool numbered = line.rfind(" " + std::to_string(n) + "\t", 0) == 0;
    const std::string got =
        tab == std::string::npos ? std::string() : line.substr(tab + 1, line.size() - tab - 2);
    if (!numbered || line.back() != '\r' || got.empty() || want.compare(0, got.size(), got) != 0) {
      std::printf("recording: line %llu is wrong: %s\n", static_cast<unsigned long long>(n),
                  line.c_str());
      return false;
    }
    cut += got.size() < want.size();
    ++n;
    ++seen;
  }
  std::printf("recording: %llu of %llu lines, in order: %s (%llu cut short by the protocol)\n",
              static_cast<unsigned long long>(seen), static_cast<unsigned long long>(expected),
              seen == expected ? "yes" : "NO", static_cast<unsigned long long>(cut));
  return seen == expected;
}

// One stream in a fresh process each, then cat on the same bytes, and the comparison.
int CompareStreams(const char* self, std::uint64_t frames, qsizetype bound) {
  struct Figures {
    double framesPerSecond = 0, cpuPerMb = 0, p99 = 0, rss = 0;
    bool complete = false;
  };
  std::map<std::string, Figures> figures;
  for (const char* mode : {"plain", "mix"}) {
    std::printf("\n=== %s stream ===\n", mode);
    std::fflush(stdout);
    const std::string command =
        std::string(self) + " " + std::to_string(frames) + " " + std::to_string(bound) + " " + mode;
    std::FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) return 1;
    char line[512];
    while (std::fgets(line, sizeof line, child) != nullptr) {
      std::fputs(line, stdout);
      Figures f;
      int complete = 0;
      if (std::sscanf(line,
                      "summary: %lf frames/s, %lf CPU s/MB, UI p99 %lf ms, RSS at the bound %lf "
                      "MB, complete %d",
                      &f.framesPerSecond, &f.cpuPerMb, &f.p99, &f.rss, &complete) == 5) {
        f.complete = complete == 1;
        figures[mode] = f;
      }
    }
    pclose(child);
  }
  std::printf("\n=== side by side ===\n%-8s %12s %10s %10s %14s\n", "stream", "frames/s",
              "CPU s/MB", "UI p99 ms", "RSS bound MB");
  for (const char* mode : {"plain", "mix"}) {
    const Figures& f = figures[mode];
    std::printf("%-8s %12.0f %10.4f %10.1f %14.1f\n", mode, f.framesPerSecond, f.cpuPerMb, f.p99,
                f.rss);
  }
  for (const char* mode : {"plain", "mix"}) {
    g_mix = std::string(mode) == "mix";
    const auto [catRate, catCpu] = MeasureCat(std::min<std::uint64_t>(frames, 2'000'000));
    std::printf("%-8s %12.0f %10.4f   (cat on the same pty and bytes, %s)\n", "cat", catRate,
                catCpu, mode);
  }
  const Figures& plain = figures["plain"];
  const Figures& mix = figures["mix"];
  if (plain.framesPerSecond <= 0 || plain.cpuPerMb <= 0) return 1;
  const double rate = mix.framesPerSecond / plain.framesPerSecond;
  const double cpu = mix.cpuPerMb / plain.cpuPerMb;
  const bool met = rate >= 0.9 && cpu <= 1.2 && mix.p99 < 16 && plain.p99 < 16 && mix.rss < 120 &&
                   plain.rss < 120;
  std::printf(
      "mix/plain: %.2f of the frames/s (target >= 0.90), %.2f of the CPU per MB "
      "(target <= 1.20); UI p99 < 16 ms, RSS at the bound < 120 MB: %s\n",
      rate, cpu, met ? "all met" : "NOT all met");
  return mix.complete && plain.complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t totalLines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2'500'000;
  const qsizetype bound = argc > 2 ? std::strtoll(argv[2], nullptr, 10) : 52'428'800;
  if (argc <= 3) return CompareStreams(argv[0], totalLines, bound);
  g_mix = std::string(argv[3]) == "mix";
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  char folderName[] = "/tmp/tc-bench-flood-XXXXXX";
  if (mkdtemp(folderName) == nullptr) return 1;
  const std::filesystem::path folder = folderName;
  std::filesystem::create_directories(folder / "ports");  // no other port than the flooded one
  std::string slavePath;
  const int master = OpenRawMaster(&slavePath);
  if (master < 0 || symlink(slavePath.c_str(), (folder / "ports" / "COM97").c_str()) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }

  const auto launched = Clock::now();
  QApplication app(argc, argv);
  CConfigDlg dialog(
      {.roots = {(folder / "sys").string(), (folder / "dev").string(), (folder / "ports").string()},
       .useUdev = false});
  const std::filesystem::path recording = folder / "recording.txt";
  dialog.saveFileHook = [&] { return std::optional<QString>(QString::fromStdString(recording)); };
  std::uint64_t notices = 0;
  dialog.messageBoxHook = [&notices](const QString&, MessageIcon, const QString&) { ++notices; };
  dialog.show();
  dialog.OnInitDialog();
  dialog.Log()->SetCharacterLimit(bound);  // after the window's own setting

  // The greeting reaches the peer: the window is up and talking.
  std::string greeting;
  while (greeting.find("connect ok!#") == std::string::npos &&
         Clock::now() - launched < std::chrono::seconds(20)) {
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, 10) > 0) {
      char buf[512];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) greeting.append(buf, static_cast<std::size_t>(n));
    }
    QCoreApplication::processEvents();
  }
  const double startup = std::chrono::duration<double>(Clock::now() - launched).count();
  std::printf("start-up to the greeting: %.0f ms\n", startup * 1000);

  // Idle: the connected window with nothing arriving.
  {
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    QEventLoop idle;
    QTimer::singleShot(3000, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("idle CPU: %.2f %% of a core\n", (CpuSeconds(RUSAGE_SELF) - cpu0) / 3 * 100);
  }

  // Click to wire: a read button until its frame reaches the peer.
  {
    const auto clicked = Clock::now();
    qobject_cast<QAbstractButton*>(dialog.Control(1056))->click();
    pollfd pfd{master, POLLIN, 0};
    char buf[512];
    if (poll(&pfd, 1, 2000) > 0 && read(master, buf, sizeof buf) > 0) {
      std::printf("click to wire: %.2f ms\n",
                  std::chrono::duration<double, std::milli>(Clock::now() - clicked).count());
    }
  }

  qobject_cast<QAbstractButton*>(dialog.Control(1052))->click();  // record the flood

  // The writer's and the drainer's CPU are the peer's, not the window's: left out.
  std::atomic<std::uint64_t> bytesWritten{0};
  std::atomic<std::uint64_t> wireBytes{0};
  std::atomic<double> peerCpu{0};
  std::thread writer([&] {
    WriteFrames(master, totalLines, [&](std::size_t size) {
      bytesWritten += size;
      wireBytes += size;
    });
    peerCpu = peerCpu + CpuSeconds(RUSAGE_THREAD);
  });
  std::thread drainer([&] {  // the console's own writes must not fill the pty
    char buf[4096];
    while (true) {
      pollfd pfd{master, POLLIN, 0};
      if (poll(&pfd, 1, 200) > 0 && read(master, buf, sizeof buf) <= 0) break;
      if (bytesWritten.load() == UINT64_MAX) break;
    }
    peerCpu = peerCpu + CpuSeconds(RUSAGE_THREAD);
  });

  StallProbe probe;
  std::vector<double> allLate;
  double rssAtBound = 0;
  const auto floodStart = Clock::now();
  const double floodCpu = CpuSeconds(RUSAGE_SELF);
  auto decoded = [&] { return static_cast<std::uint64_t>(dialog.Logic().Decoder().frameSequence); };
  const std::uint64_t lineBytes = LogPayload(100000).size() + 13;
  std::printf("%-26s %10s %10s %9s %9s %8s %6s %9s\n", "phase", "lines", "lines/s", "CPU s/MB",
              "p99 ms", "max ms", "ticks", "RSS MB");
  Phase phase{"below the bound (0-50%)", Clock::now(), 0, CpuSeconds(RUSAGE_SELF)};
  int stage = 0;
  std::uint64_t trimsSeen = 0;
  qsizetype lastCount = 0;
  auto report = [&](const char* next) {
    const auto now = Clock::now();
    const std::uint64_t lines = decoded() - phase.lines;
    const double seconds = std::chrono::duration<double>(now - phase.start).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - phase.cpu;
    const StallProbe::Lateness late = probe.Take(&allLate);
    std::printf("%-26s %10llu %10.0f %9.3f %9.1f %8.1f %6zu %9.1f\n", phase.name,
                static_cast<unsigned long long>(lines), static_cast<double>(lines) / seconds,
                cpu / (static_cast<double>(lines * lineBytes) / 1e6), late.p99, late.max,
                late.ticks, ResidentMegabytes());
    std::fflush(stdout);
    phase = {next, now, decoded(), CpuSeconds(RUSAGE_SELF)};
  };
  while (decoded() < totalLines) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qsizetype count = dialog.Log()->CharacterCount();
    if (count < lastCount) ++trimsSeen;
    lastCount = count;
    if (stage == 0 && count >= bound / 2) {
      report("filling (50-100%)");
      stage = 1;
    } else if (stage == 1 && trimsSeen > 0) {
      report("at the bound (3 trims)");
      rssAtBound = std::max(rssAtBound, ResidentMegabytes());
      stage = 2;
    } else if (stage == 2 && trimsSeen >= 3) {
      report("long past the bound");
      rssAtBound = std::max(rssAtBound, ResidentMegabytes());
      stage = 3;
    }
  }
  report("");
  const double floodSeconds = std::chrono::duration<double>(Clock::now() - floodStart).count();
  const double windowCpuBeforePeer = CpuSeconds(RUSAGE_SELF) - floodCpu;
  if (trimsSeen > 0) rssAtBound = std::max(rssAtBound, ResidentMegabytes());
  const double totalSeconds = std::chrono::duration<double>(Clock::now() - launched).count();
  std::printf("flood: %llu lines in %.1f s after start, %llu trims of the pane, peak RSS ",
              static_cast<unsigned long long>(totalLines), totalSeconds - startup,
              static_cast<unsigned long long>(trimsSeen));
  {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  }
  dialog.Log()->Flush();
  qobject_cast<QAbstractButton*>(dialog.Control(1052))->click();  // stop recording
  bytesWritten = UINT64_MAX;
  writer.join();
  drainer.join();
  const double windowCpu = windowCpuBeforePeer - peerCpu.load();
  const bool complete = CheckRecording(recording, totalLines);
  close(master);
  std::filesystem::remove_all(folder);
  std::printf("notices: %llu\n", static_cast<unsigned long long>(notices));
  std::printf(
      "summary: %.0f frames/s, %.4f CPU s/MB, UI p99 %.1f ms, RSS at the bound %.1f MB, "
      "complete %d\n",
      static_cast<double>(totalLines) / floodSeconds,
      windowCpu / (static_cast<double>(wireBytes.load()) / 1e6),
      allLate.empty() ? 0.0 : Percentile(allLate, 0.99), rssAtBound, complete ? 1 : 0);
  return complete ? 0 : 1;
}
