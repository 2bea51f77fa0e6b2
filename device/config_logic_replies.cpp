#include "device/config_logic.h"

// Placeholder until the reply parser lands.
void ConfigLogic::ParseReply(const char*) {}
void ConfigLogic::ShowNoticeLater(const char*) {}
void ConfigLogic::NoticeTimerProc() {}
