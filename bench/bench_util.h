#pragma once
// What the benchmarks measure with: clocks, CPU time, a process's memory, percentiles, a scratch
// folder and their numeric arguments.

#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double MsSince(Clock::time_point start) {
  return SecondsSince(start) * 1000;
}

// User and system CPU seconds of RUSAGE_SELF, RUSAGE_THREAD, ...
inline double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A field of /proc/<process>/status in kB, e.g. "VmRSS:" or "VmHWM:"; -1 when missing.
inline long StatusKb(const std::string& process, const std::string& field) {
  std::ifstream status("/proc/" + process + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

inline double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// One line of a measure's spread, in milliseconds, with its target when it has one.
inline void PrintSpread(const char* what, const std::vector<double>& ms, const char* target = "") {
  if (ms.empty()) return static_cast<void>(std::printf("%-44s no samples\n", what));
  std::printf("%-44s p50 %8.2f  p95 %8.2f  p99 %8.2f  max %8.2f ms (%zu)%s\n", what,
              Percentile(ms, 0.5), Percentile(ms, 0.95), Percentile(ms, 0.99), Percentile(ms, 1.0),
              ms.size(), target);
}

// argv[index] as a number, or `fallback` when not given.
inline long long Argument(int argc, char** argv, int index, long long fallback) {
  return argc > index ? std::atoll(argv[index]) : fallback;
}

// A fresh folder under the temporary directory, removed with the object; empty path on failure.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_((std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string()) {
    if (mkdtemp(path_.data()) == nullptr) path_.clear();
  }
  ~ScratchFolder() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};
