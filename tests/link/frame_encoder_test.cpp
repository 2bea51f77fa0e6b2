// Golden wire bytes of the console's outgoing frames.

#include "link/frame_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(std::string_view text) {
  Bytes out;
  std::istringstream in{std::string(text)};
  unsigned value = 0;
  while (in >> std::hex >> value) out.push_back(static_cast<std::uint8_t>(value));
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Wire(const devlink::StuffedFrame& frame) {
  return Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length);
}

const Bytes kHeader = Hex("55 00 84 63 07 00 80 00");
const Bytes kUartPrefix = Hex("41 54 2B 75 61 72 74 3A");  // AT+uart:
const Bytes kAtPrefix = Hex("41 54 3A");                   // AT:

enum class Encoder { kUartCommand, kAtText };

struct EncoderCase {
  const char* what;
  Encoder encoder;
  std::string text;
  Bytes wire;
};

const std::vector<EncoderCase>& EncoderCases() {
  static const std::vector<EncoderCase> cases = {
      {"uart ver,? : nothing to stuff, ends in 0x72", Encoder::kUartCommand, "ver,?",
       Cat({kHeader, kUartPrefix, Hex("76 65 72 2C 3F 23"), Bytes(114, 0), Hex("72")})},
      {"at ZU : both escapes in the text", Encoder::kAtText, "ZU",
       Cat({kHeader, kAtPrefix, Hex("5A 5A 5A 01"), Bytes(123, 0), Hex("15")})},
      {"at 0x40 : checksum 0x5A doubled", Encoder::kAtText, "\x40",
       Cat({kHeader, kAtPrefix, Hex("40"), Bytes(124, 0), Hex("5A 5A")})},
      {"at O : checksum 0x55 sent as 5A 01", Encoder::kAtText, "O",
       Cat({kHeader, kAtPrefix, Hex("4F"), Bytes(124, 0), Hex("5A 01")})},
      {"at 125 bytes : text area full, no NUL before the checksum", Encoder::kAtText,
       std::string(125, 'a'), Cat({kHeader, kAtPrefix, Bytes(125, 'a'), Hex("7B")})},
      {"at 128 bytes : cut to the text area, checksum over what was kept", Encoder::kAtText,
       std::string(125, 'a') + "XYZ", Cat({kHeader, kAtPrefix, Bytes(125, 'a'), Hex("7B")})},
      {"uart 119 bytes : the longest command that keeps its #", Encoder::kUartCommand,
       std::string(119, 'c'), Cat({kHeader, kUartPrefix, Bytes(119, 'c'), Hex("23 63")})},
      {"uart 120 bytes : the # falls off the text area", Encoder::kUartCommand,
       std::string(120, 'c'), Cat({kHeader, kUartPrefix, Bytes(120, 'c'), Hex("23")})},
      {"at GBK 語礥 : trail bytes 0x5A and 0x55 escaped like any byte", Encoder::kAtText,
       "\xD5\x5A\xB5\x55",
       Cat({kHeader, kAtPrefix, Hex("D5 5A 5A B5 5A 01"), Bytes(121, 0), Hex("75")})},
      {"uart GBK trail 0x5A after a command", Encoder::kUartCommand, "imei,\xD5\x5A",
       Cat({kHeader, kUartPrefix, Hex("69 6D 65 69 2C D5 5A 5A 23"), Bytes(112, 0), Hex("AB")})},
      {"uart empty command : AT+uart:# and checksum 0x00", Encoder::kUartCommand, "",
       Cat({kHeader, kUartPrefix, Hex("23"), Bytes(119, 0), Hex("00")})},
      {"at text with a NUL : ends at the NUL", Encoder::kAtText, std::string("ab\0cd", 5),
       Cat({kHeader, kAtPrefix, Hex("61 62"), Bytes(123, 0), Hex("19")})},
  };
  return cases;
}

devlink::StuffedFrame Encode(Encoder encoder, const std::string& text) {
  return encoder == Encoder::kUartCommand ? devlink::EncodeUartCommand(text)
                                          : devlink::EncodeAtText(text);
}

TEST(FrameEncoder, GoldenWireBytes) {
  for (const EncoderCase& c : EncoderCases()) {
    SCOPED_TRACE(c.what);
    const devlink::StuffedFrame frame = Encode(c.encoder, c.text);
    EXPECT_EQ(Wire(frame), c.wire);
    // The output buffer holds nothing past the frame.
    for (std::size_t i = static_cast<std::size_t>(frame.length); i < frame.bytes.size(); ++i) {
      ASSERT_EQ(frame.bytes[i], 0) << "at " << i;
    }
  }
}

TEST(FrameEncoder, ConsecutiveCallsShareNothing) {
  const Bytes expected = Cat({kHeader, kAtPrefix, Hex("78"), Bytes(124, 0), Hex("62")});
  (void)devlink::EncodeAtText(std::string(125, 'Z'));
  EXPECT_EQ(Wire(devlink::EncodeAtText("x")), expected);
  (void)devlink::EncodeUartCommand(std::string(119, 'U'));
  EXPECT_EQ(Wire(devlink::EncodeUartCommand("ver,?")), EncoderCases()[0].wire);
}

TEST(FrameEncoder, WorstCaseStuffingFitsTheOutput) {
  devlink::DeviceFrame frame{};
  frame.fill(0x5A);
  frame[0] = 0x55;
  frame[1] = 0x00;
  const devlink::StuffedFrame stuffed = devlink::StuffFrame(frame);
  EXPECT_EQ(stuffed.length, devlink::kMaxStuffedSize);
  EXPECT_EQ(stuffed.bytes[2], 0x5A) << "offset 2 is never escaped";
  EXPECT_EQ(stuffed.bytes[3], 0x5A);
  EXPECT_EQ(stuffed.bytes[270], 0x5A);
  EXPECT_EQ(stuffed.bytes[271], 0x00);
}

}  // namespace
