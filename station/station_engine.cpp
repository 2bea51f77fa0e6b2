#include "station/station_engine.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

#include "platform/gbk.h"
#include "records/utc_time.h"

namespace station {

namespace {

// A reply split at commas up to its first "#"; the receive decoder's line end is not a value.
std::vector<std::string> SplitReply(std::string_view reply) {
  reply = reply.substr(0, reply.find('#'));
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.remove_suffix(1);
  std::vector<std::string> fields(1);
  for (char c : reply) {
    if (c == ',')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  fields.resize(std::max<std::size_t>(fields.size(), 8));
  return fields;
}

bool Keys(const std::vector<std::string>& fields, std::initializer_list<const char*> keys) {
  std::size_t at = 0;
  for (const char* key : keys) {
    if (fields[at] != key) return false;
    at += 2;
  }
  return true;
}

std::string RandomId() {
  static std::random_device device;
  static std::mt19937_64 generator(
      (std::uint64_t{device()} << 32) ^ device() ^
      static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()));
  char text[33];
  (void)std::snprintf(text, sizeof text, "%016llx%016llx",
                      static_cast<unsigned long long>(generator()),
                      static_cast<unsigned long long>(generator()));
  return text;
}

std::string Seconds(std::chrono::milliseconds span) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%g s", static_cast<double>(span.count()) / 1000.0);
  return text;
}

std::string U(const std::string& gbkText) {
  return gbk::ToUtf8(gbkText);
}

// 15 digits, the last the Luhn check digit of the fourteen before it.
bool IsValidImei(const std::string& text) {
  if (text.size() != 15) return false;
  int sum = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    int digit = text[i] - '0';
    if (i % 2 == 1) digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
    sum += digit;
  }
  return sum % 10 == 0;
}

}  // namespace

std::string ConsoleVersion() {
  return TC_CONSOLE_VERSION;
}

std::string_view StepName(Step step) {
  switch (step) {
    case Step::kIdle:
      return "idle";
    case Step::kIdentify:
      return "identify";
    case Step::kApply:
      return "apply";
    case Step::kVerify:
      return "verify";
    case Step::kTest:
      return "test";
    case Step::kGps:
      return "gps";
    case Step::kVerdict:
      return "verdict";
  }
  return "?";
}

StationEngine::StationEngine(UnitLink& link, records::RecordStore* store, StationListener* listener)
    : link_(link), store_(store), listener_(listener) {}

void StationEngine::OnConnected(const std::string& port, const std::string& usbIdentity,
                                Clock::time_point now) {
  if (port == port_ && step_ != Step::kIdle) {
    // The console reopened the same port (a rescan): the unit is still there, but a request in
    // flight may be lost. Ask again; the test keeps its own deadline.
    if (Running() && !pending_.empty()) SendCurrent(now);
    return;
  }
  if (Running()) OnUnplugged(now);
  unit_ = next_;
  port_ = port;
  connectedAt_ = now;
  record_ = {};
  record_.recordId = RandomId();
  record_.startedUtc = records::UtcNowIso();
  record_.station = unit_.station;
  record_.operatorName = unit_.operatorName;
  record_.port = port;
  record_.usbIdentity = usbIdentity;
  record_.profileName = unit_.profile.name;
  record_.profileHash = unit_.profile.hash;
  record_.consoleVersion = unit_.consoleVersion;
  testResult_.reset();
  Begin(Step::kIdentify, now);
}

void StationEngine::Begin(Step step, Clock::time_point now) {
  step_ = step;
  pending_.clear();
  Report("started", false, now);
  switch (step) {
    case Step::kIdentify:
      pending_ = {{Kind::kIdentity, "identify", "imei,?", {"imei"}, {"imei"}, {}},
                  {Kind::kIdentity, "identify", "ver,?", {"ver"}, {"version"}, {}}};
      break;
    case Step::kApply:
    case Step::kVerify:
      for (auto& plan : PlanGroups(unit_.profile)) {
        const bool apply = step == Step::kApply;
        pending_.push_back({apply ? Kind::kSet : Kind::kReadBack, plan.group,
                            apply ? plan.setCommand : plan.readCommand, plan.replyKeys,
                            plan.fieldNames, plan.expected});
      }
      break;
    case Step::kTest:
      testResult_.reset();
      record_.testGsm = record_.testGps = record_.testKey = std::nullopt;
      deadline_ = now + unit_.testTimeout;
      link_.StartTest(unit_.testTimeout);
      return;
    case Step::kGps:
      if (!unit_.gps.enabled) return Advance(now);
      deadline_ =
          connectedAt_ +
          std::chrono::milliseconds(static_cast<std::int64_t>(unit_.gps.fixWithinSeconds * 1000.0));
      return CheckGps(now, false);
    default:
      return;
  }
  if (pending_.empty()) return Advance(now);
  SendCurrent(now);
}

