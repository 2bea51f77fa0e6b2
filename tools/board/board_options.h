#pragma once
// tracker-board's command line.

#include <string>
#include <vector>

#include "records/line_figures.h"

namespace board {

inline constexpr int kExitUsage = 2;
inline constexpr int kExitCannotServe = 1;

struct BoardOptions {
  std::string records;  // store URL
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string token;                  // empty: none asked
  double yieldThresholdPercent = 95;  // the last hour's first-pass yield below this warns
  std::string lang = "zh";
  records::GpsLimits gps;
  bool help = false;
  bool version = false;
};

struct ParsedBoardOptions {
  BoardOptions options;
  std::string error;  // empty when the command line was understood
};

ParsedBoardOptions ParseBoardOptions(const std::vector<std::string>& arguments);

// True for names and addresses of this machine alone: localhost, 127.0.0.0/8, ::1.
bool IsLoopback(const std::string& host);

std::string BoardHelpText();

}  // namespace board
