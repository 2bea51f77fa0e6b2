#include "station/console_station.h"

#include <cstdlib>

#include "platform/gbk.h"

namespace station {

GpsMeasure MeasureGpsFromPanel(const DialogState& panel, std::optional<double> ttffSeconds) {
  GpsMeasure measure;
  measure.ttffSeconds = ttffSeconds;
  measure.satellitesUsed = std::atoi(panel.m_satsUsed.c_str());
  // The panel shows a signal only for the satellites in use.
  for (const std::string& snr : panel.m_snr) {
    if (const int dbHz = std::atoi(snr.c_str()); dbHz > 0) measure.usedSignalsDbHz.push_back(dbHz);
  }
  return measure;
}

ConsoleStation::ConsoleStation(ConfigLogic& logic, DialogState& state, records::RecordStore* store,
                               StationListener* listener)
    : logic_(logic), state_(state), engine_(*this, store, listener) {}

ConsoleStation::~ConsoleStation() {
  if (enabled_) {
    engine_.OnStopped(Clock::now());
    logic_.SetObserver(nullptr);
    logic_.SetStationMode(false);
  }
}

void ConsoleStation::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  logic_.SetObserver(on ? this : nullptr);
  logic_.SetStationMode(on);
  if (!on) {
    engine_.OnStopped(Clock::now());
    return;
  }
  if (state_.m_linkState == T(kLinkConnected)) {
    const std::string port = gbk::ToUtf8(state_.m_portName);
    std::string identity;
    for (const ports::PortEntry& entry : logic_.LastPortList()) {
      if (entry.portName == port) identity = PortDetailsText(entry);
    }
    OnLinkUp(port, identity);
  }
}

void ConsoleStation::Tick() {
  if (!enabled_) return;
  const auto now = Clock::now();
  if (!ttffSeconds_ && engine_.Running() && state_.m_fixState == T(kFixed)) {
    ttffSeconds_ = std::chrono::duration<double>(now - connectedAt_).count();
  }
  engine_.OnTick(now);
}

void ConsoleStation::OnLinkUp(const std::string& utf8PortName, const std::string& utf8UsbIdentity) {
  const bool reopened = engine_.CurrentStep() != Step::kIdle && engine_.UnitPort() == utf8PortName;
  if (!reopened) {
    // The panel still shows the previous unit's sky; this unit's first fix is its own.
    connectedAt_ = Clock::now();
    ttffSeconds_.reset();
    static_cast<gps::GpsPanelMembers&>(state_) = gps::GpsPanelMembers{};
    state_.m_fixState = T(kNoFix);
    state_.m_fixType = T(kNoFix);
  }
  engine_.OnConnected(utf8PortName, utf8UsbIdentity, Clock::now());
}

void ConsoleStation::OnLinkDown() {
  engine_.OnUnplugged(Clock::now());
}

void ConsoleStation::OnReply(const char* reply) {
  engine_.OnReply(reply != nullptr ? reply : "", Clock::now());
}

void ConsoleStation::Send(const std::string& command) {
  logic_.SendUartCommand(command.c_str());
}

void ConsoleStation::StartTest(std::chrono::milliseconds timeout) {
  logic_.StartFactoryTest(static_cast<int>(timeout.count()));
}

GpsMeasure ConsoleStation::MeasureGps() {
  return MeasureGpsFromPanel(state_, ttffSeconds_);
}

}  // namespace station
