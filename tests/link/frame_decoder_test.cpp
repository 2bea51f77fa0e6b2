// The receive decoder against device byte streams, fed whole and in every chunking the serial
// port might produce.

#include "link/frame_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "link/frame_encoder.h"
#include "tests/link/device_frames.h"

namespace {

using namespace std::string_literals;
using linktest::Checksum;
using linktest::DeviceFrameBytes;
using linktest::DoubleEscapes;
using linktest::Header;
using linktest::kZeroHeader;
using linktest::RawDeviceFrame;
using linktest::StartAndHeader;

using Got = std::pair<std::string, int>;  // a frame's text and sequence number

// Decodes `stream` with a fresh decoder, the chunks ending at `cuts` (ascending) and at the end.
std::vector<Got> Decode(const std::string& stream, const std::vector<std::size_t>& cuts = {}) {
  auto decoder = std::make_unique<devlink::FrameDecoder>();
  std::vector<Got> got;
  const auto collect = [&](const devlink::DecodedFrame& f) {
    got.push_back({std::string(f.text), f.sequence});
  };
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
  std::size_t begin = 0;
  for (std::size_t end : cuts) {
    devlink::DecodeChunk(*decoder, bytes + begin, static_cast<int>(end - begin), collect);
    begin = end;
  }
  devlink::DecodeChunk(*decoder, bytes + begin, static_cast<int>(stream.size() - begin), collect);
  EXPECT_GE(decoder->payloadLength, 0);
  EXPECT_LE(decoder->payloadLength, devlink::kMaxPayloadLength);
  return got;
}

// A device stream built frame by frame.
struct Stream {
  std::string bytes;

  Stream& Add(std::string_view wire) {
    bytes += wire;
    return *this;
  }
  Stream& Frame(std::string_view payload, const Header& header = kZeroHeader) {
    return Add(DeviceFrameBytes(payload, header));
  }
  // Payload sent as `wire`, which the decoder should reduce to `unescaped`.
  Stream& Raw(std::string_view wire, std::string_view unescaped) {
    return Add(RawDeviceFrame(wire, Checksum(unescaped)));
  }
  // The checksum byte is wrong, so the bytes after it count as payload until the next start.
  Stream& BadChecksum(std::string_view payload) {
    return Add(RawDeviceFrame(DoubleEscapes(payload), Checksum(payload) ^ 0x01));
  }
  // Start pair, header and part of a payload; the next start pair cuts it off.
  Stream& CutOff(std::string_view payload) {
    return Add(StartAndHeader(kZeroHeader) + DoubleEscapes(payload));
  }
  // The console's own frame, stuffed as the encoder sends it.
  Stream& Encoded(const devlink::StuffedFrame& frame) { return Add(linktest::WireBytes(frame)); }
};

std::string Z(int count) {
  return std::string(static_cast<std::size_t>(count), '\x5A');
}

struct StreamCase {
  std::string what;
  Stream stream;
  std::vector<Got> frames;
};

const std::string kWorkedExample =
    "\x55\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "AT+uart:imei,ok#\x40"s;

std::vector<StreamCase> StreamCases() {
  const std::string reply = "AT+uart:imei,ok#";
  const std::string gga = "$GPGGA,091502.00,3958.1234,N,11619.5678,E,1,08,0.9,45.6,M,,M,,*5B";
  const Header header = {0x01, 0x02, 0x7E, 0x80, 0xFF, 0x10, 0x20, 0x30, 0x40, 0x99};
  const std::string longest(devlink::kMaxPayloadLength, 'A');
  std::vector<StreamCase> cases = {
      {"worked example: one reply, bytes as documented",
       Stream().Add(kWorkedExample),
       {{reply, 0}}},
      {"two frames back to back",
       Stream().Frame("AT+uart:ver,V2.1#").Frame("hello device"),
       {{"AT+uart:ver,V2.1#", 0}, {"hello device", 1}}},
      {"NMEA between log frames is numbered too",
       Stream().Frame("boot").Frame(gga).Frame("AT+uart:gps,1#"),
       {{"boot", 0}, {gga, 1}, {"AT+uart:gps,1#", 2}}},
      {"bad checksum, then a good frame",
       Stream().BadChecksum("status garbled").Frame("status ok"),
       {{"status ok", 0}}},
      {"NUL as first or second payload byte abandons",
       Stream().Frame(std::string("\0abc", 4)).Frame(std::string("a\0bc", 4)).Frame("next"),
       {{"next", 0}}},
      {"NULs later in the payload are skipped",
       Stream().Frame(std::string("ab\0c\0\0d", 7)),
       {{"abcd", 0}}},
      {"CR and LF never stored",
       Stream().Frame("line one\r\n").Frame("a\rb\nc\r\n"),
       {{"line one", 0}, {"abc", 1}}},
      {"escaped 0x5A at both ends of the payload",
       Stream().Frame(Z(1) + "mid" + Z(2)),
       {{Z(1) + "mid" + Z(2), 0}}},
      {"5A 01 is not translated", Stream().Raw("x\x5A\x01y", "x\x5A\x01y"), {{"x\x5A\x01y", 0}}},
      {"header values are not examined",
       Stream().Frame("hdr", header).Frame("zero hdr"),
       {{"hdr", 0}, {"zero hdr", 1}}},
      {"a longest frame fits, one byte longer is dropped",
       Stream().Frame(longest).Frame(longest + "A").Frame("next"),
       {{longest, 0}, {"next", 1}}},
      {"a frame cut off by the next start pair leaves no trace",
       Stream().CutOff("half a fr").Frame("whole"),
       {{"whole", 0}}},
      {"noise after a quiet gap is ignored",
       Stream().Frame("one").Add("\x00\x12\xFF\x5A\x5A\x55\x5A\x01\x00\x00\x55"s).Frame("two"),
       {{"one", 0}, {"two", 1}}},
      {"the console's own ver,? frame loses four text bytes to the longer header",
       Stream().Encoded(devlink::EncodeUartCommand("ver,?")),
       {{"art:ver,?#", 0}}},
  };
  // A run of 0x5A on the wire: each pair is one, a single one is kept.
  for (const int run : {1, 2, 3, 4}) {
    const std::string wire = "run" + Z(run) + "end";
    const std::string text = "run" + Z((run + 1) / 2) + "end";
    cases.push_back({wire, Stream().Raw(wire, text), {{text, 0}}});
  }
  return cases;
}

TEST(FrameDecoder, StreamsWholeAndSplitInTwoAtEveryOffset) {
  for (const StreamCase& c : StreamCases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Decode(c.stream.bytes), c.frames);
    for (std::size_t cut = 1; cut < c.stream.bytes.size(); ++cut) {
      ASSERT_EQ(Decode(c.stream.bytes, {cut}), c.frames) << "split at " << cut;
    }
  }
}

