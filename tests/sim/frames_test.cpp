// The sim's two frame codecs against the console's own: console frames decode in the sim to
// their text, and the sim's frames decode in the console to their payload, wherever reads end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame_decoder.h"
#include "link/frame_encoder.h"
#include "tools/sim/device_frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

Bytes Wire(const devlink::StuffedFrame& frame) {
  return Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length);
}

// Decodes `stream` read in two parts split at `cut` (0: whole), with the sim's decoder or the
// console's.
Texts SimDecode(const Bytes& stream, std::size_t cut, long* badChecksums = nullptr) {
  sim::ConsoleFrameDecoder decoder;
  Texts texts;
  const auto add = [&](std::string_view text) { texts.emplace_back(text); };
  decoder.Feed(stream.data(), cut, add);
  decoder.Feed(stream.data() + cut, stream.size() - cut, add);
  if (badChecksums != nullptr) *badChecksums = decoder.stats().badChecksums;
  return texts;
}

Texts ConsoleDecode(const Bytes& stream, std::size_t cut) {
  devlink::FrameDecoder decoder;
  Texts texts;
  const auto add = [&](const devlink::DecodedFrame& f) { texts.emplace_back(f.text); };
  devlink::DecodeChunk(decoder, stream.data(), static_cast<int>(cut), add);
  devlink::DecodeChunk(decoder, stream.data() + cut, static_cast<int>(stream.size() - cut), add);
  return texts;
}

TEST(ConsoleFrames, DecodeInTheSimWhereverTheReadsEnd) {
  const Bytes ver = Wire(devlink::EncodeUartCommand("ver,?"));
  Bytes bad = ver;
  bad.back() ^= 0x01;
  Bytes stream = Wire(devlink::EncodeAtText("Z U\xb0\x5a"));  // both escapes, a GBK trail 0x5A
  for (const char* text : {"\x40", "O"}) {                    // checksums 0x5A and 0x55
    const Bytes more = Wire(devlink::EncodeAtText(text));
    stream.insert(stream.end(), more.begin(), more.end());
  }
  stream.insert(stream.end(), {0x12, 0x55, 0x5A, 0x5A, 0x01, 0x00, 0x55});  // noise
  stream.insert(stream.end(), bad.begin(), bad.end());
  stream.insert(stream.end(), ver.begin(), ver.end());
  const Texts expected = {"AT:Z U\xb0\x5a", "AT:\x40", "AT:O", "AT+uart:ver,?#"};
  long badChecksums = 0;
  EXPECT_EQ(SimDecode(stream, 0, &badChecksums), expected);
  EXPECT_EQ(badChecksums, 1);
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    ASSERT_EQ(SimDecode(stream, cut), expected) << "cut at " << cut;
  }
}

TEST(DeviceFrames, ConsoleDecodesThePayloadWhereverTheReadsEnd) {
  const Texts payloads = {"AT+uart:imei,ok#",
                          "AT:ZZZ ZZ Z",
                          "ZAT",
                          "AT:UU U",
                          "AT:\xb2\xe2\xd6\xd0\x5a\xcd",
                          std::string(300, 'q') + "AT:end"};
  Bytes stream;
  for (const std::string& payload : payloads) {
    const Bytes wire = sim::EncodeDeviceFrame(payload).value_or(Bytes{});
    stream.insert(stream.end(), wire.begin(), wire.end());
  }
  for (std::size_t cut = 0; cut < stream.size(); ++cut) {
    ASSERT_EQ(ConsoleDecode(stream, cut), payloads) << "cut at " << cut;
  }
  for (const std::string& payload : {std::string(), std::string("AT:a\0b", 6)}) {
    EXPECT_FALSE(sim::EncodeDeviceFrame(payload).has_value()) << payload.size() << " bytes";
  }
}

}  // namespace
