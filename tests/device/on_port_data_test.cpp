// The receive handler through the real ConfigLogic: log lines in the pane and the recording
// file, the data exchange around each chunk, paused display, odd slot counts, and chunking.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "device/config_logic.h"
#include "tests/link/device_frames.h"
#include "tests/support/console_harness.h"

namespace {

using linktest::DeviceFrameBytes;

// The dialog's logic with a recording surface, recording its log to a scratch file.
struct Console : ConsoleHarness {
  // Beside the ports folder, in the temporary folder that goes with the harness.
  std::string LogPath() const { return PortsFolder() + "/../log.txt"; }

  // Starts recording and forgets the refreshes that took.
  void Record() {
    surface.nextLogFileName = LogPath();
    logic.OnSaveToFile();
    ASSERT_TRUE(state.m_saving);
    surface.saves = 0;
    surface.refreshes = 0;
  }

  std::string LogFile() const {
    std::ifstream in(LogPath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  void Deliver(const std::string& bytes, std::optional<std::int32_t> claimedCount = {}) {
    auto slot = std::make_unique<RxSlot>();
    std::copy(bytes.begin(), bytes.end(), slot->bytes);
    slot->byteCount = claimedCount.value_or(static_cast<std::int32_t>(bytes.size()));
    logic.OnPortData(*slot, 7);
  }
};

// The time of day is the one part of a line a test cannot know: checked for its form
// (HH:MM:SS between tabs) and replaced by "T".
std::string Untimed(const std::string& text) {
  static const std::regex time("\t[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\t");
  return std::regex_replace(text, time, "\tT\t");
}

struct Chunk {
  std::string bytes;
  std::optional<std::int32_t> claimedCount = {};  // the slot's byteCount when not bytes.size()
};

struct ChunkCase {
  const char* what;
  std::vector<Chunk> chunks;
  std::vector<std::string> fileAfter;  // after each chunk; the pane shows the same unless paused
  int paneAppends;
  bool paused = false;         // by the operator, on the screen only
  bool exactRefreshes = true;  // NMEA and replies may refresh on their own
};

// A slot filled to its last byte, the frame ending there.
std::string FrameAtEndOfSlot(const std::string& frame) {
  return std::string(sizeof(RxSlot::bytes) - frame.size(), '\0') + frame;
}

std::vector<ChunkCase> ChunkCases() {
  const std::string one = DeviceFrameBytes("hello device");
  const std::string two = DeviceFrameBytes("second line");
  const std::string gsv = DeviceFrameBytes("$GPGSV,1,1,01,05,40,083,46*4A");
  const std::string lineOne = " 0\tT\thello device\r\n";
  const std::string lineTwo = " 1\tT\tsecond line\r\n";
  return {
      {"two frames in one chunk: one append holding both", {{one + two}}, {lineOne + lineTwo}, 1},
      {"a frame over two chunks: empty texts first, the line with the second",
       {{one.substr(0, 9)}, {one.substr(9)}},
       {"", lineOne},
       2},
      {"line ends inside the payload: exactly one CR LF",
       {{DeviceFrameBytes("text\r\n")}},
       {" 0\tT\ttext\r\n"},
       1},
      {"NMEA is numbered but not logged; a reply is logged like any line",
       {{one + gsv + DeviceFrameBytes("AT+uart:hello#")}},
       {lineOne + " 2\tT\tAT+uart:hello#\r\n"},
       1,
       false,
       false},
      {"paused: pane untouched, file gets every line",
       {{one}, {two}},
       {lineOne, lineOne + lineTwo},
       0,
       true},
      {"empty slots between the halves of a frame: nothing decoded, the pane still touched",
       {{one.substr(0, 20)}, {"", 0}, {"", -5}, {"", INT32_MIN}, {one.substr(20)}},
       {"", "", "", "", lineOne},
       5},
      {"a count beyond the slot decodes the slot only",
       {{FrameAtEndOfSlot(one), 1 << 30}, {FrameAtEndOfSlot(two), INT32_MAX}},
       {lineOne, lineOne + lineTwo},
       2},
  };
}

TEST(OnPortData, ChunksToPaneAndFile) {
  const std::string earlier = "earlier\r\n";
  for (const ChunkCase& c : ChunkCases()) {
    SCOPED_TRACE(c.what);
    Console console;
    console.Record();
    console.surface.pane = earlier;
    // The operator's click reaches the member only through UpdateData(TRUE): the handler
    // must take it first to see the display paused.
    if (c.paused) console.surface.Controls().m_pauseCaption = T(kStartDisplay);
    for (std::size_t i = 0; i < c.chunks.size(); ++i) {
      SCOPED_TRACE("after chunk " + std::to_string(i));
      console.Deliver(c.chunks[i].bytes, c.chunks[i].claimedCount);
      EXPECT_EQ(Untimed(console.LogFile()), c.fileAfter[i]);
      EXPECT_EQ(Untimed(console.surface.pane), earlier + (c.paused ? "" : c.fileAfter[i]));
      if (c.exactRefreshes) {
        EXPECT_EQ(console.surface.saves, static_cast<int>(i) + 1);
        EXPECT_EQ(console.surface.refreshes, static_cast<int>(i) + 1);
      }
    }
    EXPECT_EQ(console.surface.paneAppends, c.paneAppends);
  }
}

}  // namespace
