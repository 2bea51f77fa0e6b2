#include "tests/serial/serial_fixture.h"

#include <stdlib.h>

#include <algorithm>

void RecordingOwner::OnPortData(const RxSlot& slot, int portNumber) {
  SeenSlot seen;
  seen.address = &slot;
  seen.byteCount = slot.byteCount;
  const auto count = static_cast<std::size_t>(std::clamp(slot.byteCount, 0, kMaxReadSize));
  seen.data.assign(reinterpret_cast<const char*>(slot.bytes), count);
  seen.zeroAfterData = std::all_of(slot.bytes + count, std::end(slot.bytes),
                                   [](std::uint8_t byte) { return byte == 0; });
  if (port != nullptr) seen.slotIndexDuringCall = port->RxSlotIndex();
  slots.push_back(std::move(seen));
  portNumbers.push_back(portNumber);
  if (onData) onData(slot);
}

void RecordingOwner::OnMonitorEnded(int portNumber) {
  endedPorts.push_back(portNumber);
  if (onEnded) onEnded();
}

std::string RecordingOwner::AllData() const {
  std::string all;
  for (const SeenSlot& slot : slots) all += slot.data;
  return all;
}

std::string Pattern(std::size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  // 251 is prime, so the pattern does not line up with slot or buffer sizes.
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i + seed) % 251 + 1);
  return bytes;
}

void SerialTest::SetUp() {
  char name[] = "/tmp/tc-serial-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  folder = name;
  portsFolder = (folder / "ports").string();
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(peer.RegisterAsPort(portsFolder, kTestPort));
}

void SerialTest::TearDown() {
  peer.Unregister();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

int SerialTest::OpenTestPort(CCommPort& port) {
  return port.OpenPort(&owner, kTestPort, 115200, 'N', 8, 1, 9, 512);
}

std::unique_ptr<CCommPort> SerialTest::MakePort() {
  auto port = std::make_unique<CCommPort>(ui);
  port->SetDeviceFolders((folder / "dev").string(), portsFolder);
  return port;
}
