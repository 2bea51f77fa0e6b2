#pragma once
// The receive side of the device link: finds frames in the byte stream (start pair 0x55 0x00,
// twelve header bytes, payload, XOR checksum; 0x5A doubled), keeping its state across chunks.
//
// Used on the UI thread only; no locking.

#include <cstdint>
#include <functional>
#include <string_view>

namespace devlink {

inline constexpr int kPayloadCapacity = 5000;
// Three bytes of the store are kept for the CR LF NUL added at dispatch.
inline constexpr int kMaxPayloadLength = kPayloadCapacity - 3;

struct FrameDecoder {
  std::uint8_t inFrame = 0;
  std::uint8_t prevByte = 0;
  std::int32_t payloadLength = 0;
  std::int32_t byteIndex = 0;
  std::uint8_t runningXor = 0;
  std::int32_t frameSequence = 0;
  // The previous byte was a 0x5A kept as the first of a doubled pair: the next 0x5A is its
  // escape partner. Kept across chunks so a pair split by the OS decodes the same.
  std::uint8_t escapePending = 0;
  // Bytes at the front of `payload` that may be non-zero; a start pair clears only those,
  // which leaves the whole store zero as clearing all of it would.
  std::int32_t payloadUsed = 0;
  std::uint8_t payload[kPayloadCapacity] = {};
};

// A complete frame as the dispatcher sees it. `text` is the payload without line ends; it stays
// valid until the next byte is fed.
struct DecodedFrame {
  std::string_view text;
  std::int32_t sequence;  // frameSequence when the frame ended; the decoder then adds one
};

// A new connection: nothing of a frame begun on the last one may complete with the next
// device's bytes. The numbering of frames goes on.
void StartCleanStream(FrameDecoder& decoder);

// Feeds the chunk's bytes in order; calls `onFrame` for every frame completed, in order.
// `onFrame` runs before the next byte is examined. The look-ahead of the chunk's last byte is
// 0x00, as when the device goes quiet after a frame. A frame longer than kMaxPayloadLength
// payload bytes is dropped unreported, like one with a NUL in its first two payload bytes.
// Nothing is decoded when `byteCount` is 0 or less.
void DecodeChunk(FrameDecoder& decoder, const std::uint8_t* bytes, int byteCount,
                 const std::function<void(const DecodedFrame&)>& onFrame);

}  // namespace devlink
