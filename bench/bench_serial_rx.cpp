// Receive throughput of the serial engine: a pseudo-terminal peer writes a long stream in big
// writes, the monitor thread reads it into slots and hands each to an owner on the UI thread,
// which counts and sums the bytes. Prints sustained MB/s, CPU time per MB, and how far that is
// above what the device's 115200-baud line can deliver.
//
//   bench_serial_rx [megabytes]     (default 256)

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "serial/comm_port.h"
#include "serial/std_ui_dispatcher.h"

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

// The peer's side: big blocking writes, timed on its own thread's CPU clock.
void WriteStream(int master, std::uint64_t total, std::atomic<double>* writerCpu) {
  std::vector<std::uint8_t> block(kWriteSize);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 31 + 7);
  std::uint64_t sent = 0;
  while (sent < total) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), total - sent));
    const ssize_t n = write(master, block.data(), want);
    if (n < 0) {
      std::perror("peer write");
      break;
    }
    sent += static_cast<std::uint64_t>(n);
  }
  *writerCpu = CpuSeconds(RUSAGE_THREAD);
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  const std::uint64_t total = static_cast<std::uint64_t>(megabytes > 0 ? megabytes : 256) << 20;

  char folderName[] = "/tmp/tc-bench-serial-XXXXXX";
  if (mkdtemp(folderName) == nullptr) return 1;
  const std::filesystem::path folder = folderName;
  std::string slavePath;
  const int master = OpenRawMaster(&slavePath);
  if (master < 0 || symlink(slavePath.c_str(), (folder / "COM127").c_str()) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }

  StdUiDispatcher ui;
  CountingOwner owner;
  CCommPort port(ui);
  port.SetDeviceFolders((folder / "dev").string(), folder.string());
  if (port.OpenPort(&owner, kBenchPort, 115200, 'N', 8, 1, 9, 512) != 1 ||
      port.StartMonitor() != 1) {
    std::fprintf(stderr, "open failed: %s\n",
                 serial::ErrnoText(port.LastOpenError().errorCode).c_str());
    return 1;
  }

  const double cpuBefore = CpuSeconds(RUSAGE_SELF);
  const auto start = std::chrono::steady_clock::now();
  std::atomic<double> writerCpu{0.0};
  std::thread writer(WriteStream, master, total, &writerCpu);
  const bool complete = ui.RunUntil([&] { return owner.bytes >= total; }, std::chrono::minutes(5));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
  writer.join();
  port.ClosePort();
  close(master);
  std::filesystem::remove_all(folder);

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
