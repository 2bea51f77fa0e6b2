// Plug storms through real pseudo-terminals: a virtual tracker is plugged in, sends a frame
// and is pulled out, again and again, while the console's logic follows the notices. Prints
// the reconnect time (plug to connected, settle wait 0) as its spread, and descriptors
// and threads before and after; a missed step or any growth fails.
// Usage: bench_hotplug [cycles]   (default 1000)

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "bench/bench_util.h"
#include "tests/support/console_harness.h"
#include "tools/sim/device_frame.h"
#include "tools/sim/virtual_port.h"

namespace {

std::size_t Entries(const char* folder) {
  const std::filesystem::directory_iterator all(folder);
  return static_cast<std::size_t>(std::distance(begin(all), end(all)));
}

}  // namespace

int main(int argc, char** argv) {
  const auto cycles = static_cast<int>(Argument(argc, argv, 1, 1000));
  ConsoleHarness h(0);
  h.logic.OnInitDialog();
  const std::size_t fdsBefore = Entries("/proc/self/fd");
  const std::size_t threadsBefore = Entries("/proc/self/task");
  const auto connected = [&] { return h.state.m_linkState == T(kLinkConnected); };
  const auto frame = *sim::EncodeDeviceFrame("AT+uart:gsm,20,agps,3,gps,7,sim,1#");
  std::vector<double> reconnectMs;
  int failures = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    sim::VirtualPort tracker;
    std::string error;
    const auto plugged = Clock::now();
    const int appends = h.surface.paneAppends;
    // Connected once the tracker has answered: it talks as soon as the port is open.
    if (tracker.Plug(h.PortsFolder(), 97, &error) &&
        h.RunUntil([&] { return h.logic.Port().IsOpen(); }) &&
        ::write(tracker.masterFd(), frame.data(), frame.size()) >= 0 &&
        h.RunUntil([&] { return connected() && h.surface.paneAppends > appends; })) {
      reconnectMs.push_back(MsSince(plugged));
    } else {
      ++failures;
    }
    tracker.Unplug();
    if (!h.RunUntil([&] { return !connected() && !h.logic.Port().IsOpen(); })) ++failures;
  }
  const std::size_t fdsAfter = Entries("/proc/self/fd");
  const std::size_t threadsAfter = Entries("/proc/self/task");
  std::printf("cycles %d, failures %d, boxes %zu\n", cycles, failures, h.surface.boxes.size());
  PrintSpread("reconnect (plug to connected)", reconnectMs);
  std::printf("descriptors %zu -> %zu, threads %zu -> %zu\n", fdsBefore, fdsAfter, threadsBefore,
              threadsAfter);
  return failures == 0 && fdsAfter == fdsBefore && threadsAfter == threadsBefore ? 0 : 1;
}
