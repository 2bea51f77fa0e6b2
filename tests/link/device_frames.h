#pragma once
// Builds byte streams as the tracker sends them (and, last, the console's own frames): the start
// pair 0x55 0x00, ten header bytes, the payload with every 0x5A doubled, and the XOR of the
// unescaped bytes as checksum, sent single: a checksum of 0x5A sent doubled never passes the end
// test (its first byte is followed by 0x5A, not by 0x55 or 0x00), unless the chunk happens to end
// between the two. Header-only and free of GoogleTest, so benchmarks and fuzz targets can use it
// too.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/frame_encoder.h"

namespace linktest {

// One of the console's own frames as it goes out.
inline std::string WireBytes(const devlink::StuffedFrame& frame) {
  return {reinterpret_cast<const char*>(frame.bytes.data()),
          static_cast<std::size_t>(frame.length)};
}

using Header = std::array<std::uint8_t, 10>;
inline constexpr Header kZeroHeader{};

inline std::string StartAndHeader(const Header& header) {
  std::string out("\x55\x00", 2);
  out.append(header.begin(), header.end());
  return out;
}

inline std::uint8_t XorOf(std::string_view bytes, std::uint8_t start = 0) {
  for (const char c : bytes) start ^= static_cast<std::uint8_t>(c);
  return start;
}

inline std::uint8_t Checksum(std::string_view unescapedPayload,
                             const Header& header = kZeroHeader) {
  return XorOf(unescapedPayload, XorOf(StartAndHeader(header)));
}

inline std::string DoubleEscapes(std::string_view payload) {
  std::string out;
  for (const char c : payload) {
    out += c;
    if (c == '\x5A') out += c;
  }
  return out;
}

inline std::string RawDeviceFrame(std::string_view wirePayload, std::uint8_t checksum,
                                  const Header& header = kZeroHeader) {
  std::string out = StartAndHeader(header);
  out.append(wirePayload);
  out += static_cast<char>(checksum);
  return out;
}

// The frame as the device sends it.
inline std::string DeviceFrameBytes(std::string_view payload, const Header& header = kZeroHeader) {
  return RawDeviceFrame(DoubleEscapes(payload), Checksum(payload, header), header);
}

}  // namespace linktest
