#include "link/frame_decoder.h"

#include <algorithm>
#include <limits>

namespace devlink {

namespace {

constexpr std::uint8_t kStartByte = 0x55;
constexpr std::uint8_t kEscape = 0x5A;
// XOR of the start pair 0x55 0x00.
constexpr std::uint8_t kStartPairXor = 0x55;
// Bytes 0..12 of a frame as received are the start pair and the header; the payload follows.
constexpr std::int32_t kLastHeaderIndex = 12;

void BeginFrame(FrameDecoder& d) {
  std::fill_n(d.payload, d.payloadUsed, std::uint8_t{0});
  d.payloadUsed = 0;
  d.inFrame = 1;
  d.runningXor = kStartPairXor;
  d.payloadLength = 0;
  d.byteIndex = 2;
  d.escapePending = 0;
}

// Ends or abandons the current frame; the payload bytes stay until the next start pair.
void LeaveFrame(FrameDecoder& d) {
  d.inFrame = 0;
  d.payloadLength = 0;
  d.runningXor = 0;
  d.escapePending = 0;
}

// The checksum is the only end marker; the look-ahead must be the next frame's start or the
// line going quiet.
bool IsChecksum(const FrameDecoder& d, std::uint8_t b, std::uint8_t lookAhead) {
  return b == d.runningXor && d.payloadLength > 0 && (lookAhead == kStartByte || lookAhead == 0x00);
}

void Dispatch(FrameDecoder& d, const std::function<void(const DecodedFrame&)>& onFrame) {
  const DecodedFrame frame{std::string_view(reinterpret_cast<const char*>(d.payload),
                                            static_cast<std::size_t>(d.payloadLength)),
                           d.frameSequence};
  if (onFrame) onFrame(frame);
  // Wraps instead of overflowing after 2^31 frames.
  d.frameSequence = static_cast<std::int32_t>(static_cast<std::uint32_t>(d.frameSequence) + 1u);
  LeaveFrame(d);
}

}  // namespace

void StartCleanStream(FrameDecoder& decoder) {
  const std::int32_t sequence = decoder.frameSequence;
  decoder = FrameDecoder{};
  decoder.frameSequence = sequence;
}

namespace {

void StorePayloadByte(FrameDecoder& d, std::uint8_t b) {
  if (b == '\r' || b == '\n') return;
  if (b == 0x00) {
    // A NUL this early means the frame is not text; later NULs are padding.
    if (d.payloadLength < 2) LeaveFrame(d);
    return;
  }
  if (d.payloadLength >= kMaxPayloadLength) {
    // No end in sight within the store: drop the frame rather than cut it.
    LeaveFrame(d);
    return;
  }
  d.payload[d.payloadLength++] = b;
  d.payloadUsed = std::max(d.payloadUsed, d.payloadLength);
}

// Everything but remembering the byte for the start pair.
void ExamineByte(FrameDecoder& d, std::uint8_t b, std::uint8_t lookAhead,
                 const std::function<void(const DecodedFrame&)>& onFrame) {
  if (d.prevByte == kStartByte && b == 0x00) {
    BeginFrame(d);
    return;
  }
  if (d.inFrame == 0) return;
  // Only "header or payload" matters; saturating keeps an endless frame of skipped bytes defined.
  if (d.byteIndex < std::numeric_limits<std::int32_t>::max()) ++d.byteIndex;
  if (IsChecksum(d, b, lookAhead)) {
    Dispatch(d, onFrame);
    return;
  }
  if (b == kEscape && d.escapePending != 0) {
    d.escapePending = 0;
    return;
  }
  d.escapePending = b == kEscape ? 1 : 0;
  d.runningXor ^= b;
  if (d.byteIndex > kLastHeaderIndex) StorePayloadByte(d, b);
}

}  // namespace

void DecodeChunk(FrameDecoder& decoder, const std::uint8_t* bytes, int byteCount,
                 const std::function<void(const DecodedFrame&)>& onFrame) {
  if (bytes == nullptr || byteCount <= 0) return;
  for (int i = 0; i < byteCount; ++i) {
    const std::uint8_t lookAhead = i + 1 < byteCount ? bytes[i + 1] : std::uint8_t{0x00};
    ExamineByte(decoder, bytes[i], lookAhead, onFrame);
    decoder.prevByte = bytes[i];
  }
}

}  // namespace devlink
