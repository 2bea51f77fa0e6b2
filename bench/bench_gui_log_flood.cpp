// The real window (offscreen unless a display is asked for) drains, decodes, shows and records
// a flood of device frames on a pseudo-terminal. Two streams, each in a fresh process: mix (log
// lines, status reports, read replies and a GGA/GSA/GSV group after every ninth line) and plain
// (no NMEA). Prints per phase of the pane's bound frames/s, UI stalls (a 10 ms timer's lateness)
// and RSS; the flood's frames/s, CPU s/MB (the writer's left out), whether the recording holds
// every line in order; start-up, click to wire, idle CPU; what `cat` drains of the same bytes.
//
//   bench_gui_log_flood [frames] [character-bound]   (defaults 2,500,000 and 52,428,800)
//   bench_gui_log_flood [frames] [character-bound] mix|plain   (one stream, no cat)

#include <sys/ioctl.h>
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
#include "tests/support/pty_peer.h"
#include "tools/sim/nmea_drive.h"

namespace {

using Count = unsigned long long;

// A log line's payload, numbered so order can be checked.
std::string LogPayload(Count n) {
  return "LOG n=" + std::to_string(n) + " gsm,23,agps,3,gps,7,sim,1 bat=4.12V T=31C";
}

// The receiver's group for second s: position, fix, satellites (their signals wander).
std::string NmeaPayload(Count s, int which) {
  const auto at = [s](int base) { return std::to_string(base + static_cast<int>(s % 7)); };
  char time[16];
  std::snprintf(time, sizeof time, "%02d%02d%02d.00", static_cast<int>(s / 3600 % 24),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  if (which == 0) {
    return sim::WithNmeaChecksum(std::string("GPGGA,") + time + ",3130.52" + at(10) +
                                 ",N,12126.88" + at(40) + ",E,1,04,1.1,12." + at(0) + ",M,8.4,M,,");
  }
  if (which == 1) return sim::WithNmeaChecksum("GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1");
  return sim::WithNmeaChecksum("GPGSV,1,1,04,04,45,120," + at(40) + ",05,30,210," + at(30) +
                               ",09,60,045," + at(20) + ",12,22,180," + at(10));
}

bool g_mix = false;

// What frame n carries. Plain: log lines and, every tenth, a status report. Mix: the same,
// every thousandth line a read reply (its notice opens), and after every ninth line the
// receiver's group, so a block is nine lines and three sentences.
std::string FramePayload(Count n) {
  const Count block = g_mix ? n / 12 : n / 10;
  const Count slot = g_mix ? n % 12 : n % 10;
  if (g_mix && slot >= 9) return NmeaPayload(block, static_cast<int>(slot - 9));
  if (slot == 0) return "AT+uart:gsm," + std::to_string(20 + block % 9) + ",agps,3,gps,7,sim,1#";
  if (g_mix && slot == 4 && block % 100 == 0)
    return "AT+uart:upload," + std::to_string(block) + "#";
  return LogPayload(n);
}

bool IsNmea(Count n) {
  return g_mix && n % 12 >= 9;
}

// Frames 0 .. frames-1 to the peer in blocks of 64 KiB; the bytes written.
Count WriteFrames(PtyPeer& peer, Count frames) {
  Count written = 0;
  std::string block;
  for (Count n = 0; n < frames; ++n) {
    block += linktest::DeviceFrameBytes(FramePayload(n));
    if (block.size() >= 1 << 16 || n + 1 == frames) {
      if (!peer.Write(block)) break;
      written += block.size();
      block.clear();
    }
  }
  return written;
}

// What `cat` drains of the same wire bytes from a raw pseudo-terminal (the master's settings
// are the terminal's). Returns frames/s and CPU s/MB.
std::pair<double, double> MeasureCat(Count frames) {
  PtyPeer peer;
  const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
  std::FILE* cat = peer.ok()
                       ? popen(("exec cat <" + peer.SlavePath() + " >/dev/null 2>&1").c_str(), "w")
                       : nullptr;
  if (cat == nullptr) return {};
  const auto start = Clock::now();
  const Count bytes = WriteFrames(peer, frames);
  // Drained once the pty's queue is empty.
  int queued = 1;
  while (queued > 0 && ioctl(peer.MasterFd(), TIOCOUTQ, &queued) == 0) usleep(1000);
  const double seconds = SecondsSince(start);
  peer.HangUp();
  pclose(cat);
  const double cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
  return {static_cast<double>(frames) / seconds, cpu / (static_cast<double>(bytes) / 1e6)};
}

// Every line of the recording, in order: sequence numbers and payload counters both run on.
// The protocol ends a frame early where a payload byte equals the running checksum at the end
// of a read; such a line is its own payload cut short, and is counted apart.
bool CheckRecording(const std::filesystem::path& path, Count frames) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  Count n = 0, cut = 0, expected = 0, seen = 0;
  for (Count i = 0; i < frames; ++i) expected += IsNmea(i) ? 0 : 1;
  while (std::getline(file, line)) {
    while (IsNmea(n)) ++n;  // sentences stay out of the file
    const std::string want = FramePayload(n);
    const std::size_t tab = line.rfind('\t');
    const bool numbered = line.rfind(" " + std::to_string(n) + "\t", 0) == 0;
    const std::string got =
        tab == std::string::npos ? std::string() : line.substr(tab + 1, line.size() - tab - 2);
    if (!numbered || line.back() != '\r' || got.empty() || want.compare(0, got.size(), got) != 0) {
      std::printf("recording: line %llu is wrong: %s\n", n, line.c_str());
      return false;
    }
    cut += got.size() < want.size();
    ++n;
    ++seen;
  }
  std::printf("recording: %llu of %llu lines, in order: %s (%llu cut short by the protocol)\n",
              seen, expected, seen == expected ? "yes" : "NO", cut);
  return seen == expected;
}

struct Figures {
  double framesPerSecond = 0, cpuPerMb = 0, p99 = 0, rss = 0;
  bool complete = false;
};

double RssMb() {
  return static_cast<double>(StatusKb("self", "VmRSS:")) / 1024;
}

// One stream through the window, in this process.
Figures RunStream(int argc, char** argv, Count totalLines, qsizetype bound) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const ScratchFolder scratch("tc-bench-flood");
  const std::filesystem::path folder = scratch.path();
  PtyPeer peer;  // no other port than the flooded one
  if (folder.empty() || !peer.RegisterAsPort((folder / "ports").string(), 97)) {
    std::perror("pseudo-terminal");
    return {};
  }

