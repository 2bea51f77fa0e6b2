#include "tools/sim/sim_options.h"

#include <string_view>

#include "platform/command_options.h"

namespace sim {
namespace {

std::string SecondsValue(std::string_view text, double* out) {
  if (!cli::ParseNumber(text, out) || *out < 0 || *out > 86400) {
    return "expects seconds from 0 to 86400";
  }
  return {};
}

std::string PresetValue(std::string_view text, std::string* out) {
  std::string problem = PresetProblem(text);
  if (problem.empty()) *out = std::string(text);
  return problem;
}

std::string SplitValue(std::string_view text, std::vector<std::size_t>* out) {
  out->clear();
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::size_t offset = 0;
    if (!cli::ParseNumber(text.substr(0, comma), &offset) || offset == 0 ||
        (!out->empty() && offset <= out->back())) {
      return "expects ascending byte offsets above 0, e.g. 3,17";
    }
    out->push_back(offset);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return out->empty() ? "expects ascending byte offsets above 0, e.g. 3,17" : "";
}

std::string FailValue(std::string_view text, std::array<bool, 3>* out) {
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view part = text.substr(0, comma);
    if (part == "gsm") {
      (*out)[static_cast<std::size_t>(TestPart::kGsm)] = true;
    } else if (part == "gps") {
      (*out)[static_cast<std::size_t>(TestPart::kGps)] = true;
    } else if (part == "key") {
      (*out)[static_cast<std::size_t>(TestPart::kKey)] = true;
    } else {
      return "expects gsm, gps or key (comma-separated)";
    }
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return {};
}

std::string KeyList(std::string_view text, std::vector<std::string>* out) {
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    if (comma == 0) break;
    out->emplace_back(text.substr(0, comma));
    if (comma == std::string_view::npos) return {};
    text = text.substr(comma + 1);
  }
  return "expects keys, e.g. sos1,monitor";
}

std::string Misreport(std::string_view text,
                      std::vector<std::pair<std::string, std::string>>* out) {
  const std::size_t equals = text.find('=');
  if (equals == 0 || equals == std::string_view::npos) return "expects KEY=VALUE, e.g. sos2=110";
  std::string problem = PresetProblem(text.substr(equals + 1));
  if (problem.empty()) out->emplace_back(text.substr(0, equals), text.substr(equals + 1));
  return problem;
}

std::vector<cli::Option> Options(SimOptions& o) {
  auto preset = [](std::string* target) {
    return [target](std::string_view v) { return PresetValue(v, target); };
  };
  auto flag = [](bool* target, bool value) {
    return [target, value](std::string_view) {
      *target = value;
      return std::string();
    };
  };
  TrackerParams& p = o.presets;
  return {
      {"--help", 'h', "", "this text", flag(&o.help, true)},
      {"--version", 0, "", "print the program's version and exit", flag(&o.version, true)},
      {"--port-number", 0, "N", "preferred COM number, 97..127 (default: lowest free)",
       [&o](std::string_view v) -> std::string {
         if (!cli::ParseNumber(v, &o.portNumber) || o.portNumber < 97 || o.portNumber > 127) {
           return "expects a number from 97 to 127";
         }
         return {};
       }},
      {"--ports-folder", 0, "DIR", "where the port link goes (default: the console's)",
       [&o](std::string_view v) {
         o.portsFolder = std::string(v);
         return std::string(v.empty() ? "expects a folder" : "");
       }},
      {"--imei", 0, "TEXT", "IMEI", preset(&p.imei)},
      {"--firmware", 0, "TEXT", "firmware version the tracker reports", preset(&p.version)},
      {"--addr", 0, "TEXT", "server IP address or domain", preset(&p.serverAddr)},
      {"--port", 0, "TEXT", "server port", preset(&p.serverPort)},
      {"--url", 0, "0|1", "1: the server address is a domain", preset(&p.useDomain)},
      {"--center", 0, "TEXT", "centre number", preset(&p.centerNumber)},
      {"--slave", 0, "TEXT", "auxiliary number", preset(&p.slaveNumber)},
      {"--language", 0, "TEXT", "language", preset(&p.language)},
      {"--zone", 0, "TEXT", "time zone", preset(&p.zone)},
      {"--sos1", 0, "TEXT", "SOS number 1", preset(&p.sos1)},
      {"--sos2", 0, "TEXT", "SOS number 2", preset(&p.sos2)},
      {"--sos3", 0, "TEXT", "SOS number 3", preset(&p.sos3)},
      {"--monitor", 0, "TEXT", "monitor number", preset(&p.monitorNumber)},
      {"--upload", 0, "TEXT", "upload interval", preset(&p.uploadInterval)},
      {"--fail-test", 0, "PARTS", "factory test fails these parts: gsm,gps,key",
       [&o](std::string_view v) { return FailValue(v, &o.failTest); }},
      {"--refuse-set", 0, "KEYS", "sets of these keys answer \"error\", e.g. sos1,monitor",
       [&o](std::string_view v) { return KeyList(v, &o.stepFaults.refuseSet); }},
      {"--misreport", 0, "KEY=VALUE", "reads of KEY answer VALUE (repeatable)",
       [&o](std::string_view v) { return Misreport(v, &o.stepFaults.misreport); }},
      {"--no-test-result", 0, "", "echo the factory test, never answer it",
       flag(&o.stepFaults.noTestResult, true)},
      {"--no-fix", 0, "", "the GPS never gets a fix", flag(&o.neverFix, true)},
      {"--unplug-on", 0, "KEY", "remove the port when a command with this first key comes",
       [&o](std::string_view v) {
         o.unplugOnKey = std::string(v);
         return std::string(v.empty() ? "expects a key, e.g. factory_test" : "");
       }},
      {"--no-nmea", 0, "", "no GPS sentences", flag(&o.nmea, false)},
      {"--glonass", 0, "", "the built-in drive receives GLONASS too (GN, GL talkers)",
       flag(&o.glonass, true)},
      {"--nmea", 0, "FILE", "replay a receiver log (one GGA group a second, looping)",
       [&o](std::string_view v) {
         o.nmeaFile = std::string(v);
         return std::string(v.empty() ? "expects a file" : "");
       }},
      {"--status-interval", 0, "SEC", "seconds between status reports, 0: none (default 5)",
       [&o](std::string_view v) { return SecondsValue(v, &o.statusInterval); }},
      {"--log-interval", 0, "SEC", "seconds between plain log lines, 0: none (default 7)",
       [&o](std::string_view v) { return SecondsValue(v, &o.logInterval); }},
      {"--seed", 0, "N", "seed of the drive and the faults (default: random)",
       [&o](std::string_view v) -> std::string {
         std::uint32_t seed = 0;
         if (!cli::ParseNumber(v, &seed)) return "expects a number from 0 to 4294967295";
         o.seed = seed;
         return {};
       }},
      {"--bad-checksum-every", 0, "N", "every Nth frame goes out with a wrong checksum",
       [&o](std::string_view v) -> std::string {
         if (!cli::ParseNumber(v, &o.badChecksumEvery) || o.badChecksumEvery < 1) {
           return "expects a number from 1 on";
         }
         return {};
       }},
      {"--split", 0, "OFFSETS", "write each frame in pieces cut at these offsets, e.g. 3,17",
       [&o](std::string_view v) { return SplitValue(v, &o.splitOffsets); }},
      {"--garbage", 0, "", "random bytes between frames", flag(&o.garbage, true)},
      {"--flood", 0, "", "log frames at full speed", flag(&o.flood, true)},
      {"--silent", 0, "", "send nothing at all", flag(&o.silent, true)},
      {"--unplug-after", 0, "SEC", "remove the port this long after start (once)",
       [&o](std::string_view v) { return SecondsValue(v, &o.unplugAfter); }},
      {"--replug-after", 0, "SEC", "come back this long after an unplug (default: stay away)",
       [&o](std::string_view v) { return SecondsValue(v, &o.replugAfter); }},
      {"--verbose", 0, "", "print every text received and sent on stderr", flag(&o.verbose, true)},
  };
}

}  // namespace

ParsedOptions ParseSimOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  parsed.error = cli::Parse(arguments, Options(parsed.options));
  return parsed;
}

std::string SimHelpText() {
  SimOptions scratch;
  return cli::HelpText(
      "usage: tracker-sim [OPTION]...\n"
      "A virtual tracker on a pseudo-terminal, registered as a virtual port (COM97-COM127).\n"
      "SIGUSR1 unplugs and replugs it; SIGINT and SIGTERM end it and remove the port.\n",
      Options(scratch), "");
}

}  // namespace sim
