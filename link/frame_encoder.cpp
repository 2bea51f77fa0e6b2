#include "link/frame_encoder.h"

namespace devlink {
// Placeholder until the encoder lands.
DeviceFrame BuildDeviceFrame(std::string_view) { return {}; }
StuffedFrame StuffFrame(const DeviceFrame&) { return {}; }
StuffedFrame EncodeUartCommand(std::string_view) { return {}; }
StuffedFrame EncodeAtText(std::string_view) { return {}; }
}  // namespace devlink
