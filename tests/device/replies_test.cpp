// The reply parser and its deferred notices, driven directly: what each reply shape does to
// the members, the window refresh and the notice, and what near misses leave alone.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/config_logic.h"
#include "platform/gbk.h"
#include "serial/std_ui_dispatcher.h"
#include "tests/support/recording_surface.h"

namespace {

std::string G(const char* utf8) {
  return gbk::FromUtf8(utf8);
}

// Fake system folders, so nothing of the machine's ports is seen.
class ReplyTempFolders {
 public:
  ReplyTempFolders() {
    char pattern[] = "/tmp/tc-replies-XXXXXX";
    root_ = mkdtemp(pattern);
    for (const char* sub : {"sys", "dev", "ports"})
      std::filesystem::create_directories(root_ / sub);
  }
  ~ReplyTempFolders() { std::filesystem::remove_all(root_); }
  ConsoleEnvironment Environment() const {
    ConsoleEnvironment env;
    env.roots.sysClassTty = root_ / "sys";
    env.roots.dev = root_ / "dev";
    env.roots.portsFolder = root_ / "ports";
    env.useUdev = false;
    return env;
  }

 private:
  std::filesystem::path root_;
};

// Records the order of refreshes and notice-timer starts.
class SequenceSurface : public RecordingSurface {
 public:
  using RecordingSurface::RecordingSurface;
  void UpdateData(bool saveAndValidate) override {
    events.push_back(saveAndValidate ? "save" : "refresh");
    RecordingSurface::UpdateData(saveAndValidate);
  }
  void StartNoticeTimer(int milliseconds) override {
    events.push_back("notice");
    RecordingSurface::StartNoticeTimer(milliseconds);
  }
  std::vector<std::string> events;
};

struct ReplyHarness {
  explicit ReplyHarness(const DialogState& initial)
      : state(initial), surface(state), logic(state, surface, ui, folders.Environment()) {}
  ReplyTempFolders folders;
  DialogState state;
  SequenceSurface surface;
  StdUiDispatcher ui;
  ConfigLogic logic;
};

// Two starting points with every value the parser may write already set, the flags opposite
// in each, so both a change and "left alone" show.
DialogState SeededState(bool flags) {
  DialogState s;
  s.m_serverAddr = "old.addr";
  s.m_serverPort = "1111";
  s.m_addrLabel = "old label";
  s.m_imei = "old imei";
  s.m_version = "old ver";
  s.m_centerNumber = "old center";
  s.m_slaveNumber = "old slave";
  s.m_language = "old lang";
  s.m_zone = "old zone";
  s.m_monitorNumber = "old monitor";
  s.m_uploadInterval = "old upload";
  s.m_sos1 = "old sos1";
  s.m_sos2 = "old sos2";
  s.m_sos3 = "old sos3";
  s.m_testResult = "old result";
  s.m_gsmSignal = "old signal";
  s.m_agpsCount = "old agps";
  s.m_gpsCount = "old gps";
  s.m_simState = "old sim";
  s.m_useDomain = flags;
  s.m_gsmOk = flags;
  s.m_gpsOk = flags;
  s.m_keyOk = flags;
  return s;
}

void ExpectReplyMembers(const DialogState& actual, const DialogState& expected) {
  using S = std::string DialogState::*;
  const std::vector<std::pair<const char*, S>> strings = {
      {"m_serverAddr", &DialogState::m_serverAddr},
      {"m_serverPort", &DialogState::m_serverPort},
      {"m_addrLabel", &DialogState::m_addrLabel},
      {"m_imei", &DialogState::m_imei},
      {"m_version", &DialogState::m_version},
      {"m_centerNumber", &DialogState::m_centerNumber},
      {"m_slaveNumber", &DialogState::m_slaveNumber},
      {"m_language", &DialogState::m_language},
      {"m_zone", &DialogState::m_zone},
      {"m_monitorNumber", &DialogState::m_monitorNumber},
      {"m_uploadInterval", &DialogState::m_uploadInterval},
      {"m_sos1", &DialogState::m_sos1},
      {"m_sos2", &DialogState::m_sos2},
      {"m_sos3", &DialogState::m_sos3},
      {"m_testResult", &DialogState::m_testResult},
      {"m_gsmSignal", &DialogState::m_gsmSignal},
      {"m_agpsCount", &DialogState::m_agpsCount},
      {"m_gpsCount", &DialogState::m_gpsCount},
      {"m_simState", &DialogState::m_simState},
  };
  for (const auto& [name, member] : strings) EXPECT_EQ(actual.*member, expected.*member) << name;
  EXPECT_EQ(actual.m_useDomain, expected.m_useDomain) << "m_useDomain";
  EXPECT_EQ(actual.m_gsmOk, expected.m_gsmOk) << "m_gsmOk";
  EXPECT_EQ(actual.m_gpsOk, expected.m_gpsOk) << "m_gpsOk";
  EXPECT_EQ(actual.m_keyOk, expected.m_keyOk) << "m_keyOk";
}

using Events = std::vector<std::string>;
const Events kReadAnswer = {"refresh", "notice"};
const Events kConfirmation = {"notice"};
const Events kRefreshOnly = {"refresh"};
const Events kNothing = {};

struct ReplyCase {
  const char* description;
  std::string reply;
  std::function<void(DialogState&)> change;  // what the reply does to the members
  Events events;
  std::string notice;  // GBK, empty when none
};

std::vector<ReplyCase> ReplyCases() {
  const std::string longValue(150, '7');
  return {
      // Address
      {"address read, IP", "ip_url,10.0.0.1,port,8080,url,0#\r\n",
       [](DialogState& s) {
         s.m_serverAddr = "10.0.0.1";
         s.m_serverPort = "8080";
         s.m_useDomain = false;
         s.m_addrLabel = T(kAddrLabelIp);
       },
       kReadAnswer, T(kNoticeIpRead)},
      {"address read, domain keeps the received address",
       "ip_url,t.example.cn,port,9000,url,1#\r\n",
       [](DialogState& s) {
         s.m_serverAddr = "t.example.cn";
         s.m_serverPort = "9000";
         s.m_useDomain = true;
         s.m_addrLabel = T(kAddrLabelUrl);
       },
       kReadAnswer, T(kNoticeDomainRead)},
      {"address confirmed changes nothing", "ip_url,ok,port,ok,url,ok#\r\n", nullptr, kConfirmation,
       T(kNoticeAddrSet)},
      {"address with ok only in fields 1 and 3 is a read", "ip_url,ok,port,ok,url,1#\r\n",
       [](DialogState& s) {
         s.m_serverAddr = "ok";
         s.m_serverPort = "ok";
         s.m_useDomain = true;
         s.m_addrLabel = T(kAddrLabelUrl);
       },
       kReadAnswer, T(kNoticeDomainRead)},
      {"address url 01 means IP", "ip_url,a,port,1,url,01#\r\n",
       [](DialogState& s) {
         s.m_serverAddr = "a";
         s.m_serverPort = "1";
         s.m_useDomain = false;
         s.m_addrLabel = T(kAddrLabelIp);
       },
       kReadAnswer, T(kNoticeIpRead)},
      {"address with empty fields", "ip_url,,port,,url,#\r\n",
       [](DialogState& s) {
         s.m_serverAddr = "";
         s.m_serverPort = "";
         s.m_useDomain = false;
         s.m_addrLabel = T(kAddrLabelIp);
       },
       kReadAnswer, T(kNoticeIpRead)},
      {"address ending after field 1 is ignored", "ip_url,10.0.0.1#\r\n", nullptr, kNothing, ""},
      {"address with misspelled key is ignored", "ip_url,a,prot,1,url,0#\r\n", nullptr, kNothing,
       ""},
      {"address without # keeps the line end in url", "ip_url,a,port,1,url,1\r\n",
       [](DialogState& s) {
         s.m_serverAddr = "a";
         s.m_serverPort = "1";
         s.m_useDomain = false;
         s.m_addrLabel = T(kAddrLabelIp);
       },
       kReadAnswer, T(kNoticeIpRead)},

      // IMEI
      {"imei read", "imei,123456789012345#\r\n",
       [](DialogState& s) { s.m_imei = "123456789012345"; }, kReadAnswer, T(kNoticeImeiRead)},
      {"imei confirmed empties the imei without a refresh", "imei,ok#\r\n",
       [](DialogState& s) { s.m_imei = ""; }, kConfirmation, T(kNoticeImeiSet)},
      {"imei with no field 1 reads empty", "imei#\r\n", [](DialogState& s) { s.m_imei = ""; },
       kReadAnswer, T(kNoticeImeiRead)},
      {"imei upper-case key is ignored", "IMEI,123456789012345#\r\n", nullptr, kNothing, ""},
      {"imei key with a trailing space is ignored", "imei ,1#\r\n", nullptr, kNothing, ""},
      {"imei ok without # is a read with the line end", "imei,ok\r\n",
       [](DialogState& s) { s.m_imei = "ok\r\n"; }, kReadAnswer, T(kNoticeImeiRead)},
      {"imei OK in capitals is a read", "imei,OK#\r\n", [](DialogState& s) { s.m_imei = "OK"; },
       kReadAnswer, T(kNoticeImeiRead)},
      {"imei 'ok ' is a read", "imei,ok #\r\n", [](DialogState& s) { s.m_imei = "ok "; },
       kReadAnswer, T(kNoticeImeiRead)},
      {"bytes after # are ignored", "imei,123#,ok,ok#junk\r\n",
       [](DialogState& s) { s.m_imei = "123"; }, kReadAnswer, T(kNoticeImeiRead)},
      {"imei too long is cut to 99 bytes", "imei," + longValue + "#\r\n",
       [](DialogState& s) { s.m_imei = std::string(99, '7'); }, kReadAnswer, T(kNoticeImeiRead)},

      // Version
      {"version read", "ver,V2.07_180421#\r\n",
       [](DialogState& s) { s.m_version = "V2.07_180421"; }, kReadAnswer, T(kNoticeVersionRead)},
      {"version ok is a read (no set form)", "ver,ok#\r\n",
       [](DialogState& s) { s.m_version = "ok"; }, kReadAnswer, T(kNoticeVersionRead)},
      {"version in GBK", "ver," + G("版本二") + "#\r\n",
       [](DialogState& s) { s.m_version = G("版本二"); }, kReadAnswer, T(kNoticeVersionRead)},

      // Centre and auxiliary numbers
      {"numbers read", "center_number,13800138000,slave_number,13900139000#\r\n",
       [](DialogState& s) {
         s.m_centerNumber = "13800138000";
         s.m_slaveNumber = "13900139000";
       },
       kReadAnswer, T(kNoticeNumbersRead)},
      {"numbers confirmed", "center_number,ok,slave_number,ok#\r\n", nullptr, kConfirmation,
       T(kNoticeNumbersSet)},
      {"numbers with ok in one field is a read", "center_number,ok,slave_number,139#\r\n",
       [](DialogState& s) {
         s.m_centerNumber = "ok";
         s.m_slaveNumber = "139";
       },
       kReadAnswer, T(kNoticeNumbersRead)},
      {"numbers empty values", "center_number,,slave_number,#\r\n",
       [](DialogState& s) {
         s.m_centerNumber = "";
         s.m_slaveNumber = "";
       },
       kReadAnswer, T(kNoticeNumbersRead)},
      {"numbers missing second key is ignored", "center_number,138#\r\n", nullptr, kNothing, ""},

      // Language and zone
      {"language read", "language,1,zone,8#\r\n",
       [](DialogState& s) {
         s.m_language = "1";
         s.m_zone = "8";
       },
       kReadAnswer, T(kNoticeLanguageRead)},
      {"language confirmed", "language,ok,zone,ok#\r\n", nullptr, kConfirmation,
       T(kNoticeLanguageSet)},
      {"language with ok in zone only is a read", "language,0,zone,ok#\r\n",
       [](DialogState& s) {
         s.m_language = "0";
         s.m_zone = "ok";
       },
       kReadAnswer, T(kNoticeLanguageRead)},

      // Monitor and upload
      {"monitor read", "monitor,13700137000#\r\n",
       [](DialogState& s) { s.m_monitorNumber = "13700137000"; }, kReadAnswer,
       T(kNoticeMonitorRead)},
      {"monitor confirmed", "monitor,ok#\r\n", nullptr, kConfirmation, T(kNoticeMonitorSet)},
      {"upload read", "upload,60#\r\n", [](DialogState& s) { s.m_uploadInterval = "60"; },
       kReadAnswer, T(kNoticeUploadRead)},
      {"upload confirmed", "upload,ok#\r\n", nullptr, kConfirmation, T(kNoticeUploadSet)},

      // SOS
      {"sos read", "sos1,110,sos2,120,sos3,119#\r\n",
       [](DialogState& s) {
         s.m_sos1 = "110";
         s.m_sos2 = "120";
         s.m_sos3 = "119";
       },
       kReadAnswer, T(kNoticeSosRead)},
      {"sos confirmed", "sos1,ok,sos2,ok,sos3,ok#\r\n", nullptr, kConfirmation, T(kNoticeSosSet)},
      {"sos with ok in two of three is a read", "sos1,ok,sos2,ok,sos3,112#\r\n",
       [](DialogState& s) {
         s.m_sos1 = "ok";
         s.m_sos2 = "ok";
         s.m_sos3 = "112";
       },
       kReadAnswer, T(kNoticeSosRead)},
      {"sos eleventh and later fields are dropped", "sos1,a,sos2,b,sos3,c,x,y,z,w,11,12,13#\r\n",
       [](DialogState& s) {
         s.m_sos1 = "a";
         s.m_sos2 = "b";
         s.m_sos3 = "c";
       },
       kReadAnswer, T(kNoticeSosRead)},
      {"sos missing third key is ignored", "sos1,a,sos2,b#\r\n", nullptr, kNothing, ""},

      // Factory test echo, result and status
      {"test echo does nothing", "factory_test#\r\n", nullptr, kNothing, ""},
      {"test echo with more fields does nothing", "factory_test,ok,gsm,ok#\r\n", nullptr, kNothing,
       ""},
      {"test result all ok passes", "gsm,ok,gps,ok,key,ok#\r\n",
       [](DialogState& s) {
         s.m_gsmOk = s.m_gpsOk = s.m_keyOk = true;
         s.m_testResult = T(kPass);
       },
       kRefreshOnly, ""},
      {"test result gps failing is still testing", "gsm,ok,gps,fail,key,ok#\r\n",
       [](DialogState& s) {
         s.m_gsmOk = true;
         s.m_gpsOk = false;
         s.m_keyOk = true;
         s.m_testResult = T(kTesting);
       },
       kRefreshOnly, ""},
      {"test result none ok", "gsm,,gps,OK,key,0#\r\n",
       [](DialogState& s) {
         s.m_gsmOk = s.m_gpsOk = s.m_keyOk = false;
         s.m_testResult = T(kTesting);
       },
       kRefreshOnly, ""},
      {"status with sim", "gsm,25,agps,3,gps,7,sim,1#\r\n",
       [](DialogState& s) {
         s.m_gsmSignal = "25";
         s.m_agpsCount = "3";
         s.m_gpsCount = "7";
         s.m_simState = T(kSimPresent);
       },
       kNothing, ""},
      {"status without sim", "gsm,25,agps,3,gps,7,sim,0#\r\n",
       [](DialogState& s) {
         s.m_gsmSignal = "25";
         s.m_agpsCount = "3";
         s.m_gpsCount = "7";
         s.m_simState = T(kSimAbsent);
       },
       kNothing, ""},
      {"status without # keeps the line end in sim", "gsm,9,agps,0,gps,0,sim,1\r\n",
       [](DialogState& s) {
         s.m_gsmSignal = "9";
         s.m_agpsCount = "0";
         s.m_gpsCount = "0";
         s.m_simState = T(kSimAbsent);
       },
       kNothing, ""},
      {"status cut short is ignored", "gsm,25,agps,3#\r\n", nullptr, kNothing, ""},

      // Nothing to match
      {"empty text", "", nullptr, kNothing, ""},
      {"only the line end", "\r\n", nullptr, kNothing, ""},
      {"only #", "#\r\n", nullptr, kNothing, ""},
      {"unknown key", "reboot,ok#\r\n", nullptr, kNothing, ""},
      {"commas only", ",,,,,,,,,,,,,,,,,,,,#\r\n", nullptr, kNothing, ""},
      {"key longer than a field", std::string(300, 'i') + ",1#\r\n", nullptr, kNothing, ""},
  };
}

TEST(ReplyParser, EachShapeSetsMembersRefreshesAndNotifiesAsDocumented) {
  for (const ReplyCase& c : ReplyCases()) {
    for (const bool flags : {false, true}) {
      SCOPED_TRACE(std::string(c.description) + (flags ? " (flags set)" : " (flags clear)"));
      const DialogState seed = SeededState(flags);
      ReplyHarness h(seed);
      h.logic.ParseReply(c.reply.c_str());

      DialogState expected = seed;
      if (c.change) c.change(expected);
      ExpectReplyMembers(h.state, expected);
      EXPECT_EQ(h.surface.events, c.events);
      // A refresh shows the members as they were when it ran: all of them already assigned.
      if (h.surface.refreshes > 0) ExpectReplyMembers(h.surface.Controls(), expected);
      EXPECT_TRUE(h.surface.boxes.empty()) << "no box opens inside the receive handler";

      if (c.notice.empty()) {
        EXPECT_EQ(h.surface.noticeTimerStarts, 0);
        continue;
      }
      EXPECT_EQ(h.surface.noticeTimerStarts, 1);
      EXPECT_EQ(h.surface.noticeTimerInterval, 5);
      EXPECT_EQ(std::string(h.logic.NoticeText()), c.notice);
      h.logic.NoticeTimerProc();
      EXPECT_FALSE(h.surface.noticeTimerRunning);
      ASSERT_EQ(h.surface.boxes.size(), 1u);
      EXPECT_EQ(h.surface.boxes[0].text, c.notice);
      EXPECT_EQ(h.surface.boxes[0].icon, MessageIcon::kNone);
      EXPECT_EQ(h.surface.boxes[0].caption, T(kAppTitle));
    }
  }
}

TEST(ReplyParser, NullTextChangesNothing) {
  const DialogState seed = SeededState(true);
  ReplyHarness h(seed);
  h.logic.ParseReply(nullptr);
  ExpectReplyMembers(h.state, seed);
  EXPECT_TRUE(h.surface.events.empty());
}

TEST(ReplyParser, TenFieldsOfMaximumLengthStayInTheTable) {
  // Every slot full and then some: nothing may spill into the next field.
  std::string reply = "gsm," + std::string(120, 'a') + ",agps," + std::string(99, 'b') + ",gps," +
                      std::string(98, 'c') + ",sim,1," + std::string(200, 'd') + "," +
                      std::string(200, 'e') + "#\r\n";
  ReplyHarness h(SeededState(false));
  h.logic.ParseReply(reply.c_str());
  EXPECT_EQ(h.state.m_gsmSignal, std::string(99, 'a'));
  EXPECT_EQ(h.state.m_agpsCount, std::string(99, 'b'));
  EXPECT_EQ(h.state.m_gpsCount, std::string(98, 'c'));
  EXPECT_EQ(h.state.m_simState, T(kSimPresent));
}

TEST(ReplyNotice, TwoNoticesBeforeTheTimerFiresShowOnlyTheSecond) {
  ReplyHarness h(SeededState(false));
  h.logic.ParseReply("imei,123456789012345#\r\n");
  h.logic.ParseReply("ver,V1#\r\n");
  EXPECT_EQ(h.surface.noticeTimerStarts, 2);
  h.logic.NoticeTimerProc();
  EXPECT_EQ(h.surface.BoxTexts(), std::vector<std::string>{T(kNoticeVersionRead)});
  EXPECT_EQ(h.state.m_imei, "123456789012345") << "the first reply's values still arrive";
}

// A surface whose box keeps the caller's text by reference while it is open, as a real box
// would read it, and lets a second notice arrive meanwhile (the box's own event loop).
class NestedBoxSurface : public SequenceSurface {
 public:
  using SequenceSurface::SequenceSurface;
  void MessageBox(const std::string& gbkText, MessageIcon icon,
                  const std::string& gbkCaption) override {
    RecordingSurface::MessageBox(gbkText, icon, gbkCaption);
    if (whileOpen) {
      auto run = std::move(whileOpen);
      whileOpen = nullptr;
      run();
    }
    textWhenClosed.push_back(gbkText);
  }
  std::function<void()> whileOpen;
  std::vector<std::string> textWhenClosed;
};

TEST(ReplyNotice, OpenBoxKeepsItsTextWhenASecondNoticeArrives) {
  ReplyTempFolders folders;
  DialogState state;
  NestedBoxSurface surface(state);
  StdUiDispatcher ui;
  ConfigLogic logic(state, surface, ui, folders.Environment());

  logic.ParseReply("monitor,ok#\r\n");
  surface.whileOpen = [&] {
    logic.ParseReply("upload,ok#\r\n");
    logic.NoticeTimerProc();
  };
  logic.NoticeTimerProc();

  EXPECT_EQ(surface.BoxTexts(),
            (std::vector<std::string>{T(kNoticeMonitorSet), T(kNoticeUploadSet)}));
  // The inner box closes first, then the outer one, which must still read its own text.
  EXPECT_EQ(surface.textWhenClosed,
            (std::vector<std::string>{T(kNoticeUploadSet), T(kNoticeMonitorSet)}));
}

TEST(ReplyNotice, LongTextIsCutTo99Bytes) {
  ReplyHarness h(SeededState(false));
  const std::string text(150, 'n');
  h.logic.ShowNoticeLater(text.c_str());
  EXPECT_EQ(std::string(h.logic.NoticeText()), std::string(99, 'n'));
  h.logic.ShowNoticeLater("short");
  EXPECT_EQ(std::string(h.logic.NoticeText()), "short") << "nothing of the longer text remains";
  h.logic.NoticeTimerProc();
  EXPECT_EQ(h.surface.BoxTexts(), std::vector<std::string>{"short"});
}

}  // namespace
