// NMEA parser cost: every sentence of the real receiver logs, one payload each as the monitor
// thread delivers them, parsed round after round with the tables kept per log. Under callgrind
// (--toggle-collect='*ParseLogs*') the instruction count of the parsing alone, per sentence.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "gps/nmea_parser.h"

namespace {

struct ReceiverLog {
  std::vector<std::string> sentences;  // each NUL-terminated, as a payload
  gps::NmeaTables tables;
  gps::GpsPanelMembers panel;
};

std::vector<std::string> SentencesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<std::string> sentences;
  std::string line;
  while (std::getline(text, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '$') sentences.push_back(line);
  }
  return sentences;
}

std::vector<ReceiverLog> LoadLogs(const std::filesystem::path& folder) {
  std::vector<ReceiverLog> logs;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".nmea") continue;
    ReceiverLog& log = logs.emplace_back();
    log.sentences = SentencesOf(entry.path());
    log.panel.m_fixType = "no fix";
    log.panel.m_fixState = "no fix";
    log.tables.firstFix.Start();
  }
  return logs;
}

const gps::NmeaTexts kTexts{"no fix", "non-differential", "differential", "invalid", "fixed"};

// Kept out of line so callgrind can count it alone.
[[gnu::noinline]] std::size_t ParseLogs(std::vector<ReceiverLog>& logs, int rounds) {
  std::size_t refreshes = 0;
  for (int round = 0; round < rounds; ++round) {
    for (ReceiverLog& log : logs) {
      for (const std::string& sentence : log.sentences) {
        refreshes += gps::ParseNmea(sentence.c_str(), kTexts, log.tables, log.panel).refresh;
      }
    }
  }
  return refreshes;
}

}  // namespace

int main(int argc, char** argv) {
  const auto rounds = static_cast<int>(Argument(argc, argv, 1, 200));
  const std::filesystem::path folder = argc > 2 ? argv[2] : TC_NMEA_DIR;
  std::vector<ReceiverLog> logs = LoadLogs(folder);
  std::size_t perRound = 0;
  for (const ReceiverLog& log : logs) perRound += log.sentences.size();
  if (perRound == 0 || rounds <= 0) {
    std::fprintf(stderr, "bench_nmea: no sentences in %s\n", folder.c_str());
    return 1;
  }
  const auto start = Clock::now();
  const std::size_t refreshes = ParseLogs(logs, rounds);
  const double seconds = SecondsSince(start);
  const double sentences = static_cast<double>(perRound) * rounds;
  std::printf("bench_nmea: %zu logs, %zu sentences x %d rounds, %zu refreshes\n", logs.size(),
              perRound, rounds, refreshes);
  std::printf("%.3f s, %.2f M sentences/s, %.0f ns/sentence\n", seconds, sentences / seconds / 1e6,
              seconds * 1e9 / sentences);
  return 0;
}
