#pragma once
// What the serial tests share: a private ports folder with a pseudo-terminal registered as a
// virtual port, a std event loop as the UI thread, and an owner that records what it is handed.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
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
  int slotIndexDuringCall = -1;  // the engine's next-slot index while the handler ran
  bool zeroAfterData = false;    // every byte after the data is zero
};

class RecordingOwner : public PortOwner {
 public:
  void OnPortData(const RxSlot& slot, int portNumber) override;
  void ShowPortError(const std::string& text) override { errors.push_back(text); }
  void OnMonitorEnded(int portNumber) override;

  [[nodiscard]] std::string AllData() const;
  [[nodiscard]] std::size_t ByteTotal() const { return AllData().size(); }

  const CCommPort* port = nullptr;  // read during a delivery, when set
  std::function<void(const RxSlot&)> onData;
  std::function<void()> onEnded;
  std::vector<SeenSlot> slots;
  std::vector<int> portNumbers;
  std::vector<std::string> errors;
  std::vector<int> endedPorts;
};

// A bytes pattern that shows a lost, doubled or reordered byte.
std::string Pattern(std::size_t length, unsigned seed = 0);

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens kTestPort on `port` at the console's settings (115200 8N1, 512-byte writes).
  int OpenTestPort(CCommPort& port);
  std::unique_ptr<CCommPort> MakePort();
  bool RunUntil(const std::function<bool()>& done) { return ui.RunUntil(done, kPatience); }

  std::filesystem::path folder;
  std::string portsFolder;
  StdUiDispatcher ui;
  PtyPeer peer;
  RecordingOwner owner;
};
