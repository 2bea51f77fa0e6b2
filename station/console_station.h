#pragma once
// The station sequence on the console's own logic: the logic's link and replies drive the
// engine, the engine's requests go out through the logic's encoder. The window and the headless
// jig both run one per port. UI thread only; call Tick every 100 ms or so.

#include "device/config_logic.h"
#include "device/dialog_state.h"
#include "station/station_engine.h"

namespace station {

// What the GPS panel shows now, as the GPS criteria measure it; `ttffSeconds` is what the
// caller measured from the connection to the first fix.
GpsMeasure MeasureGpsFromPanel(const DialogState& panel, std::optional<double> ttffSeconds);

class ConsoleStation final : public LogicObserver, public UnitLink {
 public:
  ConsoleStation(ConfigLogic& logic, DialogState& state, records::RecordStore* store,
                 StationListener* listener);
  ~ConsoleStation() override;
  ConsoleStation(const ConsoleStation&) = delete;
  ConsoleStation& operator=(const ConsoleStation&) = delete;

  // On: the logic reports to this station and shows notices on the status line. Switching on
  // while a tracker is connected starts its sequence at once.
  void SetEnabled(bool on);
  [[nodiscard]] bool Enabled() const { return enabled_; }
  [[nodiscard]] StationEngine& Engine() { return engine_; }
  void Tick();

  // LogicObserver
  void OnLinkUp(const std::string& utf8PortName, const std::string& utf8UsbIdentity) override;
  void OnLinkDown() override;
  void OnReply(const char* reply) override;

  // UnitLink
  void Send(const std::string& command) override;
  void StartTest(std::chrono::milliseconds timeout) override;
  GpsMeasure MeasureGps() override;

 private:
  ConfigLogic& logic_;
  DialogState& state_;
  StationEngine engine_;
  bool enabled_ = false;
  Clock::time_point connectedAt_{};
  std::optional<double> ttffSeconds_;
};

}  // namespace station
