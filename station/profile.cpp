#include "station/profile.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "device/set_commands.h"
#include "link/frame_encoder.h"
#include "platform/gbk.h"
#include "station/sha256.h"

namespace station {

namespace {

// Past this many command bytes the frame cuts off the "#" (see the encoder).
constexpr std::size_t kLongestCommand = devlink::kTextAreaSize - 9;
constexpr std::size_t kLargestProfile = 64 * 1024;
// A reply field holds 99 bytes and its terminating zero.
constexpr std::size_t kLongestField = 99;

struct GroupSpec {
  const char* group;
  std::vector<const char*> keys;       // profile keys, in reply order
  std::vector<const char*> replyKeys;  // the device's keys
  std::vector<std::string DialogState::*> members;
  std::function<std::string(const std::vector<std::string>&)> compose;
};

const std::vector<GroupSpec>& Groups() {
  static const std::vector<GroupSpec> groups = {
      {"address",
       {"address", "port", "domain"},
       {"ip_url", "port", "url"},
       {&DialogState::m_serverAddr, &DialogState::m_serverPort, nullptr},
       [](const auto& v) { return setcmd::Address(v[0], v[1], v[2] == "1"); }},
      {"numbers",
       {"center", "slave"},
       {"center_number", "slave_number"},
       {&DialogState::m_centerNumber, &DialogState::m_slaveNumber},
       [](const auto& v) { return setcmd::Numbers(v[0], v[1]); }},
      {"language",
       {"language", "zone"},
       {"language", "zone"},
       {&DialogState::m_language, &DialogState::m_zone},
       [](const auto& v) { return setcmd::Language(v[0], v[1]); }},
      {"sos",
       {"sos1", "sos2", "sos3"},
       {"sos1", "sos2", "sos3"},
       {&DialogState::m_sos1, &DialogState::m_sos2, &DialogState::m_sos3},
       [](const auto& v) { return setcmd::Sos(v[0], v[1], v[2]); }},
      {"monitor",
       {"monitor"},
       {"monitor"},
       {&DialogState::m_monitorNumber},
       [](const auto& v) { return setcmd::Monitor(v[0]); }},
      {"upload",
       {"upload"},
       {"upload"},
       {&DialogState::m_uploadInterval},
       [](const auto& v) { return setcmd::Upload(v[0]); }},
  };
  return groups;
}

const GroupSpec* GroupOfKey(const std::string& key) {
  for (const auto& group : Groups()) {
    for (const char* k : group.keys) {
      if (key == k) return &group;
    }
  }
  return nullptr;
}

std::vector<std::string> ValuesOf(const GroupSpec& group, const Profile& profile) {
  std::vector<std::string> values;
  for (const char* key : group.keys) values.push_back(profile.values.at(key));
  return values;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Where `text` stops being UTF-8, or npos. iconv refuses overlong forms, surrogates and code
// points past U+10FFFF, which a lenient check lets through to the GBK conversion.
std::size_t FirstNonUtf8(const std::string& text) {
  const iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char buffer[1024];
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) || errno != E2BIG) {
      break;
    }
  }
  iconv_close(cd);
  return inLeft == 0 ? std::string::npos : text.size() - inLeft;
}

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// The device's fields hold no NUL, line end, escape or tab; empty when fine.
std::string ControlProblem(const std::string& key, const std::string& value) {
  const auto control = std::find_if(value.begin(), value.end(), IsControl);
  if (control == value.end()) return {};
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(*control));
  return "\"" + key + "\": a value cannot hold control characters (byte " + hex + ")";
}

// A value the frame and the reply grammar can carry unchanged; empty when fine.
std::string ValueProblem(const std::string& key, const std::string& utf8, std::string* gbkOut) {
  if (utf8.find_first_of(",#") != std::string::npos) {
    return "\"" + key + "\": a value cannot hold \",\" or \"#\"";
  }
  if (auto problem = ControlProblem(key, utf8); !problem.empty()) return problem;
  if (key == "domain" && utf8 != "0" && utf8 != "1") return "\"domain\" must be 0 or 1";
  *gbkOut = gbk::FromUtf8(utf8);
  if (gbk::ToUtf8(*gbkOut) != utf8) return "\"" + key + "\": a character the device cannot hold";
  // The device answers each value in one reply field.
  if (gbkOut->size() > kLongestField) {
    return "\"" + key + "\": longer than the device's " + std::to_string(kLongestField) +
           " bytes (" + std::to_string(gbkOut->size()) + " bytes in GBK)";
  }
  return {};
}

// Whole groups only, the dialog's own checks, and every request fitting one frame. `*key` is
// the key the problem is found at.
std::string GroupProblem(const Profile& profile, std::string* key) {
  for (const auto& group : Groups()) {
    std::size_t present = 0;
    for (const char* k : group.keys) present += profile.values.count(k);
    if (present == 0) continue;
    *key = group.keys[0];
    for (const char* k : group.keys) {
      if (!profile.values.count(k)) {
        return std::string("\"") + k + "\" missing: the " + group.group + " group is set whole";
      }
    }
    const auto values = ValuesOf(group, profile);
    if (group.group == std::string("address")) {
      if (auto refused = setcmd::CheckAddress(values[0], values[1])) return texts::Utf8(*refused);
    }
    if (group.compose(values).size() > kLongestCommand) {
      return std::string("the ") + group.group + " values are too long for one request";
    }
  }
  return {};
}

std::string BaseName(const std::string& path) {
  return std::filesystem::path(path).stem().string();
}

}  // namespace

