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
using Cuts = std::vector<std::size_t>;  // where reads end, ascending

Bytes Wire(const devlink::StuffedFrame& frame) {
  return Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Cuts EveryByte(std::size_t size) {
  Cuts cuts(size);
  for (std::size_t i = 0; i < size; ++i) cuts[i] = i + 1;
  return cuts;
}

template <typename Feed>
void FeedInReads(const Bytes& stream, const Cuts& cuts, const Feed& feed) {
  std::size_t begin = 0;
  for (std::size_t cut : cuts) {
    const std::size_t end = std::min(cut, stream.size());
    feed(stream.data() + begin, end - begin);
    begin = end;
  }
  feed(stream.data() + begin, stream.size() - begin);
}

std::vector<std::string> SimDecode(const Bytes& stream, const Cuts& cuts,
                                   long* badChecksums = nullptr) {
  sim::ConsoleFrameDecoder decoder;
  std::vector<std::string> texts;
  FeedInReads(stream, cuts, [&](const std::uint8_t* bytes, std::size_t count) {
    decoder.Feed(bytes, count, [&](std::string_view text) { texts.emplace_back(text); });
  });
  if (badChecksums != nullptr) *badChecksums = decoder.stats().badChecksums;
  return texts;
}

std::vector<std::string> ConsoleDecode(const Bytes& stream, const Cuts& cuts) {
  devlink::FrameDecoder decoder;
  std::vector<std::string> payloads;
  FeedInReads(stream, cuts, [&](const std::uint8_t* bytes, std::size_t count) {
    devlink::DecodeChunk(decoder, bytes, static_cast<int>(count),
                         [&](const devlink::DecodedFrame& f) { payloads.emplace_back(f.text); });
  });
  return payloads;
}

Bytes DeviceWire(std::string_view payload) {
  std::optional<Bytes> frame = sim::EncodeDeviceFrame(payload);
  EXPECT_TRUE(frame.has_value()) << payload;
  return frame.value_or(Bytes{});
}

TEST(ConsoleFrames, DecodeInTheSimWhereverTheReadsEnd) {
  const Bytes ver = Wire(devlink::EncodeUartCommand("ver,?"));
  Bytes badVer = ver;
  badVer.back() ^= 0x01;
  const std::string full(125, 'x');
  const struct {
    const char* description;
    Bytes stream;
    std::vector<std::string> texts;
    long badChecksums = 0;
  } rows[] = {
      {"a read request", ver, {"AT+uart:ver,?#"}},
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
  for (const auto& row : rows) {
    long badChecksums = 0;
    EXPECT_EQ(SimDecode(row.stream, {}, &badChecksums), row.texts) << row.description;
    EXPECT_EQ(badChecksums, row.badChecksums) << row.description;
    EXPECT_EQ(SimDecode(row.stream, EveryByte(row.stream.size())), row.texts)
        << row.description << ", byte by byte";
    for (std::size_t cut = 1; cut < row.stream.size(); ++cut) {
      EXPECT_EQ(SimDecode(row.stream, {cut}), row.texts) << row.description << ", cut at " << cut;
    }
  }
}

// A payload whose checksum is the given byte, found by varying one character.
std::string PayloadWithChecksum(std::uint8_t wanted) {
  for (int c = 0x21; c < 0x7F; ++c) {
    const std::string payload = std::string("AT:x") + static_cast<char>(c);
    if (DeviceWire(payload).back() == wanted) return payload;
  }
  ADD_FAILURE() << "no payload with checksum " << int(wanted);
  return "AT:x";
}

// The tracker sends a 0x5A checksum single, unlike 0x5A in the payload.
TEST(DeviceFrames, ChecksumOf0x5AGoesOutSingle) {
  const Bytes wire = DeviceWire(PayloadWithChecksum(0x5A));
  ASSERT_GE(wire.size(), 2u);
  EXPECT_EQ(wire.back(), 0x5A);
  EXPECT_NE(wire[wire.size() - 2], 0x5A);
}

TEST(DeviceFrames, ConsoleDecodesThePayloadWhereverTheReadsEnd) {
  const struct {
    const char* description;
    std::string payload;
  } rows[] = {
      {"a reply", "AT+uart:imei,ok#"},
      {"an NMEA sentence", "$GPGGA,084512.00,3130.5210,N,12126.8843,E,2,07,1.1,12.5,M,8.4,M,,*6E"},
      {"a payload with runs of 0x5A", "AT:ZZZ ZZ Z"},
      {"a payload ending in 0x5A", "AT:ZZ"},
      {"a payload starting with 0x5A", "ZAT"},
      {"a payload with 0x55 (not stuffed by the device)", "AT:UU U"},
      {"a checksum of 0x5A", PayloadWithChecksum(0x5A)},
      {"a checksum of 0x55", PayloadWithChecksum(0x55)},
      {"a GBK payload", "AT:\xb2\xe2\xca\xd4\xd6\xd0\x5a\xcd\xa8"},
      {"a long payload", std::string(300, 'q') + "AT:end"},
  };
  for (const auto& row : rows) {
    const Bytes wire = DeviceWire(row.payload);
    const std::vector<std::string> expected{row.payload};
    ASSERT_GT(wire.size(), 12u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 2), (Bytes{0x55, 0x00})) << row.description;
    EXPECT_EQ(wire[2 + sim::kDeviceHeaderSize], static_cast<std::uint8_t>(row.payload[0]))
        << row.description;
    EXPECT_EQ(ConsoleDecode(wire, {}), expected) << row.description;
    for (std::size_t cut = 1; cut < wire.size(); ++cut) {
      EXPECT_EQ(ConsoleDecode(wire, {cut}), expected) << row.description << ", cut at " << cut;
    }
  }
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
    stream = Concat({stream, DeviceWire(payload), sim::LineNoise(random)});
    payloads.push_back(payload);
  }
  Cuts cuts;
  for (std::size_t at = 0; at < stream.size();) {
    at += std::uniform_int_distribution<std::size_t>(1, 300)(random);
    cuts.push_back(at);
  }
  EXPECT_EQ(ConsoleDecode(stream, cuts), payloads);
}

TEST(DeviceFrames, PayloadsThatCannotBeFramedAreRefused) {
  for (const std::string& payload :
       {std::string(), std::string("AT:a\0b", 6), std::string(sim::kMaxDevicePayload + 1, 'a')}) {
    EXPECT_FALSE(sim::EncodeDeviceFrame(payload).has_value()) << payload.size() << " bytes";
  }
}

}  // namespace
