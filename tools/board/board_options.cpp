#include "tools/board/board_options.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <charconv>
#include <cmath>

namespace board {

namespace {

bool ParseNumber(const std::string& text, double* out) {
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, *out);
  return problem == std::errc() && stop == end && std::isfinite(*out);
}

bool ParseInt(const std::string& text, int* out) {
  const char* end = text.data() + text.size();
  const auto [stop, problem] = std::from_chars(text.data(), end, *out);
  return problem == std::errc() && stop == end;
}

// "HOST:PORT", "[V6]:PORT" or ":PORT" (loopback); false with a message.
std::string SetListen(const std::string& text, BoardOptions* o) {
  const auto colon = text.rfind(':');
  std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  int port = 0;
  if (colon == std::string::npos || !ParseInt(text.substr(colon + 1), &port) || port < 1 ||
      port > 65535) {
    return "--listen wants HOST:PORT with a port 1..65535, not \"" + text + "\"";
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  o->host = host.empty() ? "127.0.0.1" : host;
  o->port = port;
  return {};
}

std::string SetOption(int id, const std::string& v, BoardOptions* o) {
  switch (id) {
    case 'r':
      o->records = v;
      return v.empty() ? "--records wants sqlite:PATH or postgresql://..." : "";
    case 'l':
      return SetListen(v, o);
    case 't':
      o->token = v;
      return v.size() < 8 ? "--token wants at least 8 characters" : "";
    case 'y':
      if (!ParseNumber(v, &o->yieldThresholdPercent) || o->yieldThresholdPercent < 0 ||
          o->yieldThresholdPercent > 100) {
        return "--yield-threshold wants a percentage 0..100, not \"" + v + "\"";
      }
      return {};
    case 'L':
      o->lang = v;
      return v == "zh" || v == "en" ? "" : "--lang wants zh or en, not \"" + v + "\"";
    case 'f':
      if (!ParseNumber(v, &o->gps.fixWithinSeconds) || o->gps.fixWithinSeconds <= 0) {
        return "--fix-within wants seconds above 0, not \"" + v + "\"";
      }
      return {};
    case 's':
      if (!ParseInt(v, &o->gps.minSatellitesUsed) || o->gps.minSatellitesUsed < 0 ||
          o->gps.minSatellitesUsed > 64) {
        return "--min-satellites wants a count 0..64, not \"" + v + "\"";
      }
      return {};
    case 'd':
      if (!ParseInt(v, &o->gps.strongSignalDbHz) || o->gps.strongSignalDbHz < 0 ||
          o->gps.strongSignalDbHz > 99) {
        return "--strong-dbhz wants dB-Hz 0..99, not \"" + v + "\"";
      }
      return {};
    default:
      return "unknown option";
  }
}

}  // namespace

bool IsLoopback(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  in_addr address{};
  return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

ParsedBoardOptions ParseBoardOptions(const std::vector<std::string>& arguments) {
  static const option kOptions[] = {
      {"records", required_argument, nullptr, 'r'},
      {"listen", required_argument, nullptr, 'l'},
      {"token", required_argument, nullptr, 't'},
      {"yield-threshold", required_argument, nullptr, 'y'},
      {"lang", required_argument, nullptr, 'L'},
      {"fix-within", required_argument, nullptr, 'f'},
      {"min-satellites", required_argument, nullptr, 's'},
      {"strong-dbhz", required_argument, nullptr, 'd'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  ParsedBoardOptions parsed;
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  static char program[] = "tracker-board";
  argv.push_back(program);
  for (auto& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  optind = 0;  // a fresh scan, also when parsed before
  opterr = 0;
  int id;
  while ((id = getopt_long(static_cast<int>(argv.size() - 1), argv.data(), "h", kOptions,
                           nullptr)) != -1) {
    if (id == 'h') {
      parsed.options.help = true;
    } else if (id == 'V') {
      parsed.options.version = true;
    } else if (id == '?' || id == ':') {
      const std::string name = optind > 0 ? argv[static_cast<std::size_t>(optind) - 1] : "";
      parsed.error = "\"" + name + "\": unknown option or missing value (see --help)";
      return parsed;
    } else if (auto error = SetOption(id, optarg ? optarg : "", &parsed.options); !error.empty()) {
      parsed.error = error;
      return parsed;
    }
  }
  if (optind < static_cast<int>(argv.size() - 1)) {
    parsed.error = "\"" + std::string(argv[static_cast<std::size_t>(optind)]) +
                   "\": unexpected argument (see --help)";
    return parsed;
  }
  const BoardOptions& o = parsed.options;
  if (o.help || o.version) return parsed;
  if (o.records.empty()) {
    parsed.error = "--records is needed: sqlite:PATH or postgresql://...";
  } else if (!IsLoopback(o.host) && o.token.empty()) {
    parsed.error = "listening on " + o.host +
                   " reaches beyond this machine: give --token, or listen on 127.0.0.1 behind a"
                   " reverse proxy that asks who is there";
  }
  return parsed;
}

std::string BoardHelpText() {
  return "usage: tracker-board --records URL [options]\n"
         "The line's live board over HTTP, read-only, from the records of the stations.\n\n"
         "  --records URL          sqlite:PATH or postgresql://... (a read-only role will do)\n"
         "  --listen HOST:PORT     where to serve (default 127.0.0.1:8080)\n"
         "  --token T              ask every data request for T (needed beyond loopback);\n"
         "                         open the board as http://HOST:PORT/?token=T\n"
         "  --yield-threshold P    warn when the last hour's first-pass yield is below P %\n"
         "                         (default 95)\n"
         "  --lang zh|en           the board's language at first (default zh)\n"
         "  --fix-within S         GPS limits drawn on the distributions: time to first fix\n"
         "  --min-satellites N     (default 120 s), satellites used (4), strong signal\n"
         "  --strong-dbhz X        (35 dB-Hz)\n"
         "  --help, --version\n";
}

}  // namespace board
