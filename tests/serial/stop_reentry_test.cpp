// Stopping the monitor thread from inside the wait of another stop: handlers that run in
// that wait (device notices, in the console) close, reopen and restart the port, nested and
// in batches, while the tracker keeps sending. Every stop ends with no thread and no port,
// and nothing leaks.

#include <filesystem>
#include <thread>

#include "tests/serial/serial_fixture.h"

namespace {

std::size_t Entries(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

class StopReentry : public SerialTest {
 protected:
  // Posts the next step first; this step's close then waits for a delivery in progress, and
  // the next step runs inside that wait.
  void NestedStep(CCommPort& port, int left) {
    if (left == 0) return;
    ui.Post([this, &port, left] { NestedStep(port, left - 1); });
    ++steps;
    maxDepth = std::max(maxDepth, ++depth);
    if (Open(port) == 1 && port.StartMonitor() == 1) AwaitDelivery();
    port.ClosePort();
    --depth;
  }
  void AwaitDelivery() {
    const int before = counting.posts;
    EXPECT_TRUE(peer.Write("x"));
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (counting.posts == before && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
  CountingUi counting{ui};
  int steps = 0;
  int depth = 0;
  int maxDepth = 0;
};

TEST_F(StopReentry, StopsNestedAndBatchedInsideAStopEndWithNothingRunning) {
  const struct {
    const char* description;
    int nestedDepth;  // one chain of steps, each inside the previous one's close
    int batched;      // single steps posted together
  } rows[] = {
      {"a plain close inside the close's wait", 0, 0},
      {"a close that reopens and restarts: the outer stop stops the new thread", 1, 0},
      {"150 stops nested inside each other", 150, 0},
      {"150 handlers read together, each running inside the previous one's wait", 0, 150},
  };
  // Counted after the first row: a sanitizer's runtime starts a thread of its own on first use.
  std::size_t fdsBefore = 0;
  std::size_t threadsBefore = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.description);
    steps = maxDepth = 0;
    auto port = MakePort(&counting);
    ASSERT_EQ(Open(*port), 1);
    ASSERT_EQ(port->StartMonitor(), 1);
    ui.Post([&] { port->ClosePort(); });
    if (row.nestedDepth > 0) ui.Post([&] { NestedStep(*port, row.nestedDepth); });
    for (int i = 0; i < row.batched; ++i) ui.Post([&] { NestedStep(*port, 1); });
    AwaitDelivery();
    port->ClosePort();
    const int expected = row.nestedDepth + row.batched;
    ui.RunUntil([&] { return steps >= expected; }, kPatience);
    port->ClosePort();
    EXPECT_EQ(steps, expected);
    EXPECT_GE(maxDepth, row.nestedDepth);
    EXPECT_FALSE(port->IsMonitoring());
    EXPECT_FALSE(port->IsOpen());
    port.reset();
    peer.ReadUntilQuiet(std::chrono::milliseconds(20));
    if (threadsBefore == 0) {
      fdsBefore = Entries("/proc/self/fd");
      threadsBefore = Entries("/proc/self/task");
    }
  }
  EXPECT_EQ(Entries("/proc/self/fd"), fdsBefore);
  EXPECT_EQ(Entries("/proc/self/task"), threadsBefore);
}

}  // namespace
