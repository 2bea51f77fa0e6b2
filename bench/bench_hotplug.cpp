// Plug storms through real pseudo-terminals: a virtual tracker is plugged in, sends a frame,
// and is pulled out, again and again, while the console's logic follows the notices. Prints
// the reconnect time (plug to connected, settle wait set to 0) as median and p99, and the
// descriptors and threads before and after; any growth or a missed reconnect is a failure.
// Usage: bench_hotplug [cycles]   (default 1000)

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/config_logic.h"
#include "serial/std_ui_dispatcher.h"
#include "tools/sim/device_frame.h"
#include "tools/sim/virtual_port.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the operator would see, reduced to what the benchmark needs.
class CountingSurface : public DialogSurface {
 public:
  void UpdateData(bool) override {}
  void MessageBox(const std::string&, MessageIcon, const std::string&) override { ++boxes; }
  void StartNoticeTimer(int) override {}
  void KillNoticeTimer() override {}
  void AppendToLogPane(const std::string& text) override { lines += text.empty() ? 0 : 1; }
  std::string LogPaneText() override { return {}; }
  void ClearLogPane() override {}
  void SetUpdateIndicator(bool) override {}
  std::optional<std::string> AskLogFileName() override { return std::nullopt; }
  void ShowPortProblem(const std::string&) override {}
  void ShowPortDetails(const std::string&) override {}
  int boxes = 0;
  long lines = 0;
};

std::size_t Entries(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// Runs the UI loop, handing readable notices to the logic, until `done` or 10 s.
bool RunUntil(StdUiDispatcher& ui, ConfigLogic& logic, const std::function<bool()>& done) {
  const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (Clock::now() > end) return false;
    if (ui.RunUntil(done, std::chrono::milliseconds(1))) return true;
    pollfd notices{logic.DeviceNoticeFd(), POLLIN, 0};
    if (::poll(&notices, 1, 0) > 0) logic.OnDeviceNoticesReadable();
  }
  return true;
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  char root[] = "/tmp/tc-bench-hotplug-XXXXXX";
  if (::mkdtemp(root) == nullptr) return 1;
  ConsoleEnvironment env;
  env.roots = {std::string(root) + "/sys", std::string(root) + "/dev",
               std::string(root) + "/ports"};
  env.useUdev = false;
  env.settleMilliseconds = 0;
  env.lockFolder = root;
  StdUiDispatcher ui;
  DialogState state;
  CountingSurface surface;
  std::vector<double> reconnectMs;
  std::size_t fdsBefore = 0;
  std::size_t threadsBefore = 0;
  std::size_t fdsAfter = 0;
  std::size_t threadsAfter = 0;
  int failures = 0;
  {
    ConfigLogic logic(state, surface, ui, env);
    logic.OnInitDialog();
    fdsBefore = Entries("/proc/self/fd");
    threadsBefore = Entries("/proc/self/task");
    const auto connected = [&] { return state.m_linkState == T(kLinkConnected); };
    const std::vector<std::uint8_t> frame =
        *sim::EncodeDeviceFrame("AT+uart:gsm,20,agps,3,gps,7,sim,1#");
    for (int cycle = 0; cycle < cycles; ++cycle) {
      sim::VirtualPort tracker;
      std::string error;
      const Clock::time_point plugged = Clock::now();
      if (!tracker.Plug(env.roots.portsFolder, 97, &error) || !RunUntil(ui, logic, connected)) {
        ++failures;
        continue;
      }
      reconnectMs.push_back(
          std::chrono::duration<double, std::milli>(Clock::now() - plugged).count());
      const long linesBefore = surface.lines;
      if (::write(tracker.masterFd(), frame.data(), frame.size()) < 0 ||
          !RunUntil(ui, logic, [&] { return surface.lines > linesBefore; })) {
        ++failures;
      }
      tracker.Unplug();
      if (!RunUntil(ui, logic, [&] { return !connected() && !logic.Port().IsOpen(); })) ++failures;
    }
    fdsAfter = Entries("/proc/self/fd");
    threadsAfter = Entries("/proc/self/task");
  }
  std::filesystem::remove_all(root);
  std::printf("cycles %d, failures %d, boxes %d\n", cycles, failures, surface.boxes);
  if (!reconnectMs.empty()) {
    std::printf("reconnect ms: median %.2f  p99 %.2f  max %.2f\n", Percentile(reconnectMs, 0.5),
                Percentile(reconnectMs, 0.99), Percentile(reconnectMs, 1.0));
  }
  std::printf("descriptors %zu -> %zu, threads %zu -> %zu\n", fdsBefore, fdsAfter, threadsBefore,
              threadsAfter);
  return failures == 0 && fdsAfter == fdsBefore && threadsAfter == threadsBefore ? 0 : 1;
}
