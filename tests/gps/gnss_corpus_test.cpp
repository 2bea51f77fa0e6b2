// Every real receiver log through the parser, compared with what the sentences say when read
// by hand (files *.gnss beside the logs: signed position, fix, DOPs, RMC's values, satellites
// in view and used per system, the time to first fix) and, where reviewed (*.expected), with
// the whole 32-cell panel. TC_REGENERATE=1 rewrites the *.expected files; review the diff.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
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
  // As the console receives them: one payload per line, NUL bytes dropped, '$' lines only.
  nmea_test::PanelRun run;
  std::istringstream lines(ReadFile(kLogs / (GetParam() + ".nmea")));
  std::string line;
  while (std::getline(lines, line)) {
    std::erase(line, '\0');
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '$') run.Feed(line);
  }
  const fs::path gnss = kLogs / (GetParam() + ".gnss");
  ASSERT_TRUE(fs::exists(gnss)) << gnss;
  EXPECT_EQ(nmea_test::GnssViewText(run), ReadFile(gnss));

  const fs::path panel = kLogs / (GetParam() + ".expected");
  if (!fs::exists(panel)) return;
  const std::string actual =
      "# " + GetParam() + ".nmea: the GPS panel after the whole log\n" + nmea_test::ViewText(run);
  const char* regenerate = std::getenv("TC_REGENERATE");
  if (regenerate != nullptr && std::string(regenerate) == "1") {
    std::ofstream(panel, std::ios::binary) << actual;
  }
  EXPECT_EQ(actual, ReadFile(panel));
}

// Test names allow letters, digits and '_' only.
std::string TestName(const testing::TestParamInfo<std::string>& row) {
  std::string name = row.param;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Logs, GnssCorpus, testing::ValuesIn(LogNames()), TestName);

TEST(GnssCorpusLogs, AllThirteenArePresentAndTenPanelsReviewed) {
  const std::vector<std::string> names = LogNames();
  EXPECT_EQ(names.size(), 13U);
  EXPECT_EQ(
      std::count_if(names.begin(), names.end(),
                    [](const std::string& n) { return fs::exists(kLogs / (n + ".expected")); }),
      10);
}

}  // namespace
