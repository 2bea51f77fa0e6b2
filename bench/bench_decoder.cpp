// Receive decoder throughput: a 64 MiB stream of mixed device traffic (log lines, replies,
// NMEA, 0x5A-rich payloads, noise) decoded in 4900-byte chunks, as the monitor thread
// delivers them.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "link/frame_decoder.h"
#include "tests/link/device_frames.h"

namespace {

constexpr std::size_t kStreamSize = 64u << 20;
constexpr int kChunkSize = 4900;
constexpr int kRounds = 3;

std::string EscapeRichPayload(std::mt19937& random) {
  std::string payload = "bin:";
  const int length = 16 + static_cast<int>(random() % 200);
  for (int i = 0; i < length; ++i) {
    payload += random() % 3 == 0 ? '\x5A' : static_cast<char>('0' + random() % 64);
  }
  return payload;
}

// Noise between frames. It opens with 0x55 so the frame before it ends (a checksum needs 0x55
// or 0x00 after it; a 0x00 after a checksum of 0x55 would form a start pair), and holds no
// further 0x55, so it never starts a frame.
std::string Noise(std::mt19937& random) {
  std::string noise = "\x55\x01";
  const int length = static_cast<int>(random() % 40);
  for (int i = 0; i < length; ++i) {
    const auto b = static_cast<char>(random() % 256);
    noise += b == '\x55' ? '\x54' : b;
  }
  return noise;
}

std::string BuildStream(std::size_t* framesSent) {
  const std::vector<std::string> payloads = {
      "AT+uart:imei,ok#",
      "AT+uart:ver,TK-2.1.7 build 0423#",
      "status:gsm=23,gps=7,agps=1,sim=1",
      "$GPGGA,091502.00,3958.1234,N,11619.5678,E,1,08,0.9,45.6,M,-6.2,M,,*5B",
      "$GPGSA,A,3,05,12,15,18,24,25,29,,,,,,1.8,0.9,1.5*3C",
      "$GPGSV,3,1,12,05,40,083,46,12,33,210,41,15,70,010,48,18,12,300,30*7A",
      "heartbeat 0001 battery 88% charging no\r\n",
  };
  std::mt19937 random(12345);
  std::string stream;
  stream.reserve(kStreamSize + 512);
  *framesSent = 0;
  while (stream.size() < kStreamSize) {
    const unsigned pick = random() % 10;
    if (pick < 7) {
      stream += linktest::DeviceFrameBytes(payloads[random() % payloads.size()]);
      ++*framesSent;
    } else if (pick < 9) {
      stream += linktest::DeviceFrameBytes(EscapeRichPayload(random));
      ++*framesSent;
    } else {
      stream += Noise(random);
    }
  }
  return stream;
}

}  // namespace

int main() {
  std::size_t framesSent = 0;
  const std::string stream = BuildStream(&framesSent);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
  double best = 1e9;
  std::size_t frames = 0;
  std::size_t payloadBytes = 0;
  for (int round = 0; round < kRounds; ++round) {
    devlink::FrameDecoder decoder;
    frames = 0;
    payloadBytes = 0;
    const auto onFrame = [&](const devlink::DecodedFrame& f) {
      ++frames;
      payloadBytes += f.text.size();
    };
    const auto start = Clock::now();
    for (std::size_t offset = 0; offset < stream.size(); offset += kChunkSize) {
      const auto count =
          static_cast<int>(std::min<std::size_t>(kChunkSize, stream.size() - offset));
      devlink::DecodeChunk(decoder, bytes + offset, count, onFrame);
    }
    best = std::min(best, SecondsSince(start));
  }
  std::printf(
      "bench_decoder: %.1f MiB in %d-byte chunks, %zu frames sent, %zu decoded (%zu payload "
      "bytes)\n",
      static_cast<double>(stream.size()) / (1 << 20), kChunkSize, framesSent, frames, payloadBytes);
  std::printf("best of %d: %.3f s, %.1f MB/s, %.2f M frames/s\n", kRounds, best,
              static_cast<double>(stream.size()) / best / 1e6,
              static_cast<double>(frames) / best / 1e6);
  return 0;
}
