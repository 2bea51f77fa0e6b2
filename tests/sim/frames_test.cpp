// The sim's two frame codecs against the console's own: frames the console encodes decode in
// the sim to their text, and frames the sim sends decode in the console to their payload,
// whatever the reads look like.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "link/frame_decoder.h"
#include "link/frame_encoder.h"
#include "tools/sim/device_frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Wire(const devlink::StuffedFrame& frame) {
  return Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Feeds the stream to the sim's decoder in reads that end at the given offsets.
std::vector<std::string> SimDecode(const Bytes& stream, const std::vector<std::size_t>& cuts,
                                   sim::ConsoleFrameStats* stats = nullptr) {
  sim::ConsoleFrameDecoder decoder;
  std::vector<std::string> texts;
  std::size_t begin = 0;
  auto feedUpTo = [&](std::size_t end) {
    decoder.Feed(stream.data() + begin, end - begin,
                 [&](std::string_view text) { texts.emplace_back(text); });
    begin = end;
  };
  for (std::size_t cut : cuts) feedUpTo(std::min(cut, stream.size()));
  feedUpTo(stream.size());
  if (stats != nullptr) *stats = decoder.stats();
  return texts;
}

// Feeds the stream to the console's decoder in reads that end at the given offsets.
std::vector<std::string> ConsoleDecode(const Bytes& stream, const std::vector<std::size_t>& cuts) {
  devlink::FrameDecoder decoder;
  std::vector<std::string> payloads;
  std::size_t begin = 0;
  auto feedUpTo = [&](std::size_t end) {
    devlink::DecodeChunk(decoder, stream.data() + begin, static_cast<int>(end - begin),
                         [&](const devlink::DecodedFrame& f) { payloads.emplace_back(f.text); });
    begin = end;
  };
  for (std::size_t cut : cuts) feedUpTo(std::min(cut, stream.size()));
  feedUpTo(stream.size());
  return payloads;
}

Bytes DeviceWire(std::string_view payload) {
  std::optional<Bytes> frame = sim::EncodeDeviceFrame(payload);
  EXPECT_TRUE(frame.has_value()) << payload;
  return frame.value_or(Bytes{});
}

// --- console frames into the sim ------------------------------------------------------------

struct ConsoleCase {
  const char* description;
  Bytes stream;
  std::vector<std::string> texts;
  long badChecksums = 0;
};

std::vector<ConsoleCase> ConsoleCases() {
  const Bytes ver = Wire(devlink::EncodeUartCommand("ver,?"));
  Bytes badVer = ver;
  badVer.back() ^= 0x01;
  const std::string full(125, 'x');
  return {
      {"a read request", ver, {"AT+uart:ver,?#"}},
      {"a set request",
       Wire(devlink::EncodeUartCommand("imei,860000123456781")),
       {"AT+uart:imei,860000123456781#"}},
      {"0x5A and 0x55 in the text are unstuffed",
       Wire(devlink::EncodeAtText("Z U ZZ UU")),
       {"AT:Z U ZZ UU"}},
      {"a checksum of 0x5A (sent 5A 5A)", Wire(devlink::EncodeAtText("\x40")), {"AT:\x40"}},
      {"a checksum of 0x55 (sent 5A 01)", Wire(devlink::EncodeAtText("O")), {"AT:O"}},
      {"a GBK text whose trail byte is 0x5A",
       Wire(devlink::EncodeAtText("\xb0\x5a\xc4\x55")),
       {"AT:\xb0\x5a\xc4\x55"}},
      {"a text filling all 128 bytes", Wire(devlink::EncodeAtText(full)), {"AT:" + full}},
      {"two frames back to back",
       Concat({ver, Wire(devlink::EncodeAtText("connect ok!#"))}),
       {"AT+uart:ver,?#", "AT:connect ok!#"}},
      {"garbage before the frame",
       Concat({{0x12, 0x55, 0x5A, 0x5A, 0x01, 0x00, 0x55}, ver}),
       {"AT+uart:ver,?#"}},
      {"a bad checksum is ignored and counted", Concat({badVer, ver}), {"AT+uart:ver,?#"}, 1},
      {"a frame cut short by the next one",
       Concat({Bytes(ver.begin(), ver.begin() + 40), ver}),
       {"AT+uart:ver,?#"}},
      {"an invalid escape drops the frame",
       Concat({{0x55, 0x00, 0x84, 0x5A, 0x02}, Bytes(130, 0x20), ver}),
       {"AT+uart:ver,?#"}},
  };
}

TEST(ConsoleFrames, DecodeInOneRead) {
  for (const ConsoleCase& c : ConsoleCases()) {
    sim::ConsoleFrameStats stats;
    EXPECT_EQ(SimDecode(c.stream, {}, &stats), c.texts) << c.description;
    EXPECT_EQ(stats.badChecksums, c.badChecksums) << c.description;
  }
}

TEST(ConsoleFrames, DecodeTheSameWhereverTheReadsEnd) {
  for (const ConsoleCase& c : ConsoleCases()) {
    for (std::size_t cut = 1; cut < c.stream.size(); ++cut) {
      EXPECT_EQ(SimDecode(c.stream, {cut}), c.texts) << c.description << ", cut at " << cut;
    }
    std::vector<std::size_t> everyByte(c.stream.size());
    for (std::size_t i = 0; i < everyByte.size(); ++i) everyByte[i] = i + 1;
    EXPECT_EQ(SimDecode(c.stream, everyByte), c.texts) << c.description << ", byte by byte";
  }
}

// --- sim frames into the console ------------------------------------------------------------

