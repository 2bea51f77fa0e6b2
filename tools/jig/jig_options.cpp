#include "tools/jig/jig_options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace jig {

namespace {

bool ParseNumber(const std::string& text, double* out) {
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, *out);
  return problem == std::errc() && stop == end && std::isfinite(*out);
}

bool ParseCount(const std::string& text, int* out) {
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, *out);
  return problem == std::errc() && stop == end && *out >= 0;
}

// "COM97" -> true; the number must be one the console gives (1..127).
bool IsPortName(const std::string& text) {
  int number = 0;
  return text.size() > 3 && text.compare(0, 3, "COM") == 0 && ParseCount(text.substr(3), &number) &&
         number >= 1 && number <= 127;
}

using Setter = std::function<std::string(JigOptions&, const std::string&)>;

std::string SetTarget(JigOptions& o, JigOptions::Target target) {
  if (o.target != JigOptions::Target::kFirstFound && o.target != target) {
    return "--port, --device and --all exclude each other";
  }
  o.target = target;
  return {};
}

const std::map<std::string, Setter>& ValueOptions() {
  static const std::map<std::string, Setter> options = {
      {"--port",
       [](JigOptions& o, const std::string& v) {
         if (!IsPortName(v)) return "--port wants a port name COM1..COM127, not \"" + v + "\"";
         o.port = v;
         return SetTarget(o, JigOptions::Target::kPort);
       }},
      {"--device",
       [](JigOptions& o, const std::string& v) {
         if (v.empty()) return std::string("--device wants a device node, e.g. /dev/ttyACM0");
         o.device = v;
         return SetTarget(o, JigOptions::Target::kDevice);
       }},
      {"--profile",
       [](JigOptions& o, const std::string& v) {
         o.profile = v;
         return std::string(v.empty() ? "--profile wants a file" : "");
       }},
      {"--test-timeout",
       [](JigOptions& o, const std::string& v) {
         double seconds = 0;
         if (!ParseNumber(v, &seconds) || seconds <= 0 || seconds > 3600) {
           return "--test-timeout wants seconds between 0 and 3600, not \"" + v + "\"";
         }
         o.testTimeoutSeconds = seconds;
         return std::string();
       }},
      {"--gps-criteria",
       [](JigOptions& o, const std::string& v) {
         std::string error;
         ParseGpsCriteria(v, &o.gps, &error);
         return error;
       }},
      {"--station",
       [](JigOptions& o, const std::string& v) {
         o.station = v;
         return std::string();
       }},
      {"--operator",
       [](JigOptions& o, const std::string& v) {
         o.operatorName = v;
         return std::string();
       }},
      {"--records",
       [](JigOptions& o, const std::string& v) {
         o.records = v;
         return std::string(v.empty() ? "--records wants sqlite:PATH or postgresql://..." : "");
       }},
      {"--port-label",
       [](JigOptions& o, const std::string& v) {
         o.portLabel = v;
         return std::string();
       }},
  };
  return options;
}

const std::map<std::string, std::function<void(JigOptions&)>>& FlagOptions() {
  static const std::map<std::string, std::function<void(JigOptions&)>> flags = {
      {"--watch", [](JigOptions& o) { o.watch = true; }},
      {"--json", [](JigOptions& o) { o.json = true; }},
      {"--no-records", [](JigOptions& o) { o.noRecords = true; }},
      {"--help", [](JigOptions& o) { o.help = true; }},
      {"-h", [](JigOptions& o) { o.help = true; }},
      {"--version", [](JigOptions& o) { o.version = true; }},
  };
  return flags;
}

std::string ParseOne(const std::vector<std::string>& arguments, std::size_t* index, JigOptions& o) {
  std::string name = arguments[*index];
  std::optional<std::string> value;
  if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
    value = name.substr(equals + 1);
    name.resize(equals);
  }
  if (name == "--all")
    return value ? "--all takes no value" : SetTarget(o, JigOptions::Target::kAll);
  if (const auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
    if (value) return name + " takes no value";
    flag->second(o);
    return {};
  }
  const auto option = ValueOptions().find(name);
  if (option == ValueOptions().end()) {
    return name.starts_with("-") ? "unknown option " + name
                                 : "unexpected argument \"" + name + "\"";
  }
  if (!value) {
    if (*index + 1 >= arguments.size()) return name + " wants a value";
    value = arguments[++*index];
  }
  return option->second(o, *value);
}

std::string CheckCombination(const JigOptions& o) {
  if (o.help || o.version) return {};
  if (o.profile.empty()) return "--profile FILE is required";
  if (o.watch && o.target == JigOptions::Target::kDevice) {
    return "--watch follows ports as trackers come and go; use it with --all or --port, "
           "not --device";
  }
  if (o.noRecords && !o.records.empty()) return "--records and --no-records exclude each other";
  return {};
}

}  // namespace

