// Real receiver logs through the parser, compared with reviewed expected panels.
// TC_REGENERATE=1 rewrites the expected files instead of comparing; review the diff by hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/gps/nmea_panel_view.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(TC_TESTDATA_DIR) / "nmea";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The payloads the console would hand to the parser: one per line, '$' lines only, without
// the line end. The frame decoder drops NUL bytes, so they are dropped here too.
std::vector<std::string> Payloads(const std::string& log) {
  std::vector<std::string> payloads;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::erase(line, '\0');
    if (!line.empty() && line.front() == '$') payloads.push_back(line);
  }
  return payloads;
}

std::string Replay(const fs::path& log) {
  nmea_test::PanelRun run;
  for (const std::string& payload : Payloads(ReadFile(log))) run.Feed(payload);
  return "# " + log.filename().string() + ": the GPS panel after the whole log\n" +
         nmea_test::ViewText(run);
}

// garmin48.nmea -> garmin48.expected
fs::path ExpectedPath(const std::string& logName) {
  return kCorpus / fs::path(logName).replace_extension(".expected");
}

std::vector<std::string> LogNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    // The logs whose 32-cell panel was reviewed; every log's full view is in gnss_corpus_test.
    if (entry.path().extension() != ".nmea") continue;
    if (fs::exists(ExpectedPath(entry.path().filename().string()))) {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Regenerating() {
  const char* flag = std::getenv("TC_REGENERATE");
  return flag != nullptr && std::string_view(flag) == "1";
}

class NmeaCorpus : public testing::TestWithParam<std::string> {};

TEST_P(NmeaCorpus, FinalPanelMatchesTheReviewedExpectation) {
  const fs::path log = kCorpus / GetParam();
  const fs::path expectedPath = ExpectedPath(GetParam());
  const std::string actual = Replay(log);
  if (Regenerating()) {
    std::ofstream(expectedPath, std::ios::binary) << actual;
    GTEST_SKIP() << "rewrote " << expectedPath;
  }
  ASSERT_TRUE(fs::exists(expectedPath)) << "no expected panel; run once with TC_REGENERATE=1";
  EXPECT_EQ(actual, ReadFile(expectedPath));
}

// garmin-10x.nmea -> garmin_10x
std::string TestName(const testing::TestParamInfo<std::string>& row) {
  std::string name = fs::path(row.param).stem().string();
  std::replace_if(
      name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Logs, NmeaCorpus, testing::ValuesIn(LogNames()), TestName);

TEST(NmeaCorpusPayloads, LinesAreCutAtEitherLineEndAndNulBytesDropped) {
  using namespace std::string_literals;
  const std::string log =
      "$GPGGA,1\r\n\r\n#comment\n$GPGSA,A,3\n$GPGSV,1,1\0\0,00\r\nno dollar\n$GPGGA,2"s;
  EXPECT_EQ(Payloads(log),
            (std::vector<std::string>{"$GPGGA,1", "$GPGSA,A,3", "$GPGSV,1,1,00", "$GPGGA,2"}));
}

TEST(NmeaCorpusPayloads, EveryLogIsPresent) {
  EXPECT_EQ(LogNames().size(), 10U);  // each one's expectation is checked by its own test
}

}  // namespace
