#pragma once
// What several benchmarks measure with: CPU time, a raw pseudo-terminal, percentiles.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>

#include <algorithm>
#include <string>
#include <vector>

// User and system CPU seconds of RUSAGE_SELF, RUSAGE_THREAD, ...
inline double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A raw pseudo-terminal's master; -1 on failure.
inline int OpenRawMaster(std::string* slavePath) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128] = {};
  termios raw{};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0 || tcgetattr(master, &raw) != 0) {
    return -1;
  }
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  *slavePath = name;
  return master;
}

inline double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}