std::vector<GroupPlan> PlanGroups(const Profile& profile) {
  std::vector<GroupPlan> plans;
  for (const auto& group : Groups()) {
    if (!profile.values.count(group.keys[0])) continue;
    GroupPlan plan;
    plan.group = group.group;
    plan.expected = ValuesOf(group, profile);
    plan.setCommand = group.compose(plan.expected);
    for (std::size_t i = 0; i < group.keys.size(); ++i) {
      plan.fieldNames.push_back(group.keys[i]);
      plan.replyKeys.push_back(group.replyKeys[i]);
      plan.readCommand += (i ? "," : "") + std::string(group.replyKeys[i]) + ",?";
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

bool ParseProfile(const std::string& fileName, const std::string& bytes, Profile* out,
                  std::string* error) {
  Profile profile;
  profile.name = BaseName(fileName);
  profile.hash = Sha256Hex(bytes);
  std::istringstream in(bytes.substr(bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0));
  std::string line;
  int number = 0;
  bool sawFormat = false;
  std::map<std::string, int> lineOfKey;
  auto refuse = [&](int at, const std::string& reason) {
    *error = fileName + ":" + std::to_string(std::max(at, 1)) + ": " + reason;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const auto bad = FirstNonUtf8(line); bad != std::string::npos) {
      return refuse(number, "not UTF-8 text at byte " + std::to_string(bad + 1));
    }
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    const auto equals = text.find('=');
    if (equals == std::string::npos) return refuse(number, "expected \"key = value\"");
    const std::string key = Trim(text.substr(0, equals));
    const std::string value = Trim(text.substr(equals + 1));
    if (!sawFormat) {
      if (key != "format") return refuse(number, "the file must begin with \"format = 1\"");
      if (value != std::to_string(kProfileFormat)) {
        return refuse(number, "format \"" + value + "\" is not one this console reads");
      }
      sawFormat = true;
      continue;
    }
    if (!GroupOfKey(key)) return refuse(number, "unknown key \"" + key + "\"");
    if (profile.values.count(key)) return refuse(number, "\"" + key + "\" given twice");
    std::string gbkValue;
    if (auto problem = ValueProblem(key, value, &gbkValue); !problem.empty()) {
      return refuse(number, problem);
    }
    profile.values[key] = gbkValue;
    lineOfKey[key] = number;
  }
  if (!sawFormat) return refuse(number, "the file must begin with \"format = 1\"");
  std::string where;
  if (auto problem = GroupProblem(profile, &where); !problem.empty()) {
    // The group's first key that is there; a group lacking its first key ends with the file.
    const auto found = lineOfKey.find(where);
    int at = found != lineOfKey.end() ? found->second : number;
    for (const auto& [k, n] : lineOfKey) {
      if (GroupOfKey(k) == GroupOfKey(where) && found == lineOfKey.end()) at = std::min(at, n);
    }
    return refuse(at, problem);
  }
  *out = std::move(profile);
  return true;
}

bool LoadProfile(const std::string& path, Profile* out, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = path + ": cannot be read";
    return false;
  }
  // A profile is a page of text; anything far larger is not one.
  std::string bytes(kLargestProfile + 1, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  if (bytes.size() > kLargestProfile) {
    *error = path + ": too large for a profile";
    return false;
  }
  return ParseProfile(path, bytes, out, error);
}

std::string ProfileText(const Profile& profile) {
  std::string text =
      "# tracker-console station profile\nformat = " + std::to_string(kProfileFormat) + "\n";
  for (const auto& group : Groups()) {
    if (!profile.values.count(group.keys[0])) continue;
    for (const char* key : group.keys) {
      text += std::string(key) + " = " + gbk::ToUtf8(profile.values.at(key)) + "\n";
    }
  }
  return text;
}

bool SaveProfile(const std::string& path, const Profile& profile, std::string* error) {
  const std::string partial = path + ".part";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << ProfileText(profile);
    file.flush();
    if (!file) {
      std::remove(partial.c_str());
      *error = path + ": cannot be written";
      return false;
    }
  }
  if (std::rename(partial.c_str(), path.c_str()) != 0) {
    std::remove(partial.c_str());
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

bool ProfileFromFields(const DialogState& fields, Profile* out, std::string* error) {
  std::string text = "format = " + std::to_string(kProfileFormat) + "\n";
  for (const auto& group : Groups()) {
    std::vector<std::string> values;
    bool any = false;
    for (std::size_t i = 0; i < group.keys.size(); ++i) {
      const auto member = group.members[i];
      values.push_back(member ? gbk::ToUtf8(fields.*member) : (fields.m_useDomain ? "1" : "0"));
      // A line end in a field would start another key in the text below.
      if (auto problem = ControlProblem(group.keys[i], values.back()); !problem.empty()) {
        *error = "(fields): " + problem;
        return false;
      }
      any = any || (member && !(fields.*member).empty());
    }
    if (!any) continue;
    for (std::size_t i = 0; i < group.keys.size(); ++i) {
      text += std::string(group.keys[i]) + " = " + values[i] + "\n";
    }
  }
  return ParseProfile("(fields)", text, out, error);
}

void ApplyToFields(const Profile& profile, DialogState* fields) {
  for (const auto& group : Groups()) {
    if (!profile.values.count(group.keys[0])) continue;
    for (std::size_t i = 0; i < group.keys.size(); ++i) {
      const std::string& value = profile.values.at(group.keys[i]);
      if (group.members[i]) {
        fields->*(group.members[i]) = value;
      } else {
        fields->m_useDomain = value == "1";
        fields->m_addrLabel = fields->m_useDomain ? T(kAddrLabelUrl) : T(kAddrLabelIp);
      }
    }
  }
}

}  // namespace station
