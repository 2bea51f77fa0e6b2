#pragma once
// Test helpers for the NMEA panel: a panel fed sentence by sentence that counts what the
// dialog would do, and a readable "key: value" view of everything the parser touches.

#include <string>

#include "device/dialog_state.h"
#include "gps/nmea_parser.h"

namespace nmea_test {

// One console's GPS panel from start-up: the dialog's initial texts and zeroed tables. The
// first fix is timed from the start on a clock that reads the number of payloads fed, in
// seconds, so a log's time to first fix is the position of the sentence that brought it.
struct PanelRun {
  PanelRun();
  PanelRun(const PanelRun&) = delete;
  PanelRun& operator=(const PanelRun&) = delete;
  DialogState panel;
  gps::NmeaTables tables;
  int sentences = 0;
  int refreshes = 0;
  int indicatorSets = 0;
  bool indicatorOn = false;  // unchecked at start
  gps::NmeaOutcome last;

  // A '$' sentence without '*' gets its checksum, as a receiver sends it; FeedRaw sends the
  // bytes as they are.
  void Feed(const char* sentence);
  void Feed(const std::string& sentence) { Feed(sentence.c_str()); }
  void FeedRaw(const char* payload);
};

// Every panel member (strings quoted, GBK shown as UTF-8), the four tables and the counts as
// lines "key: value": the panel as the operator reads it, then the tables.
std::string ViewText(const PanelRun& run);

// What the receiver of every constellation told the panel: position, fix, DOPs, RMC's
// values, satellites in view and used per system, the first fix.
std::string GnssViewText(const PanelRun& run);

}  // namespace nmea_test