void StationEngine::SendCurrent(Clock::time_point now) {
  deadline_ = now + unit_.stepTimeout;
  link_.Send(pending_.front().command);
}

void StationEngine::Advance(Clock::time_point now) {
  switch (step_) {
    case Step::kIdentify:
      return Begin(Step::kApply, now);
    case Step::kApply:
      return Begin(Step::kVerify, now);
    case Step::kVerify:
      return Begin(Step::kTest, now);
    case Step::kTest:
      return Begin(Step::kGps, now);
    case Step::kGps:
      return Finish(now);
    default:
      return;
  }
}

void StationEngine::Report(std::string detail, bool problem, Clock::time_point now) {
  if (!listener_) return;
  listener_->OnProgress(
      {step_, std::move(detail), problem,
       std::chrono::duration_cast<std::chrono::milliseconds>(now - connectedAt_)});
}

void StationEngine::Fail(std::string expected, std::string actual, Clock::time_point now) {
  Report("expected " + expected + ", came " + actual, true, now);
  record_.reasons.push_back({std::string(StepName(step_)), std::move(expected), std::move(actual)});
}

void StationEngine::OnReply(std::string_view reply, Clock::time_point now) {
  // A reply that came after its deadline is judged as if the deadline had been seen first,
  // whenever a tick would have noticed.
  if (Running() && step_ != Step::kGps && now > deadline_) OnTick(now);
  const auto fields = SplitReply(reply);
  if (Keys(fields, {"gsm", "agps", "gps", "sim"})) return TakeStatus(fields);
  if (Keys(fields, {"gsm", "gps", "key"})) return TakeTestResult(fields, now);
  if (Running() && !pending_.empty() && TakeExchangeReply(fields, now)) {
    pending_.erase(pending_.begin());
    if (pending_.empty())
      Advance(now);
    else
      SendCurrent(now);
  }
}

bool StationEngine::TakeExchangeReply(const std::vector<std::string>& fields,
                                      Clock::time_point now) {
  const Exchange& ex = pending_.front();
  for (std::size_t i = 0; i < ex.replyKeys.size(); ++i) {
    if (fields[2 * i] != ex.replyKeys[i]) return false;
  }
  if (ex.kind == Kind::kIdentity) {
    const std::string value = U(fields[1]);
    const bool imei = ex.replyKeys[0] == "imei";
    (imei ? record_.imei : record_.firmware) = value;
    if (value.empty())
      Fail("a " + ex.fieldNames[0], "an empty answer", now);
    else if (imei && !IsValidImei(value))
      Fail("an IMEI of 15 digits with a valid check digit", "\"" + value + "\"", now);
    else
      Report(ex.fieldNames[0] + " " + value, false, now);
    return true;
  }
  if (ex.kind == Kind::kSet) {
    bool confirmed = true;
    std::string came;
    for (std::size_t i = 0; i < ex.replyKeys.size(); ++i) {
      confirmed = confirmed && fields[2 * i + 1] == "ok";
      came += (i ? "," : "") + ex.replyKeys[i] + "," + U(fields[2 * i + 1]);
    }
    if (confirmed)
      Report("set " + ex.group + ": confirmed", false, now);
    else
      Fail(ex.group + " set (ok)", came, now);
    return true;
  }
  // A late or repeated set confirmation is no read answer (unless "ok" is what was set).
  bool allOk = true;
  bool expectOk = true;
  for (std::size_t i = 0; i < ex.replyKeys.size(); ++i) {
    allOk = allOk && fields[2 * i + 1] == "ok";
    expectOk = expectOk && ex.expected[i] == "ok";
  }
  if (allOk && !expectOk) return false;
  bool same = true;
  for (std::size_t i = 0; i < ex.replyKeys.size(); ++i) {
    const std::string& actual = fields[2 * i + 1];
    if (actual == ex.expected[i]) continue;
    same = false;
    record_.mismatches.push_back({ex.fieldNames[i], U(ex.expected[i]), U(actual)});
    Fail(ex.fieldNames[i] + " \"" + U(ex.expected[i]) + "\"", "\"" + U(actual) + "\"", now);
  }
  if (same) Report("read back " + ex.group + ": as set", false, now);
  return true;
}

void StationEngine::TakeStatus(const std::vector<std::string>& fields) {
  if (step_ == Step::kIdle) return;
  record_.gsmSignal = U(fields[1]);
  record_.agpsCount = U(fields[3]);
  record_.gpsCount = U(fields[5]);
  record_.sim = fields[7] == "1" ? "present" : "absent";
}