bool ParseGpsCriteria(const std::string& text, GpsCriteria* out, std::string* error) {
  GpsCriteria criteria;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const std::size_t equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    double number = 0;
    int count = 0;
    bool ok = equals != std::string::npos;
    if (ok && key == "fix") {
      ok = ParseNumber(value, &number) && number > 0;
      criteria.fixWithinSeconds = number;
    } else if (ok && key == "used") {
      ok = ParseCount(value, &count);
      criteria.minSatellitesUsed = count;
    } else if (ok && key == "strong") {
      ok = ParseCount(value, &count);
      criteria.minStrongSatellites = count;
    } else if (ok && key == "dbhz") {
      ok = ParseNumber(value, &number) && number >= 0 && number <= 99;
      criteria.strongDbHz = number;
    } else {
      ok = false;
    }
    if (!ok) {
      *error = "--gps-criteria: \"" + item +
               "\" is not one of fix=SECONDS, used=N, strong=K, dbhz=X (e.g. "
               "fix=60,used=4,strong=3,dbhz=30)";
      return false;
    }
    start = comma + 1;
  }
  *out = criteria;
  return true;
}

ParsedJigOptions ParseJigOptions(const std::vector<std::string>& arguments,
                                 const std::string& environmentUser, const std::string& hostName) {
  ParsedJigOptions parsed;
  JigOptions& o = parsed.options;
  o.operatorName = environmentUser;
  o.station = hostName;
  for (std::size_t i = 0; i < arguments.size() && parsed.error.empty(); ++i) {
    parsed.error = ParseOne(arguments, &i, o);
  }
  if (parsed.error.empty()) parsed.error = CheckCombination(o);
  return parsed;
}

std::vector<std::string> ChildArguments(const JigOptions& o, const std::string& device,
                                        const std::string& portLabel) {
  char timeout[32];
  std::snprintf(timeout, sizeof timeout, "%g", o.testTimeoutSeconds);
  std::vector<std::string> arguments = {
      "--device",   device,           "--port-label", portLabel,     "--profile",
      o.profile,    "--test-timeout", timeout,        "--station",   o.station,
      "--operator", o.operatorName,   "--json",       "--no-records"};
  if (o.gps.Any()) {
    std::string criteria;
    auto add = [&](const char* key, double value) {
      char item[48];
      std::snprintf(item, sizeof item, "%s%s=%g", criteria.empty() ? "" : ",", key, value);
      criteria += item;
    };
    if (o.gps.fixWithinSeconds) add("fix", *o.gps.fixWithinSeconds);
    if (o.gps.minSatellitesUsed) add("used", *o.gps.minSatellitesUsed);
    if (o.gps.minStrongSatellites) add("strong", *o.gps.minStrongSatellites);
    add("dbhz", o.gps.strongDbHz);
    arguments.insert(arguments.end(), {"--gps-criteria", criteria});
  }
  return arguments;
}

std::string JigVersionText() {
  return std::string("tracker-jig ") + TC_VERSION + "\n";
}

std::string JigHelpText() {
  return R"(usage: tracker-jig [--port COMn | --device PATH | --all] [--watch] --profile FILE
                   [--test-timeout S] [--gps-criteria LIST] [--station NAME]
                   [--operator NAME] [--records URL | --no-records] [--json]

Runs the production station's sequence on trackers without a window: identify (IMEI, firmware),
apply the profile, read it back and compare, factory test, optional GPS criteria, verdict. Each
unit ends in PASS or FAIL with every reason, and leaves one record.

Which trackers:
  (none of these)     the first tracker found, as the console would pick it
  --port COMn         the tracker on the port the console names COMn (e.g. COM65)
  --device PATH       the tracker on this device node (e.g. /dev/ttyACM0)
  --all               every tracker attached now, all at once
  --watch             keep testing trackers as they are plugged in (every port, or only
                      --port's), until SIGINT or SIGTERM; then print a summary

What to do:
  --profile FILE      the station profile to apply and verify (required)
  --test-timeout S    seconds the factory test may take before the unit fails (default 60)
  --gps-criteria LIST fix=SECONDS,used=N,strong=K,dbhz=X (any of them): a fix within SECONDS,
                      at least N satellites used, at least K with a signal of X dB-Hz or more
                      (X defaults to 30)

Records:
  --station NAME      station name in the records (default: this host's name)
  --operator NAME     operator name in the records (default: $USER)
  --records URL       sqlite:PATH, or postgresql://[user[:password]@]host[:port]/database[?...]
                      for a server the whole line shares (default: $TRACKER_CONSOLE_RECORDS,
                      else the console's own file, $XDG_DATA_HOME/tracker-console/
                      records.sqlite). While the server cannot be
                      reached, records wait in a local spool (spool.sqlite beside the default
                      file) and are sent, in order and once each, when it answers again.
  --no-records        write no record (the verdict's JSON line still carries it)

Output:
  --json              one JSON object per line for each step, verdict and record (see README)
                      instead of the live view
  --port-label TEXT   how reports name the unit's port (set by the jig for its own workers)
  -h, --help          this text
  --version           the program's version

Exit status: 0 every unit passed; 1 a unit failed; 2 no tracker found; 3 a usage or
configuration error (the message says which).
)";
}

}  // namespace jig
