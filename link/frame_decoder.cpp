#include "link/frame_decoder.h"

namespace devlink {
// Placeholder until the decoder lands.
void DecodeChunk(FrameDecoder&, const std::uint8_t*, int, const std::function<void(const DecodedFrame&)>&) {}
}  // namespace devlink