  const auto launched = Clock::now();
  QApplication app(argc, argv);
  CConfigDlg dialog(
      {.roots = {(folder / "sys").string(), (folder / "dev").string(), (folder / "ports").string()},
       .useUdev = false});
  const std::filesystem::path recording = folder / "recording.txt";
  dialog.saveFileHook = [&] { return std::optional<QString>(QString::fromStdString(recording)); };
  Count notices = 0;
  dialog.messageBoxHook = [&notices](const QString&, MessageIcon, const QString&) { ++notices; };
  dialog.show();
  dialog.OnInitDialog();
  dialog.Log()->SetCharacterLimit(bound);  // after the window's own setting

  // The greeting reaches the peer: the window is up and talking.
  std::string greeting;
  while (greeting.find("connect ok!#") == std::string::npos && SecondsSince(launched) < 20) {
    greeting += peer.ReadUntilQuiet(std::chrono::milliseconds(10));
    QCoreApplication::processEvents();
  }
  const double startup = SecondsSince(launched);
  std::printf("start-up to the greeting: %.0f ms\n", startup * 1000);

  // Idle: the connected window with nothing arriving.
  const double idleCpu = CpuSeconds(RUSAGE_SELF);
  QEventLoop idle;
  QTimer::singleShot(3000, &idle, &QEventLoop::quit);
  idle.exec();
  std::printf("idle CPU: %.2f %% of a core\n", (CpuSeconds(RUSAGE_SELF) - idleCpu) / 3 * 100);

  // Click to wire: a read button until its frame reaches the peer.
  const auto clicked = Clock::now();
  qobject_cast<QAbstractButton*>(dialog.Control(1056))->click();
  if (!peer.ReadExactly(1, std::chrono::milliseconds(2000)).empty()) {
    std::printf("click to wire: %.2f ms\n", MsSince(clicked));
  }

  qobject_cast<QAbstractButton*>(dialog.Control(1052))->click();  // record the flood

  // The writer's and the drainer's CPU are the peer's, not the window's: left out.
  std::atomic<Count> wireBytes{0};
  std::atomic<bool> flooded{false};
  std::atomic<double> peerCpu{0};
  std::thread writer([&] {
    wireBytes = WriteFrames(peer, totalLines);
    peerCpu += CpuSeconds(RUSAGE_THREAD);
  });
  std::thread drainer([&] {  // the console's own writes must not fill the pty
    while (!flooded) peer.ReadUntilQuiet(std::chrono::milliseconds(200));
    peerCpu += CpuSeconds(RUSAGE_THREAD);
  });

