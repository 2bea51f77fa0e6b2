#include "tools/jig/jig_options.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "platform/command_options.h"

namespace jig {

namespace {

bool ParseCount(std::string_view text, int* out) {
  return cli::ParseNumber(text, out) && *out >= 0;
}

// "COM97" -> true; the number must be one the console gives (1..127).
bool IsPortName(std::string_view text) {
  int number = 0;
  return text.starts_with("COM") && ParseCount(text.substr(3), &number) && number >= 1 &&
         number <= 127;
}

const char* TargetName(JigOptions::Target target) {
  switch (target) {
    case JigOptions::Target::kPort:
      return "--port";
    case JigOptions::Target::kDevice:
      return "--device";
    default:
      return "--all";
  }
}

std::string SetTarget(JigOptions& o, JigOptions::Target target) {
  if (o.target != JigOptions::Target::kFirstFound && o.target != target) {
    return std::string("and ") + TargetName(o.target) + " exclude each other";
  }
  o.target = target;
  return {};
}

cli::Take Text(std::string* target, const char* whenEmpty = "") {
  return [target, whenEmpty](std::string_view value) {
    *target = value;
    return std::string(value.empty() ? whenEmpty : "");
  };
}

cli::Take Switch(bool* target) {
  return [target](std::string_view) {
    *target = true;
    return std::string();
  };
}

std::vector<cli::Option> Table(JigOptions& o) {
  using Target = JigOptions::Target;
  return {
      {"", 0, "", "Which trackers:", {}},
      {"", 0, "(none of these)", "the first tracker found, as the console would pick it", {}},
      {"--port", 0, "COMn", "the tracker on the port the console names COMn (e.g. COM65)",
       [&o](std::string_view v) {
         if (!IsPortName(v))
           return "wants a port name COM1..COM127, not \"" + std::string(v) + "\"";
         o.port = v;
         return SetTarget(o, Target::kPort);
       }},
      {"--device", 0, "PATH", "the tracker on this device node (e.g. /dev/ttyACM0)",
       [&o](std::string_view v) {
         o.device = v;
         return v.empty() ? "wants a device node, e.g. /dev/ttyACM0"
                          : SetTarget(o, Target::kDevice);
       }},
      {"--all", 0, "", "every tracker attached now, all at once",
       [&o](std::string_view) { return SetTarget(o, Target::kAll); }},
      {"--watch", 0, "",
       "keep testing trackers as they are plugged in (every port, or only\n--port's), until "
       "SIGINT or SIGTERM; then print a summary",
       Switch(&o.watch)},
      {"", 0, "", "What to do:", {}},
      {"--profile", 0, "FILE", "the station profile to apply and verify (required)",
       Text(&o.profile, "wants a file")},
      {"--test-timeout", 0, "S",
       "seconds the factory test may take before the unit fails (default 60)",
       [&o](std::string_view v) {
         double seconds = 0;
         if (!cli::ParseNumber(v, &seconds) || seconds <= 0 || seconds > 3600) {
           return "wants seconds between 0 and 3600, not \"" + std::string(v) + "\"";
         }
         o.testTimeoutSeconds = seconds;
         return std::string();
       }},
      {"--gps-criteria", 0, "LIST",
       "fix=SECONDS,used=N,strong=K,dbhz=X (any of them): a fix within SECONDS,\nat least N "
       "satellites used, at least K with a signal of X dB-Hz or more\n(X defaults to 30)",
       [&o](std::string_view v) {
         std::string error;
         ParseGpsCriteria(std::string(v), &o.gps, &error);
         return error;
       }},
      {"", 0, "", "Records:", {}},
      {"--station", 0, "NAME", "station name in the records (default: this host's name)",
       Text(&o.station)},
      {"--operator", 0, "NAME", "operator name in the records (default: $USER)",
       Text(&o.operatorName)},
      {"--records", 0, "URL",
       "sqlite:PATH, or postgresql://[user[:password]@]host[:port]/database[?...]\nfor a server "
       "the whole line shares (default: $TRACKER_CONSOLE_RECORDS,\nelse the console's own file, "
       "$XDG_DATA_HOME/tracker-console/records.sqlite).\nWhile the server cannot be reached, "
       "records wait in a local spool\n(spool.sqlite beside the default file) and are sent, in "
       "order and once\neach, when it answers again.",
       Text(&o.records, "wants sqlite:PATH or postgresql://...")},
      {"--no-records", 0, "", "write no record (the verdict's JSON line still carries it)",
       Switch(&o.noRecords)},
      {"", 0, "", "Output:", {}},
      {"--json", 0, "",
       "one JSON object per line for each step, verdict and record (see README)\ninstead of the "
       "live view",
       Switch(&o.json)},
      {"--port-label", 0, "TEXT",
       "how reports name the unit's port (set by the jig for its own workers)", Text(&o.portLabel)},
      {"--help", 'h', "", "this text", Switch(&o.help)},
      {"--version", 0, "", "the program's version", Switch(&o.version)},
  };
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
      ok = cli::ParseNumber(value, &number) && number > 0;
      criteria.fixWithinSeconds = number;
    } else if (ok && key == "used") {
      ok = ParseCount(value, &count);
      criteria.minSatellitesUsed = count;
    } else if (ok && key == "strong") {
      ok = ParseCount(value, &count);
      criteria.minStrongSatellites = count;
    } else if (ok && key == "dbhz") {
      ok = cli::ParseNumber(value, &number) && number >= 0 && number <= 99;
      criteria.strongDbHz = number;
    } else {
      ok = false;
    }
    if (!ok) {
      *error = "\"" + item +
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
  parsed.error = cli::Parse(arguments, Table(o));
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
  JigOptions scratch;
  return cli::HelpText(
      "usage: tracker-jig [--port COMn | --device PATH | --all] [--watch] --profile FILE\n"
      "                   [--test-timeout S] [--gps-criteria LIST] [--station NAME]\n"
      "                   [--operator NAME] [--records URL | --no-records] [--json]\n\n"
      "Runs the production station's sequence on trackers without a window: identify (IMEI, "
      "firmware),\napply the profile, read it back and compare, factory test, optional GPS "
      "criteria, verdict. Each\nunit ends in PASS or FAIL with every reason, and leaves one "
      "record.\n",
      Table(scratch),
      "Ctrl-C, SIGTERM and SIGHUP interrupt the units under test (their records say so); under\n"
      "--watch the first one lets them finish and a second interrupts them. Records the store\n"
      "refused are set aside in the spool: see 'tracker-jig records --help'.\n\n"
      "Exit status: 0 every unit passed; 1 a unit failed; 2 no tracker found; 3 a usage or\n"
      "configuration error (the message says which); 4 a unit's record is not in its store.\n");
}

}  // namespace jig
