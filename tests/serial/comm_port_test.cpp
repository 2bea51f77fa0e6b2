// CCommPort and its monitor thread against a real pseudo-terminal: open and close, the receive
// ring and its hand-over, the write queue, unplug, and stopping in every state.

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <set>
#include <thread>

#include "tests/serial/serial_fixture.h"

namespace {

using serial::PortStatus;

class CommPortTest : public SerialTest {};

TEST_F(CommPortTest, OpensAVirtualPortThroughItsLinkWithTheConsoleSettings) {
  auto port = MakePort();
  ASSERT_EQ(OpenTestPort(*port), 1) << serial::ErrnoText(port->LastOpenError().errorCode);
  EXPECT_TRUE(port->IsOpen());
  EXPECT_FALSE(port->IsMonitoring());
  EXPECT_EQ(port->PortNumber(), kTestPort);
  EXPECT_EQ(port->GetWriteCapacity(), 512u);
  EXPECT_TRUE(port->LastOpenError().ok());
  termios tio{};
  ASSERT_EQ(tcgetattr(peer.MasterFd(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
}

TEST_F(CommPortTest, ReportsWhyAPortCouldNotBeOpened) {
  struct Row {
    const char* what;
    int portNumber;
    unsigned baud;
    PortStatus status;
  };
  const Row rows[] = {
      {"the close step's port 50 (no such device)", 50, 9600, PortStatus::kNoDevice},
      {"a number no device can have", 200, 115200, PortStatus::kNoDevice},
      {"an unregistered virtual port", 98, 115200, PortStatus::kNoDevice},
      {"an unsupported baud rate", kTestPort, 12345, PortStatus::kBadArgument},
  };
  for (const Row& row : rows) {
    auto port = MakePort();
    EXPECT_EQ(port->OpenPort(&owner, row.portNumber, row.baud, 'N', 8, 1, 9, 512), 0) << row.what;
    EXPECT_EQ(port->LastOpenError().status, row.status) << row.what;
    EXPECT_FALSE(port->IsOpen()) << row.what;
    EXPECT_EQ(port->StartMonitor(), 0) << row.what;
  }
}

TEST_F(CommPortTest, RefusesAPortThatIsAlreadyHeld) {
  auto first = MakePort();
  ASSERT_EQ(OpenTestPort(*first), 1);
  ASSERT_EQ(first->StartMonitor(), 1);

  auto second = MakePort();
  EXPECT_EQ(OpenTestPort(*second), 0);
  EXPECT_EQ(second->LastOpenError().status, PortStatus::kBusy);

  // A program that opens the device plainly and asks for the lock is refused too.
  const int plain = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (plain >= 0) {
    EXPECT_NE(flock(plain, LOCK_EX | LOCK_NB), 0);
    close(plain);
  }

  first->ClosePort();
  EXPECT_EQ(OpenTestPort(*second), 1) << "closing released the port";
}

TEST_F(CommPortTest, ClosesAndReopensInEveryWay) {
  auto port = MakePort();
  struct Row {
    const char* what;
    std::function<void()> close;
  };
  const Row rows[] = {
      {"plain close", [&] { port->ClosePort(); }},
      {"close step on port 50",
       [&] { EXPECT_EQ(port->OpenPort(&owner, 50, 9600, 'N', 8, 1, 9, 512), 0); }},
      {"re-open of the same port", [&] { EXPECT_EQ(OpenTestPort(*port), 1); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    owner.slots.clear();
    ASSERT_EQ(OpenTestPort(*port), 1);
    ASSERT_EQ(port->StartMonitor(), 1);
    EXPECT_TRUE(port->IsMonitoring());
    ASSERT_TRUE(peer.Write("ping"));
    ASSERT_TRUE(RunUntil([&] { return owner.AllData() == "ping"; }));
    row.close();
    EXPECT_FALSE(port->IsMonitoring());
    port->ClosePort();
    EXPECT_FALSE(port->IsOpen());
  }
  EXPECT_TRUE(owner.endedPorts.empty()) << "a requested stop is no unplug";
}

TEST_F(CommPortTest, ClosingWhenNothingWasOpenedDoesNothing) {
  auto port = MakePort();
  port->ClosePort();
  EXPECT_EQ(port->OpenPort(&owner, 50, 9600, 'N', 8, 1, 9, 512), 0);
  EXPECT_FALSE(port->IsMonitoring());
  EXPECT_TRUE(owner.slots.empty());
  EXPECT_TRUE(owner.errors.empty());
}

// Bytes that wait before the thread starts come as a burst. A pseudo-terminal hands over at
// most 4095 bytes per read, so the slots here stay below the 4900-byte limit.
TEST_F(CommPortTest, DrainsABurstSlotBySlotEachAfterThePreviousWasHandled) {
  auto port = MakePort();
  owner.port = port.get();
  ASSERT_EQ(OpenTestPort(*port), 1);
  const std::string burst = Pattern(10000);
  ASSERT_TRUE(peer.Write(burst));
  ASSERT_EQ(port->StartMonitor(), 1);
  ASSERT_TRUE(RunUntil([&] { return owner.ByteTotal() >= burst.size(); }));

  EXPECT_EQ(owner.AllData(), burst);
  ASSERT_GE(owner.slots.size(), 3u);
  for (std::size_t i = 0; i < owner.slots.size(); ++i) {
    const SeenSlot& slot = owner.slots[i];
    SCOPED_TRACE(i);
    EXPECT_GE(slot.byteCount, 1);
    EXPECT_LE(slot.byteCount, kMaxReadSize);
    EXPECT_EQ(static_cast<std::size_t>(slot.byteCount), slot.data.size());
    EXPECT_TRUE(slot.zeroAfterData);
    // The index moves on only once the handler has returned.
    const int index = static_cast<int>(i % kRxSlotCount);
    EXPECT_EQ(slot.address, port->RxSlotAt(index));
    EXPECT_EQ(slot.slotIndexDuringCall, index);
  }
  EXPECT_EQ(owner.portNumbers.front(), kTestPort);
}

TEST_F(CommPortTest, UsesTheTwentySlotsInTurnAndCarriesTheIndexAcrossReopening) {
  auto port = MakePort();
  ASSERT_EQ(OpenTestPort(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  for (int i = 0; i < 25; ++i) {
    ASSERT_TRUE(peer.Write(std::string(1, static_cast<char>('a' + i))));
    ASSERT_TRUE(RunUntil([&] { return owner.slots.size() == static_cast<std::size_t>(i + 1); }));
  }
  std::set<const RxSlot*> distinct;
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(owner.slots[i].address, port->RxSlotAt(i % kRxSlotCount)) << i;
    EXPECT_EQ(owner.slots[i].data, std::string(1, static_cast<char>('a' + i)));
    if (i < kRxSlotCount) distinct.insert(owner.slots[i].address);
  }
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kRxSlotCount));

  port->ClosePort();
  EXPECT_EQ(port->RxSlotIndex(), 5);
  ASSERT_EQ(OpenTestPort(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  ASSERT_TRUE(peer.Write("z"));
  ASSERT_TRUE(RunUntil([&] { return owner.slots.size() == 26; }));
  EXPECT_EQ(owner.slots.back().address, port->RxSlotAt(5)) << "the index is never reset";
}

std::vector<std::string> Frames(int count, std::size_t length) {
  std::vector<std::string> frames;
  for (int i = 0; i < count; ++i) frames.push_back(Pattern(length, static_cast<unsigned>(i * 7)));
  return frames;
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
    auto port = MakePort();
    ASSERT_EQ(OpenTestPort(*port), 1);
    ASSERT_EQ(port->StartMonitor(), 1);
    std::string expected;
    for (const std::string& frame : Frames(row.count, row.length)) {
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
  ASSERT_EQ(OpenTestPort(*port), 1);
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

TEST_F(CommPortTest, AWriteKeepsTheBytesWaitingToBeRead) {
  auto port = MakePort();
  ASSERT_EQ(OpenTestPort(*port), 1);
  const std::string burst = Pattern(10000, 3);
  ASSERT_TRUE(peer.Write(burst));
  const std::string frame = Pattern(271, 11);
  // The request goes out while the rest of the burst is still waiting in the port.
  owner.onData = [&](const RxSlot&) {
    if (owner.slots.size() == 1) port->QueueWrite(frame.data(), static_cast<int>(frame.size()));
  };
  ASSERT_EQ(port->StartMonitor(), 1);
  std::string atDevice;
  ASSERT_TRUE(RunUntil([&] {
    atDevice += peer.ReadExactly(frame.size() - atDevice.size(), std::chrono::milliseconds(1));
    return owner.ByteTotal() >= burst.size() && atDevice.size() == frame.size();
  }));
  EXPECT_EQ(owner.AllData(), burst);
  EXPECT_EQ(atDevice, frame);
}

TEST_F(CommPortTest, AnUnplugEndsTheThreadAndTheReplugOpensAgain) {
  auto port = MakePort();
  ASSERT_EQ(OpenTestPort(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  peer.HangUp();
  ASSERT_TRUE(RunUntil([&] { return !owner.endedPorts.empty(); }));
  EXPECT_EQ(owner.endedPorts, std::vector<int>{kTestPort});
  EXPECT_FALSE(port->IsMonitoring());
  EXPECT_TRUE(port->IsOpen()) << "the thread closes nothing; the next open or close does";
  EXPECT_TRUE(owner.errors.empty()) << "an unplug is no error to show";

  ASSERT_TRUE(peer.Recreate());
  ASSERT_EQ(OpenTestPort(*port), 1) << serial::ErrnoText(port->LastOpenError().errorCode);
  ASSERT_EQ(port->StartMonitor(), 1);
  ASSERT_TRUE(peer.Write("back"));
  ASSERT_TRUE(RunUntil([&] { return owner.AllData() == "back"; }));
  ASSERT_EQ(port->QueueWrite("hi", 2), 1);
  EXPECT_EQ(peer.ReadExactly(2), "hi");
}

TEST_F(CommPortTest, TheOwnerMayCloseThePortWhenTold) {
  auto port = MakePort();
  owner.onEnded = [&] { port->ClosePort(); };
  ASSERT_EQ(OpenTestPort(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  peer.HangUp();
  ASSERT_TRUE(RunUntil([&] { return !owner.endedPorts.empty(); }));
  EXPECT_FALSE(port->IsOpen());
}

TEST_F(CommPortTest, AnEndNoticeQueuedBeforeAReopenIsDropped) {
  auto port = MakePort();
  ASSERT_EQ(OpenTestPort(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  peer.HangUp();
  // Wait for the thread's end without running the notice it queued.
  for (int i = 0; i < 10000 && port->IsMonitoring(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(port->IsMonitoring());
  ASSERT_TRUE(peer.Recreate());
  ASSERT_EQ(OpenTestPort(*port), 1);
  ASSERT_EQ(port->StartMonitor(), 1);
  ASSERT_TRUE(peer.Write("new"));
  ASSERT_TRUE(RunUntil([&] { return owner.AllData() == "new"; }));
  EXPECT_TRUE(owner.endedPorts.empty()) << "the notice belonged to the port closed since";
}

// The owner's handler is still running (a message box's event loop, say) when the program
// stops the port from inside it. The stop must return; the thread must not wait for the
// handler, which can only finish after the stop.
TEST_F(CommPortTest, StopsWhileTheOwnerIsInsideAHandler) {
  struct Row {
    const char* what;
    std::function<void(std::unique_ptr<CCommPort>&)> stop;
  };
  const Row rows[] = {
      {"close step",
       [&](std::unique_ptr<CCommPort>& port) {
         port->OpenPort(&owner, 50, 9600, 'N', 8, 1, 9, 512);
       }},
      {"plain close", [](std::unique_ptr<CCommPort>& port) { port->ClosePort(); }},
      {"destructor", [](std::unique_ptr<CCommPort>& port) { port.reset(); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto port = MakePort();
    owner.slots.clear();
    bool stopped = false;
    owner.onData = [&](const RxSlot&) {
      ui.Post([&] {
        row.stop(port);
        stopped = true;
      });
      ui.RunUntil([&] { return stopped; }, kPatience);
    };
    ASSERT_EQ(OpenTestPort(*port), 1);
    ASSERT_EQ(port->StartMonitor(), 1);
    ASSERT_TRUE(peer.Write("x"));
    ASSERT_TRUE(RunUntil([&] { return stopped; }));
    EXPECT_TRUE(port == nullptr || !port->IsMonitoring());
    owner.onData = nullptr;
    port.reset();
  }
}

// A dispatcher whose queue the test empties by hand, to catch a slot in mid-hand-over.
class HeldDispatcher final : public UiDispatcher {
 public:
  void Post(std::function<void()> task) override {
    posts.fetch_add(1);
    inner.Post(std::move(task));
  }
  void RunFor(std::chrono::milliseconds duration) override { inner.RunFor(duration); }
  [[nodiscard]] bool QuitRequested() const override { return inner.QuitRequested(); }
  bool WaitForPosts(int count) {
    for (int i = 0; i < 10000 && posts.load() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return posts.load() >= count;
  }
  StdUiDispatcher inner;
  std::atomic<int> posts{0};
};

TEST_F(CommPortTest, StopsWhileASlotWaitsForTheUiThread) {
  struct Row {
    const char* what;
    bool destroy;  // the destructor abandons the slot; a close pumps and delivers it
    std::size_t slotsSeen;
  };
  const Row rows[] = {{"destructor", true, 0}, {"plain close", false, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    HeldDispatcher held;
    RecordingOwner heldOwner;
    auto port = std::make_unique<CCommPort>(held);
    port->SetDeviceFolders((folder / "dev").string(), portsFolder);
    ASSERT_EQ(port->OpenPort(&heldOwner, kTestPort, 115200, 'N', 8, 1, 9, 512), 1);
    ASSERT_EQ(port->StartMonitor(), 1);
    ASSERT_TRUE(peer.Write("held"));
    ASSERT_TRUE(held.WaitForPosts(1));
    if (row.destroy) {
      port.reset();
    } else {
      port->ClosePort();
    }
    held.inner.RunUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(heldOwner.slots.size(), row.slotsSeen);
  }
}

}  // namespace
