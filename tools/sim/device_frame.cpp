#include "tools/sim/device_frame.h"

#include <bitset>

namespace sim {
namespace {

constexpr std::uint8_t kStart = 0x55;
constexpr std::uint8_t kEscape = 0x5A;
constexpr std::uint8_t kStuffedStart = 0x01;

// Nine fixed header bytes; the tenth is chosen per frame (see ChooseLastHeaderByte).
constexpr std::array<std::uint8_t, kDeviceHeaderSize - 1> kFixedHeader = {
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};

std::uint8_t XorOf(const std::uint8_t* bytes, std::size_t count, std::uint8_t seed) {
  for (std::size_t i = 0; i < count; ++i) seed ^= bytes[i];
  return seed;
}

// The console ends a frame at any byte that equals its running XOR when the next byte is
// 0x55 or 0x00 or the read ends there. A payload byte at which the running XOR drops to 0
// would therefore end the frame early whenever a read happens to end after it. The running
// XOR after the header is base ^ h (h = last header byte) and after payload byte i it is
// base ^ h ^ p_i, so h must differ from base ^ p for every payload prefix XOR p (including
// the empty prefix, which also protects the escape partner of a leading 0x5A).
// h is never 0x55 (no start pair) nor 0x5A: the console counts header bytes as received, so
// a doubled header byte would push the payload's first byte into the header.
std::optional<std::uint8_t> ChooseLastHeaderByte(std::uint8_t base, std::string_view payload) {
  std::bitset<256> forbidden;
  forbidden.set(kStart);
  forbidden.set(kEscape);
  std::uint8_t prefix = 0;
  forbidden.set(base);
  for (char c : payload) {
    prefix ^= static_cast<std::uint8_t>(c);
    forbidden.set(base ^ prefix);
  }
  for (unsigned candidate = 0x0A; candidate < 0x0A + 256; ++candidate) {
    const auto h = static_cast<std::uint8_t>(candidate);
    if (!forbidden.test(h)) return h;
  }
  return std::nullopt;
}

void AppendStuffed(std::vector<std::uint8_t>& out, std::uint8_t b) {
  out.push_back(b);
  if (b == kEscape) out.push_back(kEscape);
}

std::uint8_t CorruptedChecksum(std::uint8_t checksum) {
  return checksum ^ 0xFF;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> EncodeDeviceFrame(std::string_view payload,
                                                           ChecksumMode mode) {
  if (payload.empty() || payload.size() > kMaxDevicePayload) return std::nullopt;
  if (payload.find('\0') != std::string_view::npos) return std::nullopt;
  const std::uint8_t start[2] = {kStart, 0x00};
  const std::uint8_t base = XorOf(kFixedHeader.data(), kFixedHeader.size(), XorOf(start, 2, 0));
  const std::optional<std::uint8_t> last = ChooseLastHeaderByte(base, payload);
  if (!last) return std::nullopt;

  std::vector<std::uint8_t> out;
  out.reserve(payload.size() * 2 + 16);
  out.insert(out.end(), start, start + 2);
  out.insert(out.end(), kFixedHeader.begin(), kFixedHeader.end());
  out.push_back(*last);
  std::uint8_t checksum = base ^ *last;
  for (char c : payload) {
    const auto b = static_cast<std::uint8_t>(c);
    checksum ^= b;
    AppendStuffed(out, b);
  }
  // The checksum goes out single even when it is 0x5A: the console tests for the end before
  // it undoes doubling, so a doubled 0x5A checksum would be followed by 0x5A and never end.
  out.push_back(mode == ChecksumMode::kCorrect ? checksum : CorruptedChecksum(checksum));
  return out;
}

std::vector<std::uint8_t> LineNoise(std::mt19937& random) {
  const int length = std::uniform_int_distribution<int>(1, 16)(random);
  std::vector<std::uint8_t> bytes = {kStart};
  std::uniform_int_distribution<int> any(1, 255);
  while (static_cast<int>(bytes.size()) < length) {
    const auto b = static_cast<std::uint8_t>(any(random));
    if (b != kStart && b != kEscape) bytes.push_back(b);
  }
  return bytes;
}

void ConsoleFrameDecoder::Feed(const std::uint8_t* bytes, std::size_t count,
                               const TextHandler& onText) {
  for (std::size_t i = 0; i < count; ++i) Step(bytes[i], onText);
}

void ConsoleFrameDecoder::Reset() {
  length_ = 0;
  state_ = State::kOutside;
  prev_ = 0;
}

void ConsoleFrameDecoder::Step(std::uint8_t b, const TextHandler& onText) {
  const std::uint8_t prev = prev_;
  prev_ = b;
  if (prev == kStart && b == 0x00) {
    Start();
    return;
  }
  if (state_ == State::kOutside) return;
  // Stuffing keeps 0x55 out of a frame's body: a raw one means this frame was cut short,
  // and it may begin the next.
  if (b == kStart) {
    Abandon();
    return;
  }
  switch (state_) {
    case State::kRawHeaderByte:
      state_ = State::kBody;
      Store(b, onText);
      break;
    case State::kBody:
      if (b == kEscape) {
        state_ = State::kEscape;
      } else {
        Store(b, onText);
      }
      break;
    case State::kEscape:
      if (b != kEscape && b != kStuffedStart) {
        Abandon();
        return;
      }
      state_ = State::kBody;
      Store(b == kEscape ? kEscape : kStart, onText);
      break;
    case State::kOutside:
      break;
  }
}

void ConsoleFrameDecoder::Start() {
  if (state_ != State::kOutside) ++stats_.brokenFrames;
  frame_.fill(0);
  frame_[0] = kStart;
  frame_[1] = 0x00;
  length_ = 2;
  state_ = State::kRawHeaderByte;
}

void ConsoleFrameDecoder::Abandon() {
  ++stats_.brokenFrames;
  state_ = State::kOutside;
  length_ = 0;
}

void ConsoleFrameDecoder::Store(std::uint8_t b, const TextHandler& onText) {
  frame_[length_++] = b;
  if (length_ == kFrameSize) Finish(onText);
}

void ConsoleFrameDecoder::Finish(const TextHandler& onText) {
  state_ = State::kOutside;
  length_ = 0;
  if (XorOf(frame_.data(), kFrameSize - 1, 0) != frame_[kFrameSize - 1]) {
    ++stats_.badChecksums;
    return;
  }
  ++stats_.framesDecoded;
  constexpr std::size_t kTextOffset = 8;
  constexpr std::size_t kTextArea = 128;
  const auto* text = reinterpret_cast<const char*>(frame_.data() + kTextOffset);
  std::size_t textLength = 0;
  while (textLength < kTextArea && text[textLength] != '\0') ++textLength;
  onText(std::string_view(text, textLength));
}

}  // namespace sim
