#pragma once
// The station sequence on the console's own logic: the logic's link and replies drive the
// engine, the engine's requests go out through the logic's encoder. The window and the headless
// jig both run one per port. UI thread only; call Tick every 100 ms or so.
//
// Without a window: a DialogState, a DialogSurface of one's own (boxes and the log pane to a
// stream), a StdUiDispatcher and a ConfigLogic on them; then a ConsoleStation with a store and
// a listener, Engine().SetSettings(...), SetEnabled(true), logic.OnInitDialog(), and a loop of
// ui.RunFor(100 ms), logic.OnDeviceNoticesReadable() when DeviceNoticeFd() is readable, Tick().

#include "device/config_logic.h"
#include "device/dialog_state.h"
#include "station/station_engine.h"

namespace station {

// What the GPS criteria measure: the time to first fix since the connection (the logic's
// first-fix clock) and the satellites in use now with their signals.
GpsMeasure MeasureGps(const gps::FirstFix& firstFix, const gps::GpsPanelMembers& panel);
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
};

}  // namespace station