// Payloads whose checksum is the given byte, found by varying one character.
std::string PayloadWithChecksum(std::uint8_t wanted) {
  for (int c = 0x21; c < 0x7F; ++c) {
    const std::string payload = std::string("AT:x") + static_cast<char>(c);
    const Bytes wire = DeviceWire(payload);
    if (wire.back() == wanted) return payload;
  }
  ADD_FAILURE() << "no payload with checksum " << int(wanted);
  return "AT:x";
}

struct DeviceCase {
  const char* description;
  std::string payload;
};

std::vector<DeviceCase> DeviceCases() {
  return {
      {"a reply", "AT+uart:imei,ok#"},
      {"an NMEA sentence", "$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E"},
      {"a payload with 0x5A", "AT:Z"},
      {"a payload with runs of 0x5A", "AT:ZZZ ZZ Z"},
      {"a payload ending in 0x5A", "AT:ZZ"},
      {"a payload starting with 0x5A", "ZAT"},
      {"a payload with 0x55 (not stuffed by the device)", "AT:UU U"},
      {"a checksum of 0x5A", PayloadWithChecksum(0x5A)},
      {"a checksum of 0x55", PayloadWithChecksum(0x55)},
      {"a GBK payload", "AT:\xb2\xe2\xca\xd4\xd6\xd0\x5a\xcd\xa8"},
      {"a long payload", std::string(300, 'q') + "AT:end"},
  };
}

TEST(DeviceFrames, ChecksumOf0x5AGoesOutSingle) {
  const Bytes wire = DeviceWire(PayloadWithChecksum(0x5A));
  ASSERT_GE(wire.size(), 2u);
  EXPECT_EQ(wire.back(), 0x5A);
  EXPECT_NE(wire[wire.size() - 2], 0x5A);
}

TEST(DeviceFrames, HeaderIsTenBytesAfterTheStartPair) {
  for (const DeviceCase& c : DeviceCases()) {
    const Bytes wire = DeviceWire(c.payload);
    ASSERT_GT(wire.size(), 12u);
    EXPECT_EQ(wire[0], 0x55) << c.description;
    EXPECT_EQ(wire[1], 0x00) << c.description;
    for (int i = 2; i < 12; ++i) {
      EXPECT_NE(wire[i], 0x55) << c.description;
      EXPECT_NE(wire[i], 0x5A) << c.description;
    }
    EXPECT_EQ(wire[12], static_cast<std::uint8_t>(c.payload[0])) << c.description;
  }
}

TEST(DeviceFrames, ConsoleDecodesThePayloadWhereverTheReadsEnd) {
  for (const DeviceCase& c : DeviceCases()) {
    const Bytes wire = DeviceWire(c.payload);
    EXPECT_EQ(ConsoleDecode(wire, {}), std::vector<std::string>{c.payload}) << c.description;
    for (std::size_t cut = 1; cut < wire.size(); ++cut) {
      EXPECT_EQ(ConsoleDecode(wire, {cut}), std::vector<std::string>{c.payload})
          << c.description << ", cut at " << cut;
    }
  }
}

TEST(DeviceFrames, ConsoleDecodesFramesBackToBack) {
  Bytes stream;
  std::vector<std::string> payloads;
  for (const DeviceCase& c : DeviceCases()) {
    const Bytes wire = DeviceWire(c.payload);
    stream.insert(stream.end(), wire.begin(), wire.end());
    payloads.push_back(c.payload);
  }
  EXPECT_EQ(ConsoleDecode(stream, {}), payloads);
  std::vector<std::size_t> everyByte(stream.size());
  for (std::size_t i = 0; i < everyByte.size(); ++i) everyByte[i] = i + 1;
  EXPECT_EQ(ConsoleDecode(stream, everyByte), payloads);
}

// Random payloads of printable and high (GBK-like) bytes, random reads, line noise between
// frames: every frame arrives whole.
TEST(DeviceFrames, RandomPayloadsSurviveRandomReadsAndNoise) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(1, 255);
  Bytes stream;
  std::vector<std::string> payloads;
  for (int frame = 0; frame < 400; ++frame) {
    std::string payload(std::uniform_int_distribution<std::size_t>(1, 200)(random), ' ');
    for (char& ch : payload) {
      do {
        ch = static_cast<char>(byte(random));
      } while (ch == '\r' || ch == '\n');
    }
    const Bytes wire = DeviceWire(payload);
    const Bytes noise = sim::LineNoise(random);
    stream.insert(stream.end(), wire.begin(), wire.end());
    stream.insert(stream.end(), noise.begin(), noise.end());
    payloads.push_back(payload);
  }
  std::vector<std::size_t> cuts;
  for (std::size_t at = 0; at < stream.size();) {
    at += std::uniform_int_distribution<std::size_t>(1, 300)(random);
    cuts.push_back(at);
  }
  EXPECT_EQ(ConsoleDecode(stream, cuts), payloads);
}

TEST(DeviceFrames, CorruptChecksumIsDroppedAndTheNextFrameDecodes) {
  const std::optional<Bytes> bad =
      sim::EncodeDeviceFrame("AT+uart:ver,1#", sim::ChecksumMode::kCorrupt);
  ASSERT_TRUE(bad.has_value());
  const Bytes good = DeviceWire("AT+uart:ver,2#");
  EXPECT_EQ(ConsoleDecode(Concat({*bad, good}), {}), std::vector<std::string>{"AT+uart:ver,2#"});
}

TEST(DeviceFrames, PayloadsThatCannotBeFramedAreRefused) {
  const struct {
    const char* description;
    std::string payload;
  } rows[] = {
      {"empty", ""},
      {"a NUL byte", std::string("AT:a\0b", 6)},
      {"longer than the console stores", std::string(sim::kMaxDevicePayload + 1, 'a')},
  };
  for (const auto& row : rows) {
    EXPECT_FALSE(sim::EncodeDeviceFrame(row.payload).has_value()) << row.description;
  }
}

}  // namespace
