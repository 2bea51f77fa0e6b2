#pragma once
// A station profile: the parameter values every unit at a station gets (never an IMEI). On disk
// a UTF-8 text file, "format = 1" then "key = value" lines, "#" comments; in memory GBK, as the
// members and the device hold it. A bad file is refused whole, naming the file, line and reason.

#include <map>
#include <string>
#include <vector>

#include "device/dialog_state.h"

namespace station {

inline constexpr int kProfileFormat = 1;

struct Profile {
  std::string name;                           // the file's name without folder and extension
  std::string hash;                           // SHA-256 of the file's bytes, hex
  std::map<std::string, std::string> values;  // profile key -> GBK value, whole groups only
};

// One parameter group as the sequence applies and verifies it.
struct GroupPlan {
  std::string group;                    // "address", "numbers", ...
  std::string setCommand;               // GBK, without "#"
  std::string readCommand;              // e.g. "sos1,?,sos2,?,sos3,?"
  std::vector<std::string> replyKeys;   // the reply's keys at fields 0, 2, 4
  std::vector<std::string> fieldNames;  // the profile keys, in reply order
  std::vector<std::string> expected;    // GBK values, in reply order
};

// Every group the profile holds, in the dialog's order.
std::vector<GroupPlan> PlanGroups(const Profile& profile);

// Parses a profile file's bytes; on refusal returns false and says "<file>:<line>: <reason>".
bool ParseProfile(const std::string& fileName, const std::string& bytes, Profile* out,
                  std::string* error);
bool LoadProfile(const std::string& path, Profile* out, std::string* error);

// The file text of a profile (UTF-8).
std::string ProfileText(const Profile& profile);
// Writes the text beside the path, then renames it over; false with a message on failure.
bool SaveProfile(const std::string& path, const Profile& profile, std::string* error);

// The dialog's fields as a profile: every group with any value; refused like a file would be.
bool ProfileFromFields(const DialogState& fields, Profile* out, std::string* error);
// The profile's values into the fields (groups it lacks are left alone).
void ApplyToFields(const Profile& profile, DialogState* fields);

}  // namespace station