void StationEngine::TakeTestResult(const std::vector<std::string>& fields, Clock::time_point now) {
  if (step_ != Step::kTest) return;
  testResult_ = {fields[1], fields[3], fields[5]};
  record_.testGsm = fields[1] == "ok";
  record_.testGps = fields[3] == "ok";
  record_.testKey = fields[5] == "ok";
  if (*record_.testGsm && *record_.testGps && *record_.testKey) {
    Report("gsm, gps and key passed", false, now);
    Advance(now);
  }
}

void StationEngine::FailTest(Clock::time_point now) {
  const std::string within = "within " + Seconds(unit_.testTimeout);
  if (!testResult_) return Fail("a test result " + within, "none", now);
  const char* names[] = {"gsm", "gps", "key"};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string& value = (*testResult_)[i];
    if (value != "ok") Fail(std::string(names[i]) + " ok " + within, "\"" + U(value) + "\"", now);
  }
}

void StationEngine::CheckGps(Clock::time_point now, bool final) {
  const GpsMeasure m = link_.MeasureGps();
  const GpsCriteria& c = unit_.gps;
  record_.ttffSeconds = m.ttffSeconds;
  record_.satellitesUsed = m.satellitesUsed;
  record_.bestSignalDbHz.reset();
  if (!m.usedSignalsDbHz.empty()) {
    record_.bestSignalDbHz = *std::max_element(m.usedSignalsDbHz.begin(), m.usedSignalsDbHz.end());
  }
  const auto strong = std::count_if(m.usedSignalsDbHz.begin(), m.usedSignalsDbHz.end(),
                                    [&](int dbHz) { return dbHz >= c.strongSignalDbHz; });
  const bool fixOk = m.ttffSeconds && *m.ttffSeconds <= c.fixWithinSeconds;
  const bool usedOk = m.satellitesUsed >= c.minSatellitesUsed;
  const bool strongOk = strong >= c.minStrongSignals;
  if (fixOk && usedOk && strongOk) {
    Report("fix after " + std::to_string(*m.ttffSeconds) + " s, " +
               std::to_string(m.satellitesUsed) + " satellites used",
           false, now);
    return Advance(now);
  }
  if (!final) return;
  char within[64];
  (void)std::snprintf(within, sizeof within, "a fix within %g s", c.fixWithinSeconds);
  if (!fixOk) {
    Fail(within, m.ttffSeconds ? "a fix after " + std::to_string(*m.ttffSeconds) + " s" : "no fix",
         now);
  }
  if (!usedOk) {
    Fail(std::to_string(c.minSatellitesUsed) + " satellites used", std::to_string(m.satellitesUsed),
         now);
  }
  if (!strongOk) {
    Fail(std::to_string(c.minStrongSignals) + " used at " + std::to_string(c.strongSignalDbHz) +
             " dB-Hz or more",
         std::to_string(strong), now);
  }
  Advance(now);
}

void StationEngine::OnTick(Clock::time_point now) {
  if (!Running()) return;
  if (step_ == Step::kGps) return CheckGps(now, now >= deadline_);
  if (now <= deadline_) return;  // an answer at the deadline is within it
  if (step_ == Step::kTest) {
    FailTest(now);
    return Advance(now);
  }
  // The unit stopped answering: every further request would only wait as long again.
  Fail("an answer to \"" + U(pending_.front().command) + "\" within " + Seconds(unit_.stepTimeout),
       "none", now);
  Finish(now);
}

void StationEngine::Interrupt(const std::string& step, const std::string& why,
                              Clock::time_point now) {
  if (!Running()) return;
  const std::string during = why + " during " + std::string(StepName(step_));
  record_.reasons.push_back({step, "the sequence to run to its verdict", during});
  Report(during, true, now);
  Finish(now);
}

void StationEngine::OnStopped(Clock::time_point now) {
  Interrupt("stopped", "station stopped", now);
  step_ = Step::kIdle;
  port_.clear();
  pending_.clear();
}

void StationEngine::OnUnplugged(Clock::time_point now) {
  Interrupt("unplugged", "unplugged", now);
  step_ = Step::kIdle;
  port_.clear();
  pending_.clear();
  Report("ready for the next unit", false, now);
}

void StationEngine::Finish(Clock::time_point now) {
  pending_.clear();
  record_.endedUtc = records::UtcNowIso();
  record_.passed = record_.reasons.empty();
  records::StoreStatus saved = records::StoreStatus::Ok();
  if (store_) saved = store_->Append(record_);
  step_ = Step::kVerdict;
  Report(record_.passed ? "PASS" : "FAIL", !record_.passed, now);
  if (listener_) listener_->OnVerdict(record_, saved);
}

}  // namespace station
