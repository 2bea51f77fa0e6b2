#pragma once
// What the serial tests share: a private ports folder with a pseudo-terminal registered as a
// virtual port, a std event loop as the UI thread, and an owner that records what it is handed.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/comm_port.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/pty_peer.h"

inline constexpr int kTestPort = 97;
inline constexpr std::chrono::milliseconds kPatience{10000};

// A received slot as the owner saw it during the call.
struct SeenSlot {
  const RxSlot* address = nullptr;
  std::int32_t byteCount = 0;
  std::string data;
  int portNumber = 0;
  int slotIndexDuringCall = -1;  // the engine's next-slot index while the handler ran
  bool zeroAfterData = false;    // every byte after the data is zero
};

// A UI loop that counts what the monitor threads hand to it.
class CountingUi : public UiDispatcher {
 public:
  explicit CountingUi(StdUiDispatcher& loop) : loop_(loop) {}
  void Post(std::function<void()> task) override {
    ++posts;
    loop_.Post(std::move(task));
  }
  void RunFor(std::chrono::milliseconds duration) override { loop_.RunFor(duration); }
  [[nodiscard]] bool QuitRequested() const override { return loop_.QuitRequested(); }
  std::atomic<int> posts{0};

 private:
  StdUiDispatcher& loop_;
};

class RecordingOwner : public PortOwner {
 public:
  void OnPortData(const RxSlot& slot, int portNumber) override {
    const auto count = static_cast<std::size_t>(std::clamp(slot.byteCount, 0, kMaxReadSize));
    slots.push_back({&slot, slot.byteCount,
                     std::string(reinterpret_cast<const char*>(slot.bytes), count), portNumber,
                     port != nullptr ? port->RxSlotIndex() : -1,
                     std::all_of(slot.bytes + count, std::end(slot.bytes),
                                 [](std::uint8_t byte) { return byte == 0; })});
    if (onData) onData(slot);
  }
  void ShowPortError(const std::string& text) override { errors.push_back(text); }
  void OnMonitorEnded(int portNumber) override {
    endedPorts.push_back(portNumber);
    if (onEnded) onEnded();
  }
  [[nodiscard]] std::string AllData() const {
    std::string all;
    for (const SeenSlot& slot : slots) all += slot.data;
    return all;
  }

  const CCommPort* port = nullptr;  // read during a delivery, when set
  std::function<void(const RxSlot&)> onData;
  std::function<void()> onEnded;
  std::vector<SeenSlot> slots;
  std::vector<std::string> errors;
  std::vector<int> endedPorts;
};

// A bytes pattern that shows a lost, doubled or reordered byte. 251 is prime, so the pattern
// does not line up with slot or buffer sizes.
inline std::string Pattern(std::size_t length, unsigned seed = 0) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i + seed) % 251 + 1);
  return bytes;
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/tc-serial-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = name;
    portsFolder = (folder / "ports").string();
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.RegisterAsPort(portsFolder, kTestPort));
  }
  void TearDown() override {
    peer.Unregister();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  // Opens `number` at the console's settings (8N1, 512-byte writes).
  int Open(CCommPort& port, int number = kTestPort, unsigned baud = 115200) {
    return port.OpenPort(&owner, number, baud, 'N', 8, 1, 9, 512);
  }
  std::unique_ptr<CCommPort> MakePort(UiDispatcher* dispatcher = nullptr) {
    auto port = std::make_unique<CCommPort>(dispatcher != nullptr ? *dispatcher : ui);
    port->SetDeviceFolders((folder / "dev").string(), portsFolder);
    return port;
  }
  // Opens kTestPort and starts its monitor thread.
  std::unique_ptr<CCommPort> StartedPort() {
    auto port = MakePort();
    EXPECT_EQ(Open(*port), 1);
    EXPECT_EQ(port->StartMonitor(), 1);
    return port;
  }
  bool RunUntil(const std::function<bool()>& done) { return ui.RunUntil(done, kPatience); }

  std::filesystem::path folder;
  std::string portsFolder;
  StdUiDispatcher ui;
  PtyPeer peer;
  RecordingOwner owner;
};
