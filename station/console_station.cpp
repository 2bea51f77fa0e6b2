#include "station/console_station.h"

#include <algorithm>
#include <cstdlib>

#include "platform/gbk.h"

namespace station {

GpsMeasure MeasureGps(const gps::FirstFix& firstFix, const gps::GpsPanelMembers& panel) {
  GpsMeasure measure;
  if (firstFix.have) measure.ttffSeconds = firstFix.seconds;
  // The receiver's last solution; the one at the first fix when none is reported now.
  for (const gps::SatelliteInView& satellite : panel.m_satellites) {
    if (!satellite.used) continue;
    ++measure.satellitesUsed;
    if (satellite.snr > 0) measure.usedSignalsDbHz.push_back(satellite.snr);
  }
  measure.satellitesUsed = std::max(measure.satellitesUsed, std::atoi(panel.m_satsUsed.c_str()));
  if (measure.satellitesUsed == 0 && firstFix.have) {
    measure.satellitesUsed = firstFix.satellitesUsed;
    for (const gps::SatelliteSignal& used : firstFix.usedSignals) {
      if (used.snrDbHz > 0) measure.usedSignalsDbHz.push_back(used.snrDbHz);
    }
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
  if (enabled_) engine_.OnTick(Clock::now());
}

void ConsoleStation::OnLinkUp(const std::string& utf8PortName, const std::string& utf8UsbIdentity) {
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
  return station::MeasureGps(logic_.FirstFixInfo(), state_);
}

}  // namespace station
