#pragma once
// The console's outgoing frame: a fixed 137-byte DeviceFrame (start byte, 7 fixed header
// bytes, a 128-byte text area, XOR checksum), byte-stuffed from offset 3 on.
//
// Pure functions: no I/O, no state between calls, usable from any thread.

#include <array>
#include <cstdint>
#include <string_view>

namespace devlink {

inline constexpr int kDeviceFrameSize = 137;
inline constexpr int kTextAreaSize = 128;
inline constexpr int kTextOffset = 8;
// 137 bytes plus one per 0x55/0x5A at offsets 3..136: never more than 271.
inline constexpr int kMaxStuffedSize = 271;

using DeviceFrame = std::array<std::uint8_t, kDeviceFrameSize>;

struct StuffedFrame {
  std::array<std::uint8_t, 300> bytes{};  // the encoder's output buffer, zero past `length`
  int length = 0;                         // 137..271
};

// Builds the unstuffed frame around `text`: 8-bit bytes up to a NUL, cut to 128.
DeviceFrame BuildDeviceFrame(std::string_view text);

// Stuffs a frame for the wire: offsets 0..2 as they are, then 0x5A -> 5A 5A, 0x55 -> 5A 01.
StuffedFrame StuffFrame(const DeviceFrame& frame);

// "AT+uart:" + command + "#", framed and stuffed. Past 119 command bytes the cut to 128
// drops the "#".
StuffedFrame EncodeUartCommand(std::string_view command);

// "AT:" + text, framed and stuffed; no "#" is added.
StuffedFrame EncodeAtText(std::string_view text);

}  // namespace devlink
