// The receive decoder on arbitrary bytes in arbitrary chunkings. The first input byte says how
// many chunk-size bytes follow (low 3 bits: 1..8) and how often the stream's second half is
// fed after its first half (high 5 bits: 1..32 times, so short inputs reach frames longer than
// the payload store). The size bytes are used in turn, each giving a chunk of 1..256 bytes; the
// rest is the stream. Any broken invariant aborts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "link/frame_decoder.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckFrame(const devlink::DecodedFrame& frame, std::int32_t expectedSequence) {
  Require(frame.sequence == expectedSequence);
  Require(frame.text.size() <= static_cast<std::size_t>(devlink::kMaxPayloadLength));
  Require(frame.text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos);
}

void CheckState(const devlink::FrameDecoder& d, std::int32_t framesSeen) {
  Require(d.payloadLength >= 0 && d.payloadLength <= devlink::kMaxPayloadLength);
  Require(d.payloadUsed >= 0 && d.payloadUsed <= devlink::kMaxPayloadLength);
  Require(d.inFrame <= 1 && d.escapePending <= 1);
  Require(d.inFrame == 1 || (d.payloadLength == 0 && d.escapePending == 0));
  Require(d.frameSequence == framesSeen);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t sizeCount = 1 + (data[0] & 7u);
  const int repeats = 1 + (data[0] >> 3);
  if (size < 1 + sizeCount) return 0;
  const std::uint8_t* sizes = data + 1;
  const std::uint8_t* stream = sizes + sizeCount;
  const std::size_t streamSize = size - 1 - sizeCount;

  // On the heap, so a write past the payload store is caught.
  auto decoder = std::make_unique<devlink::FrameDecoder>();
  std::int32_t frames = 0;
  const auto onFrame = [&](const devlink::DecodedFrame& frame) {
    CheckFrame(frame, frames);
    ++frames;
  };
  std::size_t turn = 0;
  const auto feed = [&](const std::uint8_t* part, std::size_t partSize) {
    for (std::size_t offset = 0; offset < partSize; ++turn) {
      const std::size_t wanted = 1 + static_cast<std::size_t>(sizes[turn % sizeCount]);
      const std::size_t chunk = wanted < partSize - offset ? wanted : partSize - offset;
      devlink::DecodeChunk(*decoder, part + offset, static_cast<int>(chunk), onFrame);
      CheckState(*decoder, frames);
      offset += chunk;
    }
  };
  const std::size_t half = streamSize / 2;
  feed(stream, half);
  for (int pass = 0; pass < repeats; ++pass) feed(stream + half, streamSize - half);
  return 0;
}
