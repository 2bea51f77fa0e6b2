// The log pane at the port's pace: a writer floods a real pseudo-terminal with device frames,
// the real window (offscreen unless a display is asked for) drains, decodes, displays and
// records them. Prints, before, at and long past the pane's bound:
//   - lines/s drained and displayed, CPU seconds per MB on the wire;
//   - the UI thread's stalls (a 10 ms probe timer's lateness, p99 and max);
//   - resident memory;
// then checks that a recording made during the flood holds every line, in order, and measures
// what `cat` drains from the same kind of pseudo-terminal for the ratio. Start-up to the
// greeting, click to wire and idle CPU are printed too.
//
//   bench_gui_log_flood [lines] [character-bound]   (defaults 2,500,000 and 52,428,800)

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

// The payload of line n: a tracker's status line, numbered so order can be checked.
std::string Payload(std::uint64_t n) {
  return "LOG n=" + std::to_string(n) + " gsm,23,agps,3,gps,7,sim,1 bat=4.12V T=31C";
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
  // Since the last call.
  Lateness Take() {
    std::vector<double> late;
    late.swap(m_late);
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

// What `cat` drains from a raw pseudo-terminal (the master's settings are the terminal's): the
// same payloads as text lines.
void MeasureCat(std::uint64_t lines) {
  std::string slave;
  const int master = OpenRawMaster(&slave);
  if (master < 0) return;
  const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
  std::FILE* cat = popen(("exec cat <" + slave + " >/dev/null 2>&1").c_str(), "w");
  if (cat == nullptr) return;
  std::string block;
  std::uint64_t bytes = 0;
  const auto start = Clock::now();
  for (std::uint64_t n = 0; n < lines; ++n) {
    block += Payload(n);
    block += "\r\n";
    if (block.size() >= 1 << 16 || n + 1 == lines) {
      WriteAll(master, block.data(), block.size());
      bytes += block.size();
      block.clear();
    }
  }
  // Drained once the pty's queue is empty.
  int queued = 1;
  while (queued > 0 && ioctl(master, TIOCOUTQ, &queued) == 0) usleep(1000);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(master);
  pclose(cat);
  const double cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
  std::printf("cat on the pty:            %9.0f lines/s, %.4f CPU s/MB (%llu lines)\n",
              static_cast<double>(lines) / seconds, cpu / (static_cast<double>(bytes) / 1e6),
              static_cast<unsigned long long>(lines));
}

// Every line of the recording, in order: sequence numbers and payload counters both run on.
// The protocol ends a frame early where a payload byte equals the running checksum at the end
// of a read; such a line is its own payload cut short, and is counted apart.
bool CheckRecording(const std::filesystem::path& path, std::uint64_t expected) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  std::uint64_t n = 0;
  std::uint64_t cut = 0;
  while (std::getline(file, line)) {
    const std::string want = Payload(n);
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
  }
  std::printf("recording: %llu of %llu lines, in order: %s (%llu cut short by the protocol)\n",
              static_cast<unsigned long long>(n), static_cast<unsigned long long>(expected),
              n == expected ? "yes" : "NO", static_cast<unsigned long long>(cut));
  return n == expected;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t totalLines = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2'500'000;
  const qsizetype bound = argc > 2 ? std::strtoll(argv[2], nullptr, 10) : 52'428'800;
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
  dialog.messageBoxHook = [](const QString& text, MessageIcon, const QString&) {
    std::printf("box: %s\n", qPrintable(text));
  };
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

  std::atomic<std::uint64_t> bytesWritten{0};
  std::thread writer([&] {
    std::string block;
    for (std::uint64_t n = 0; n < totalLines; ++n) {
      block += linktest::DeviceFrameBytes(Payload(n));
      if (block.size() >= 1 << 16 || n + 1 == totalLines) {
        if (!WriteAll(master, block.data(), block.size())) return;
        bytesWritten += block.size();
        block.clear();
      }
    }
  });
  std::thread drainer([&] {  // the console's own writes must not fill the pty
    char buf[4096];
    while (true) {
      pollfd pfd{master, POLLIN, 0};
      if (poll(&pfd, 1, 200) > 0 && read(master, buf, sizeof buf) <= 0) return;
      if (bytesWritten.load() == UINT64_MAX) return;
    }
  });

  StallProbe probe;
  auto decoded = [&] { return static_cast<std::uint64_t>(dialog.Logic().Decoder().frameSequence); };
  const std::uint64_t lineBytes = Payload(100000).size() + 13;
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
    const StallProbe::Lateness late = probe.Take();
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
      stage = 2;
    } else if (stage == 2 && trimsSeen >= 3) {
      report("long past the bound");
      stage = 3;
    }
  }
  report("");
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
  const bool complete = CheckRecording(recording, totalLines);
  close(master);
  std::filesystem::remove_all(folder);

  MeasureCat(std::min<std::uint64_t>(totalLines, 2'000'000));
  return complete ? 0 : 1;
}
