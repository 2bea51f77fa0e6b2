#pragma once
// One unit's result at a production station: what was tested, how, and the verdict. Written once,
// when the verdict is reached (or the sequence is interrupted). Strings are UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace records {

// A read-back that did not match what the profile applied.
struct Mismatch {
  std::string field;     // the parameter's key, e.g. "ip" or "sos2"
  std::string expected;  // what the profile set
  std::string actual;    // what the unit answered
};

// Why a unit failed: the step, what was expected, what came.
struct FailReason {
  std::string step;  // "identify", "apply", "verify", "test", "gps", "unplugged", ...
  std::string expected;
  std::string actual;
};

struct UnitRecord {
  // Unique per sequence (random, 32 hex digits). Lets a spool deliver a record exactly once.
  std::string recordId;
  std::string startedUtc;  // ISO 8601, e.g. "2026-12-06T23:41:07.123Z"
  std::string endedUtc;
  std::string station;
  std::string operatorName;
  std::string port;         // e.g. "COM65 (ttyACM0)"
  std::string usbIdentity;  // vendor:product serial, as the port list shows it
  std::string imei;
  std::string firmware;
  std::string gsmSignal;
  std::string gpsCount;
  std::string agpsCount;
  std::string sim;
  // Sub-test results: true passed, false failed, nullopt never reported.
  std::optional<bool> testGsm;
  std::optional<bool> testGps;
  std::optional<bool> testKey;
  // GPS measures: time to first fix, satellites used and the best signals at the fix.
  std::optional<double> ttffSeconds;
  std::optional<int> satellitesUsed;
  std::optional<int> bestSignalDbHz;
  std::string profileName;
  std::string profileHash;  // SHA-256 of the profile file's content, hex
  std::vector<Mismatch> mismatches;
  bool passed = false;  // the verdict: PASS or FAIL
  std::vector<FailReason> reasons;
  std::string consoleVersion;
};

}  // namespace records
