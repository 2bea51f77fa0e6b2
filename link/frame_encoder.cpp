#include "link/frame_encoder.h"

#include <algorithm>
#include <initializer_list>

namespace devlink {

namespace {

constexpr std::uint8_t kHeader[kTextOffset] = {0x55, 0x00, 0x84, 0x63, 0x07, 0x00, 0x80, 0x00};
constexpr int kChecksumOffset = kDeviceFrameSize - 1;
// The start byte and the two bytes after it are never stuffed, so the receiver can find the
// start pair whatever follows.
constexpr int kFirstStuffedOffset = 3;
constexpr std::uint8_t kEscape = 0x5A;
constexpr std::uint8_t kStart = 0x55;
constexpr std::uint8_t kEscapedStart = 0x01;

// The text as the device sees it: C-string semantics, so a NUL ends it.
std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// Writes the pieces one after another into the text area, cutting at its end.
DeviceFrame FrameFromPieces(std::initializer_list<std::string_view> pieces) {
  DeviceFrame frame{};
  std::copy(std::begin(kHeader), std::end(kHeader), frame.begin());
  std::size_t used = 0;
  for (const std::string_view piece : pieces) {
    const std::size_t room = static_cast<std::size_t>(kTextAreaSize) - used;
    const std::size_t count = std::min(piece.size(), room);
    std::copy_n(piece.begin(), count, frame.begin() + kTextOffset + used);
    used += count;
  }
  std::uint8_t checksum = 0;
  for (int i = 0; i < kChecksumOffset; ++i) checksum ^= frame[i];
  frame[kChecksumOffset] = checksum;
  return frame;
}

}  // namespace

DeviceFrame BuildDeviceFrame(std::string_view text) {
  return FrameFromPieces({UpToNul(text)});
}

StuffedFrame StuffFrame(const DeviceFrame& frame) {
  StuffedFrame out;
  int length = 0;
  for (int i = 0; i < kDeviceFrameSize; ++i) {
    const std::uint8_t b = frame[i];
    if (i >= kFirstStuffedOffset && (b == kEscape || b == kStart)) {
      out.bytes[length++] = kEscape;
      out.bytes[length++] = b == kEscape ? kEscape : kEscapedStart;
    } else {
      out.bytes[length++] = b;
    }
  }
  out.length = length;
  return out;
}

StuffedFrame EncodeUartCommand(std::string_view command) {
  return StuffFrame(FrameFromPieces({"AT+uart:", UpToNul(command), "#"}));
}

StuffedFrame EncodeAtText(std::string_view text) {
  return StuffFrame(FrameFromPieces({"AT:", UpToNul(text)}));
}

}  // namespace devlink