TEST(FrameDecoder, StreamsInRandomChunks) {
  std::mt19937 random(20240611);
  constexpr std::size_t kChunkLimits[] = {1, 2, 3, 7, 16, 64, 600, 4900};
  for (const StreamCase& c : StreamCases()) {
    SCOPED_TRACE(c.what);
    for (int round = 0; round < 300; ++round) {
      const std::size_t limit = kChunkLimits[random() % std::size(kChunkLimits)];
      std::vector<std::size_t> cuts;
      for (std::size_t at = 1 + random() % limit; at < c.stream.bytes.size();
           at += 1 + random() % limit) {
        cuts.push_back(at);
      }
      ASSERT_EQ(Decode(c.stream.bytes, cuts), c.frames) << "round " << round;
    }
  }
}

// The one place where chunking shows: a payload byte equal to the running XOR (here the "t":
// 0x55 ^ 'H' ^ 'i' == 't') ends the frame when the chunk ends right after it, since the
// chunk's end reads as the line going quiet.
TEST(FrameDecoder, SplitAfterByteEqualToRunningXorEndsFrameEarly) {
  const std::string stream = DeviceFrameBytes("Hit me") + DeviceFrameBytes("next");
  ASSERT_EQ('t', 0x55 ^ 'H' ^ 'i');
  const std::size_t afterT = 12 + 3;
  EXPECT_EQ(Decode(stream), (std::vector<Got>{{"Hit me", 0}, {"next", 1}}));
  EXPECT_EQ(Decode(stream, {afterT}), (std::vector<Got>{{"Hi", 0}, {"next", 1}}));
  EXPECT_EQ(Decode(stream, {afterT - 1}), Decode(stream));
  EXPECT_EQ(Decode(stream, {afterT + 1}), Decode(stream));
}

// A checksum of 0x5A must come single: doubled, its first byte is followed by 0x5A and fails
// the end test, so the frame is lost, except when the chunk ends between the two.
TEST(FrameDecoder, ChecksumFiveAMustBeSentSingle) {
  ASSERT_EQ(Checksum("AN"), 0x5A);
  const std::string single = DeviceFrameBytes("AN") + DeviceFrameBytes("next");
  EXPECT_EQ(Decode(single), (std::vector<Got>{{"AN", 0}, {"next", 1}}));

  const std::string doubled = RawDeviceFrame("AN", 0x5A) + "\x5A" + DeviceFrameBytes("next");
  EXPECT_EQ(Decode(doubled), (std::vector<Got>{{"next", 0}}));
  const std::size_t betweenTheTwo = 12 + 2 + 1;
  EXPECT_EQ(Decode(doubled, {betweenTheTwo}), (std::vector<Got>{{"AN", 0}, {"next", 1}}));
}

}  // namespace
