#pragma once
// tracker-jig's command line.

#include <optional>
#include <string>
#include <vector>

namespace jig {

// Exit statuses, as scripts on the line rely on them.
inline constexpr int kExitAllPassed = 0;
inline constexpr int kExitUnitFailed = 1;
inline constexpr int kExitNoTracker = 2;
inline constexpr int kExitUsage = 3;
// A unit's record is not in the store: set aside (quarantine) or lost.
inline constexpr int kExitRecordsNotStored = 4;

// A unit's GPS must meet these (each optional) before it passes.
struct GpsCriteria {
  std::optional<double> fixWithinSeconds;
  std::optional<int> minSatellitesUsed;
  std::optional<int> minStrongSatellites;
  double strongDbHz = 30;  // what "strong" means for minStrongSatellites
  [[nodiscard]] bool Any() const {
    return fixWithinSeconds || minSatellitesUsed || minStrongSatellites;
  }
};

struct JigOptions {
  enum class Target { kFirstFound, kPort, kDevice, kAll };
  Target target = Target::kFirstFound;
  std::string port;       // COMn, for Target::kPort
  std::string device;     // a device node, for Target::kDevice
  std::string portLabel;  // how the unit's port is named in reports (set for child runs)
  bool watch = false;
  std::string profile;
  double testTimeoutSeconds = 60;
  GpsCriteria gps;
  std::string station;
  std::string operatorName;
  std::string records;  // store URL; empty: the console's own SQLite file
  bool noRecords = false;
  bool json = false;
  bool help = false;
  bool version = false;
};

struct ParsedJigOptions {
  JigOptions options;
  std::string error;  // empty when the command line was understood
};

// `environmentUser` and `hostName` give the defaults of --operator and --station.
ParsedJigOptions ParseJigOptions(const std::vector<std::string>& arguments,
                                 const std::string& environmentUser = {},
                                 const std::string& hostName = {});

// Parses "fix=S,used=N,strong=K,dbhz=X" (any of them, any order); false with a message.
bool ParseGpsCriteria(const std::string& text, GpsCriteria* out, std::string* error);

// The arguments that make a child jig test one device the way this one was asked to.
std::vector<std::string> ChildArguments(const JigOptions& options, const std::string& device,
                                        const std::string& portLabel);

std::string JigHelpText();
std::string JigVersionText();

}  // namespace jig
