#pragma once
// tracker-sim's command line.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/sim/tracker_model.h"

namespace sim {

struct SimOptions {
  TrackerParams presets;
  std::array<bool, 3> failTest{};  // indexed by TestPart
  StepFaults stepFaults;
  bool neverFix = false;    // the GPS never gets a fix
  std::string unplugOnKey;  // remove the port when a command with this first key comes

  int portNumber = 0;       // preferred COM number (97..127), 0: the lowest free one
  std::string portsFolder;  // empty: serial::PortsFolder()

  bool nmea = true;
  std::string nmeaFile;       // replay instead of the built-in drive
  bool glonass = false;       // the built-in drive is a GPS + GLONASS receiver
  double statusInterval = 5;  // seconds; 0: no status reports
  double logInterval = 7;     // seconds between plain log lines; 0: none
  std::optional<std::uint32_t> seed;

  int badChecksumEvery = 0;               // 0: every checksum right
  std::vector<std::size_t> splitOffsets;  // ascending byte offsets into each frame
  bool garbage = false;
  bool flood = false;
  bool silent = false;
  double unplugAfter = -1;  // seconds after start; < 0: never
  double replugAfter = -1;  // seconds after an unplug; < 0: stay unplugged
  bool verbose = false;
  bool help = false;
};

struct ParsedOptions {
  SimOptions options;
  std::string error;  // empty when the command line was understood
};

ParsedOptions ParseSimOptions(const std::vector<std::string>& arguments);
std::string SimHelpText();

}  // namespace sim
