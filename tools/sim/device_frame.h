#pragma once
// The tracker's side of the link: frames as the tracker sends them (start pair 55 00, ten
// header bytes, the payload, an XOR checksum; 0x5A doubled) and the console's fixed 137-byte
// frames as the tracker receives them. No I/O; usable from any thread.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline constexpr int kDeviceHeaderSize = 10;
// The console stores at most this many payload bytes of one frame.
inline constexpr std::size_t kMaxDevicePayload = 4997;

enum class ChecksumMode { kCorrect, kCorrupt };

// The wire bytes of one tracker frame carrying `payload`, or nullopt when the payload cannot
// be framed so that the console reads it back whole: empty, holding a NUL byte, longer than
// kMaxDevicePayload, or (only for very long payloads) no header that keeps every prefix apart
// from the checksum. kCorrupt sends a checksum that is wrong in every bit.
std::optional<std::vector<std::uint8_t>> EncodeDeviceFrame(
    std::string_view payload, ChecksumMode mode = ChecksumMode::kCorrect);

// 1 to 16 bytes of line noise to put after a frame. It costs the console no frame: it opens
// with 0x55, which lets the frame before it end (the console takes a checksum as the end only
// when 0x55 or 0x00 follows), and holds no 0x00 (no false start pair) and no 0x5A.
std::vector<std::uint8_t> LineNoise(std::mt19937& random);

// Counts kept by the console-frame decoder, for the operator's diagnostics.
struct ConsoleFrameStats {
  long framesDecoded = 0;
  long badChecksums = 0;  // complete frames whose checksum did not hold: ignored
  long brokenFrames = 0;  // frames cut short by a new start or an invalid escape
};

// Finds the console's frames in the byte stream, whatever the chunking: 55 00, one raw byte,
// then stuffed bytes (5A 5A -> 5A, 5A 01 -> 55) up to 137 frame bytes, checksum last.
class ConsoleFrameDecoder {
 public:
  // Called with the text area of every good frame, up to its first NUL (at most 128 bytes).
  using TextHandler = std::function<void(std::string_view text)>;

  void Feed(const std::uint8_t* bytes, std::size_t count, const TextHandler& onText);
  void Reset();
  [[nodiscard]] const ConsoleFrameStats& stats() const { return stats_; }

 private:
  enum class State { kOutside, kRawHeaderByte, kBody, kEscape };
  void Step(std::uint8_t b, const TextHandler& onText);
  void Start();
  void Abandon();
  void Store(std::uint8_t b, const TextHandler& onText);
  void Finish(const TextHandler& onText);

  static constexpr std::size_t kFrameSize = 137;
  std::array<std::uint8_t, kFrameSize> frame_{};
  std::size_t length_ = 0;
  State state_ = State::kOutside;
  std::uint8_t prev_ = 0;
  ConsoleFrameStats stats_;
};

}  // namespace sim
