// Arbitrary tracker replies into the reply parser: no crash, no write outside its field table,
// and no member ever receives more than one field's 99 bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/config_logic.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/recording_surface.h"

namespace {

constexpr std::size_t kMaxFieldBytes = 99;

void CheckMembers(const DialogState& s) {
  for (const std::string* value :
       {&s.m_serverAddr, &s.m_serverPort, &s.m_imei, &s.m_version, &s.m_centerNumber,
        &s.m_slaveNumber, &s.m_language, &s.m_zone, &s.m_monitorNumber, &s.m_uploadInterval,
        &s.m_sos1, &s.m_sos2, &s.m_sos3, &s.m_gsmSignal, &s.m_agpsCount, &s.m_gpsCount}) {
    if (value->size() > kMaxFieldBytes) std::abort();
  }
}

struct Fixture {
  DialogState state;
  RecordingSurface surface{state};
  StdUiDispatcher ui;
  ConfigLogic logic{state,
                    surface,
                    ui,
                    {.roots = {"/nonexistent/tc-fuzz/sys", "/nonexistent/tc-fuzz/dev",
                               "/nonexistent/tc-fuzz/ports"},
                     .useUdev = false}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture* fixture = new Fixture();  // one logic for the run, as in the console
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  fixture->logic.ParseReply(text.data());
  CheckMembers(fixture->state);
  CheckMembers(fixture->surface.Controls());
  if (std::string(fixture->logic.NoticeText()).size() > kMaxFieldBytes) std::abort();
  fixture->logic.NoticeTimerProc();
  fixture->surface.boxes.clear();
  return 0;
}
