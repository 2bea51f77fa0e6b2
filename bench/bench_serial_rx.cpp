// Receive throughput of the serial engine: a pseudo-terminal peer writes a long stream in big
// writes, the monitor thread reads it into slots and hands each to an owner on the UI thread,
// which counts and sums the bytes. Prints sustained MB/s, CPU time per MB, and how far that is
// above what the device's 115200-baud line can deliver.
//
//   bench_serial_rx [megabytes]     (default 256)

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "serial/comm_port.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/pty_peer.h"

namespace {

constexpr int kBenchPort = 127;
constexpr std::size_t kWriteSize = 1 << 16;
constexpr double kLineBytesPerSecond = 115200.0 / 10.0;  // 8N1: ten bits a byte

class CountingOwner final : public PortOwner {
 public:
  void OnPortData(const RxSlot& slot, int /*portNumber*/) override {
    for (std::int32_t i = 0; i < slot.byteCount; ++i) sum += slot.bytes[i];
    bytes += static_cast<std::uint64_t>(slot.byteCount);
    ++slots;
  }
  void ShowPortError(const std::string& text) override {
    std::fprintf(stderr, "port error: %s\n", text.c_str());
  }
  std::uint64_t bytes = 0;
  std::uint64_t slots = 0;
  std::uint64_t sum = 0;
};

// The peer's side: big writes, timed on its own thread's CPU clock.
void WriteStream(PtyPeer& peer, std::uint64_t total, std::atomic<double>* writerCpu) {
  std::string block(kWriteSize, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
  for (std::uint64_t sent = 0; sent < total; sent += block.size()) {
    if (!peer.Write(std::string_view(block).substr(0, total - sent))) {
      std::perror("peer write");
      break;
    }
  }
  *writerCpu = CpuSeconds(RUSAGE_THREAD);
}

}  // namespace

int main(int argc, char** argv) {
  const long long megabytes = Argument(argc, argv, 1, 256);
  const std::uint64_t total = static_cast<std::uint64_t>(megabytes > 0 ? megabytes : 256) << 20;
  const ScratchFolder folder("tc-bench-serial");
  PtyPeer peer;
  if (folder.path().empty() || !peer.RegisterAsPort(folder.path(), kBenchPort)) {
    std::perror("pseudo-terminal");
    return 1;
  }

  StdUiDispatcher ui;
  CountingOwner owner;
  CCommPort port(ui);
  port.SetDeviceFolders(folder.path() + "/dev", folder.path());
  if (port.OpenPort(&owner, kBenchPort, 115200, 'N', 8, 1, 9, 512) != 1 ||
      port.StartMonitor() != 1) {
    std::fprintf(stderr, "open failed: %s\n",
                 serial::ErrnoText(port.LastOpenError().errorCode).c_str());
    return 1;
  }

  const double cpuBefore = CpuSeconds(RUSAGE_SELF);
  const auto start = Clock::now();
  std::atomic<double> writerCpu{0.0};
  std::thread writer([&] { WriteStream(peer, total, &writerCpu); });
  const bool complete = ui.RunUntil([&] { return owner.bytes >= total; }, std::chrono::minutes(5));
  const double seconds = SecondsSince(start);
  const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
  writer.join();
  port.ClosePort();

  const double mb = static_cast<double>(owner.bytes) / 1e6;
  const double rate = mb / seconds;
  const double engineCpu = cpu - writerCpu.load();
  std::printf("bench_serial_rx: %.1f MB through a pseudo-terminal in %.3f s%s\n", mb, seconds,
              complete ? "" : " (INCOMPLETE)");
  std::printf("  throughput          %.1f MB/s\n", rate);
  std::printf(
      "  slots delivered     %llu (%.0f bytes each on average)\n",
      static_cast<unsigned long long>(owner.slots),
      static_cast<double>(owner.bytes) / static_cast<double>(owner.slots ? owner.slots : 1));
  std::printf("  CPU per MB          %.2f ms (process), %.2f ms (without the peer's writes)\n",
              1000.0 * cpu / mb, 1000.0 * engineCpu / mb);
  std::printf("  vs 115200 baud      %.0f x the line's %.1f kB/s\n",
              rate * 1e6 / kLineBytesPerSecond, kLineBytesPerSecond / 1000.0);
  std::printf("  checksum            %llu\n", static_cast<unsigned long long>(owner.sum));
  return complete ? 0 : 1;
}
