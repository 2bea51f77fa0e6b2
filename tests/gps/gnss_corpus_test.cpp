// Every real receiver log through the parser, compared with what the sentences say when read
// by hand (files *.gnss beside the logs): signed position, fix, DOPs, RMC's values,
// satellites in view and used per system, and the time to first fix.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/gps/nmea_panel_view.h"

namespace {

namespace fs = std::filesystem;

const fs::path kLogs = fs::path(TC_NMEA_DIR);

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// As the console receives them: one payload per line, NUL bytes dropped, '$' lines only.
std::string Replay(const fs::path& log) {
  nmea_test::PanelRun run;
  std::istringstream lines(ReadFile(log));
  std::string line;
  while (std::getline(lines, line)) {
    std::erase(line, '\0');
    std::erase(line, '\r');
    if (!line.empty() && line.front() == '$') run.Feed(line);
  }
  return nmea_test::GnssViewText(run);
}

std::vector<std::string> LogNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kLogs)) {
    if (entry.path().extension() == ".nmea") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class GnssCorpus : public testing::TestWithParam<std::string> {};

TEST_P(GnssCorpus, PanelAfterTheLogIsWhatItsSentencesSay) {
  const fs::path expected = kLogs / (GetParam() + ".gnss");
  ASSERT_TRUE(fs::exists(expected)) << expected;
  EXPECT_EQ(Replay(kLogs / (GetParam() + ".nmea")), ReadFile(expected));
}

INSTANTIATE_TEST_SUITE_P(Logs, GnssCorpus, testing::ValuesIn(LogNames()),
                         [](const testing::TestParamInfo<std::string>& row) {
                           std::string name = row.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(GnssCorpusLogs, AllThirteenArePresent) {
  EXPECT_EQ(LogNames().size(), 13U);
}

}  // namespace