  // Lateness of a 10 ms timer: how long the UI thread kept it waiting, in ms.
  std::vector<double> late, allLate;
  QElapsedTimer clock;
  qint64 lastTick = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    late.push_back(static_cast<double>(std::max<qint64>(0, now - lastTick - 10'000'000)) / 1e6);
    lastTick = now;
  });
  clock.start();
  tick.start(10);

  const char* const phases[] = {"below the bound (0-50%)", "filling (50-100%)",
                                "at the bound (3 trims)", "long past the bound"};
  auto decoded = [&] { return static_cast<Count>(dialog.Logic().Decoder().frameSequence); };
  const Count lineBytes = LogPayload(100000).size() + 13;
  std::printf("%-26s %10s %10s %9s %9s %8s %6s %9s\n", "phase", "lines", "lines/s", "CPU s/MB",
              "p99 ms", "max ms", "ticks", "RSS MB");
  const auto floodStart = Clock::now();
  const double floodCpu = CpuSeconds(RUSAGE_SELF);
  struct {
    Clock::time_point start;
    Count lines;
    double cpu;
  } phase{floodStart, 0, floodCpu};
  int stage = 0;
  auto report = [&] {
    const Count lines = decoded() - phase.lines;
    const double cpu = CpuSeconds(RUSAGE_SELF) - phase.cpu;
    allLate.insert(allLate.end(), late.begin(), late.end());
    std::printf("%-26s %10llu %10.0f %9.3f %9.1f %8.1f %6zu %9.1f\n", phases[stage], lines,
                static_cast<double>(lines) / SecondsSince(phase.start),
                cpu / (static_cast<double>(lines * lineBytes) / 1e6),
                late.empty() ? 0 : Percentile(late, 0.99), late.empty() ? 0 : Percentile(late, 1),
                late.size(), RssMb());
    std::fflush(stdout);
    late.clear();
    phase = {Clock::now(), decoded(), CpuSeconds(RUSAGE_SELF)};
    ++stage;
  };
  Count trimsSeen = 0;
  qsizetype lastCount = 0;
  double rssAtBound = 0;
  while (decoded() < totalLines) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qsizetype count = dialog.Log()->CharacterCount();
    if (count < lastCount) ++trimsSeen;
    lastCount = count;
    if ((stage == 0 && count >= bound / 2) || (stage == 1 && trimsSeen > 0) ||
        (stage == 2 && trimsSeen >= 3)) {
      report();
      if (stage > 1) rssAtBound = std::max(rssAtBound, RssMb());
    }
  }
  report();
  const double floodSeconds = SecondsSince(floodStart);
  const double windowCpuBeforePeer = CpuSeconds(RUSAGE_SELF) - floodCpu;
  if (trimsSeen > 0) rssAtBound = std::max(rssAtBound, RssMb());
  std::printf("flood: %llu lines in %.1f s after start, %llu trims of the pane, peak RSS %.1f MB\n",
              totalLines, SecondsSince(launched) - startup, trimsSeen,
              static_cast<double>(StatusKb("self", "VmHWM:")) / 1024);
  dialog.Log()->Flush();
  qobject_cast<QAbstractButton*>(dialog.Control(1052))->click();  // stop recording
  flooded = true;
  writer.join();
  drainer.join();
  const Figures figures{static_cast<double>(totalLines) / floodSeconds,
                        (windowCpuBeforePeer - peerCpu) / (static_cast<double>(wireBytes) / 1e6),
                        allLate.empty() ? 0.0 : Percentile(allLate, 0.99), rssAtBound,
                        CheckRecording(recording, totalLines)};
  std::printf("notices: %llu\n", notices);
  std::printf(
      "summary: %.0f frames/s, %.4f CPU s/MB, UI p99 %.1f ms, RSS at the bound %.1f MB, "
      "complete %d\n",
      figures.framesPerSecond, figures.cpuPerMb, figures.p99, figures.rss, figures.complete);
  return figures;
}

// Each stream in a fresh process, launched as the window is, then cat on the same bytes, and the
// comparison.
int CompareStreams(const char* self, Count frames, qsizetype bound) {
  Figures plain, mix;
  for (Figures* stream : {&plain, &mix}) {
    const char* mode = stream == &mix ? "mix" : "plain";
    std::printf("\n=== %s stream ===\n", mode);
    std::fflush(stdout);
    const std::string command =
        std::string(self) + " " + std::to_string(frames) + " " + std::to_string(bound) + " " + mode;
    std::FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) return 1;
    char line[512];
    while (std::fgets(line, sizeof line, child) != nullptr) {
      std::fputs(line, stdout);
      int complete = 0;
      if (std::sscanf(line,
                      "summary: %lf frames/s, %lf CPU s/MB, UI p99 %lf ms, RSS at the bound %lf "
                      "MB, complete %d",
                      &stream->framesPerSecond, &stream->cpuPerMb, &stream->p99, &stream->rss,
                      &complete) == 5) {
        stream->complete = complete == 1;
      }
    }
    pclose(child);
  }
  std::printf("\n=== side by side ===\n%-8s %12s %10s %10s %14s\n", "stream", "frames/s",
              "CPU s/MB", "UI p99 ms", "RSS bound MB");
  for (const Figures* f : {&plain, &mix}) {
    std::printf("%-8s %12.0f %10.4f %10.1f %14.1f\n", f == &mix ? "mix" : "plain",
                f->framesPerSecond, f->cpuPerMb, f->p99, f->rss);
  }
  for (const bool withNmea : {false, true}) {
    g_mix = withNmea;
    const auto [catRate, catCpu] = MeasureCat(std::min<Count>(frames, 2'000'000));
    std::printf("%-8s %12.0f %10.4f   (cat on the same pty and bytes, %s)\n", "cat", catRate,
                catCpu, withNmea ? "mix" : "plain");
  }
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
  const auto totalLines = static_cast<Count>(Argument(argc, argv, 1, 2'500'000));
  const auto bound = static_cast<qsizetype>(Argument(argc, argv, 2, 52'428'800));
  if (argc <= 3) return CompareStreams(argv[0], totalLines, bound);
  g_mix = std::string(argv[3]) == "mix";
  return RunStream(argc, argv, totalLines, bound).complete ? 0 : 1;
}
