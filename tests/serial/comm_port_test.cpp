// CCommPort and its monitor thread against a real pseudo-terminal: open and close, the receive
// ring and its hand-over, the write queue, unplug, and stopping in every state.

#include <thread>

#include "tests/serial/serial_fixture.h"

namespace {

using serial::PortStatus;

class CommPortTest : public SerialTest {};

TEST_F(CommPortTest, ReportsWhyAPortCouldNotBeOpened) {
  struct Row {
    const char* what;
    int portNumber;
    unsigned baud;
    PortStatus status;
  };
  const Row rows[] = {
      {"the close step's port 50, nothing opened before", 50, 9600, PortStatus::kNoDevice},
      {"a number no device can have", 200, 115200, PortStatus::kNoDevice},
      {"an unregistered virtual port", 98, 115200, PortStatus::kNoDevice},
      {"an unsupported baud rate", kTestPort, 12345, PortStatus::kBadArgument},
  };
  for (const Row& row : rows) {
    auto port = MakePort();
    port->ClosePort();  // closing what was never opened does nothing
    EXPECT_EQ(Open(*port, row.portNumber, row.baud), 0) << row.what;
    EXPECT_EQ(port->LastOpenError().status, row.status) << row.what;
    EXPECT_FALSE(port->IsOpen()) << row.what;
    EXPECT_EQ(port->StartMonitor(), 0) << row.what;
  }
  EXPECT_TRUE(owner.errors.empty());
}

// Bytes that wait before the thread starts come as a burst. A pseudo-terminal hands over at
// most 4095 bytes per read, so the slots here stay below the 4900-byte limit.
TEST_F(CommPortTest, DrainsAFloodSlotBySlotAndSendsAWriteBetweenTwoSlots) {
  auto port = MakePort();
  owner.port = port.get();
  ASSERT_EQ(Open(*port), 1);
  const std::string burst = Pattern(10000);
  ASSERT_TRUE(peer.Write(burst));
  const std::string frame = Pattern(271, 11);
  std::string atDevice;
  // Asked for in the first slot's handler; it is at the device before the second slot is read.
  owner.onData = [&](const RxSlot&) {
    if (owner.slots.size() == 1) port->QueueWrite(frame.data(), static_cast<int>(frame.size()));
    if (owner.slots.size() == 2) atDevice = peer.ReadExactly(frame.size(), std::chrono::seconds(3));
  };
  ASSERT_EQ(port->StartMonitor(), 1);
  ASSERT_TRUE(RunUntil([&] { return owner.AllData().size() >= burst.size(); }));

  EXPECT_EQ(owner.AllData(), burst);
  EXPECT_EQ(atDevice, frame) << "a write goes out between two slots of a flood";
  ASSERT_GE(owner.slots.size(), 3u);
  for (std::size_t i = 0; i < owner.slots.size(); ++i) {
    const SeenSlot& slot = owner.slots[i];
    SCOPED_TRACE(i);
    EXPECT_GE(slot.byteCount, 1);
    EXPECT_LE(slot.byteCount, kMaxReadSize);
    EXPECT_TRUE(slot.zeroAfterData);
    EXPECT_EQ(slot.portNumber, kTestPort);
    // The index moves on only once the handler has returned.
    const int index = static_cast<int>(i % kRxSlotCount);
    EXPECT_EQ(slot.address, port->RxSlotAt(index));
    EXPECT_EQ(slot.slotIndexDuringCall, index);
  }
}

TEST_F(CommPortTest, UsesTheTwentySlotsInTurnAndCarriesTheIndexAcrossReopening) {
  auto port = StartedPort();
  for (int i = 0; i < 25; ++i) {
    ASSERT_TRUE(peer.Write(std::string(1, static_cast<char>('a' + i))));
    ASSERT_TRUE(RunUntil([&] { return owner.slots.size() == static_cast<std::size_t>(i + 1); }));
    EXPECT_EQ(owner.slots[i].address, port->RxSlotAt(i % kRxSlotCount)) << i;
    EXPECT_NE(owner.slots[i].address, i > 0 ? owner.slots[i - 1].address : nullptr) << i;
  }
  EXPECT_EQ(owner.AllData(), "abcdefghijklmnopqrstuvwxy");

  port->ClosePort();
  ASSERT_EQ(Open(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  ASSERT_TRUE(peer.Write("z"));
  ASSERT_TRUE(RunUntil([&] { return owner.slots.size() == 26; }));
  EXPECT_EQ(owner.slots.back().address, port->RxSlotAt(5)) << "the index is never reset";
}

TEST_F(CommPortTest, QueuedFramesReachTheDeviceWholeAndInOrder) {
  struct Row {
    const char* what;
    int count;
    std::size_t length;
  };
  const Row rows[] = {
      {"greeting and test request back to back", 2, 271},
      {"a hundred frames in a rush", 100, 271},
      {"a hundred full buffers", 100, 512},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto port = StartedPort();
    std::string expected;
    for (int i = 0; i < row.count; ++i) {
      const std::string frame = Pattern(row.length, static_cast<unsigned>(i * 7));
      ASSERT_EQ(port->QueueWrite(frame.data(), static_cast<int>(frame.size())), 1);
      expected += frame;
    }
    EXPECT_EQ(peer.ReadExactly(expected.size()), expected);
  }
}

TEST_F(CommPortTest, QueueWriteRefusesBlocksOutsideTheBuffer) {
  auto port = MakePort();
  const std::string big(513, 'x');
  EXPECT_EQ(port->QueueWrite("a", 1), 0) << "no buffer before the first open";
  ASSERT_EQ(Open(*port), 1) << serial::ErrnoText(port->LastOpenError().errorCode);
  ASSERT_EQ(port->StartMonitor(), 1);
  struct Row {
    const char* what;
    const char* bytes;
    int length;
    int result;
  };
  const Row rows[] = {
      {"one byte past the capacity", big.data(), 513, 0},
      {"negative length", big.data(), -1, 0},
      {"bytes missing", nullptr, 4, 0},
      {"empty write", "", 0, 1},
      {"exactly the capacity", big.data(), 512, 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(port->QueueWrite(row.bytes, row.length), row.result) << row.what;
  }
  ASSERT_EQ(port->QueueWrite("end", 3), 1);
  EXPECT_EQ(peer.ReadExactly(515), std::string(512, 'x') + "end");
}

// A hung-up tty reads as zero bytes and refuses writes with EIO: both are an unplug.
TEST_F(CommPortTest, AnUnplugEndsTheThreadAndTheOwnerMayCloseAndReopen) {
  for (const bool duringWrite : {false, true}) {
    SCOPED_TRACE(duringWrite ? "pulled with a write on its way" : "pulled while idle");
    owner.slots.clear();
    owner.endedPorts.clear();
    auto port = StartedPort();
    bool openWhenTold = false;
    owner.onEnded = [&] {
      openWhenTold = port->IsOpen();  // the thread closes nothing; the owner does
      port->ClosePort();
    };
    // Queued in the handler, the write goes out right after it, to the hung-up tty.
    owner.onData = [&](const RxSlot&) {
      port->QueueWrite("late", 4);
      peer.HangUp();
    };
    if (duringWrite) {
      ASSERT_TRUE(peer.Write("x"));
    } else {
      peer.HangUp();
    }
    ASSERT_TRUE(RunUntil([&] { return !owner.endedPorts.empty(); }));
    owner.onData = nullptr;
    EXPECT_EQ(owner.endedPorts, std::vector<int>{kTestPort});
    EXPECT_TRUE(openWhenTold);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_TRUE(owner.errors.empty()) << "an unplug is no error to show";

    ASSERT_TRUE(peer.Recreate());
    ASSERT_EQ(Open(*port), 1) << serial::ErrnoText(port->LastOpenError().errorCode);
    ASSERT_EQ(port->StartMonitor(), 1);
    ASSERT_TRUE(peer.Write("back"));
    ASSERT_TRUE(RunUntil([&] { return owner.AllData().ends_with("back"); }));
    ASSERT_EQ(port->QueueWrite("hi", 2), 1);
    EXPECT_EQ(peer.ReadExactly(2), "hi");
  }
}

TEST_F(CommPortTest, AnEndNoticeQueuedBeforeAReopenIsDropped) {
  auto port = StartedPort();
  peer.HangUp();
  // Wait for the thread's end without running the notice it queued.
  for (int i = 0; i < 10000 && port->IsMonitoring(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(port->IsMonitoring());
  ASSERT_TRUE(peer.Recreate());
  ASSERT_EQ(Open(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  ASSERT_TRUE(peer.Write("new"));
  ASSERT_TRUE(RunUntil([&] { return owner.AllData() == "new"; }));
  EXPECT_TRUE(owner.endedPorts.empty()) << "the notice belonged to the port closed since";
}

// The owner's handler is still running (a message box's event loop, say) when the program
// stops the port from inside it. The stop must return; the thread must not wait for the
// handler, which can only finish after the stop. A requested stop is no unplug.
TEST_F(CommPortTest, StopsWhileTheOwnerIsInsideAHandler) {
  using Stop = std::function<void(std::unique_ptr<CCommPort>&)>;
  const std::pair<const char*, Stop> rows[] = {
      {"close step on port 50", [&](auto& port) { EXPECT_EQ(Open(*port, 50, 9600), 0); }},
      {"plain close", [](auto& port) { port->ClosePort(); }},
      {"re-open of the same port", [&](auto& port) { EXPECT_EQ(Open(*port), 1); }},
      {"destructor", [](auto& port) { port.reset(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    const Stop& stop = row.second;
    auto port = StartedPort();
    bool stopped = false;
    owner.onData = [&](const RxSlot&) {
      ui.Post([&] {
        stop(port);
        stopped = true;
      });
      ui.RunUntil([&] { return stopped; }, kPatience);
    };
    ASSERT_TRUE(peer.Write("x"));
    ASSERT_TRUE(RunUntil([&] { return stopped; }));
    EXPECT_TRUE(port == nullptr || !port->IsMonitoring());
    owner.onData = nullptr;
  }
  EXPECT_TRUE(owner.endedPorts.empty());
}

TEST_F(CommPortTest, StopsWhileASlotWaitsForTheUiThread) {
  // The destructor abandons the slot; a close pumps and delivers it.
  const std::pair<bool, std::size_t> rows[] = {{true, 0}, {false, 1}};
  for (const auto& [destroy, slotsSeen] : rows) {
    SCOPED_TRACE(destroy ? "destructor" : "plain close");
    owner.slots.clear();
    StdUiDispatcher inner;  // emptied by hand, to catch a slot in mid-hand-over
    CountingUi held{inner};
    auto port = MakePort(&held);
    ASSERT_EQ(Open(*port), 1);
    ASSERT_EQ(port->StartMonitor(), 1);
    ASSERT_TRUE(peer.Write("held"));
    ASSERT_TRUE(ui.RunUntil([&] { return held.posts.load() >= 1; }, kPatience));
    if (destroy) {
      port.reset();
    } else {
      port->ClosePort();
    }
    inner.RunUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(owner.slots.size(), slotsSeen);
  }
}

}  // namespace
