// The reply parser and its deferred notices, driven directly: what each reply shape does to
// the members, the window refresh and the notice, and what near misses leave alone.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/config_logic.h"
#include "platform/gbk.h"
#include "tests/support/console_harness.h"

namespace {

// The system's texts are spelled out: a changed text must fail here.
constexpr auto U = &gbk::FromUtf8;

using D = DialogState;
using Member = std::string D::*;

// Every member the parser may write.
const Member kReplyMembers[] = {
    &D::m_serverAddr,     &D::m_serverPort,  &D::m_addrLabel, &D::m_imei,    &D::m_version,
    &D::m_centerNumber,   &D::m_slaveNumber, &D::m_language,  &D::m_zone,    &D::m_monitorNumber,
    &D::m_uploadInterval, &D::m_sos1,        &D::m_sos2,      &D::m_sos3,    &D::m_testResult,
    &D::m_gsmSignal,      &D::m_agpsCount,   &D::m_gpsCount,  &D::m_simState};

// Every one of them set, the flags as given, so that both a change and "left alone" show; the
// controls show the same.
DialogState Seed(ConsoleHarness& h, bool flags) {
  DialogState& s = h.state;
  for (Member m : kReplyMembers) s.*m = "old";
  s.m_useDomain = s.m_gsmOk = s.m_gpsOk = s.m_keyOk = flags;
  h.surface.Controls() = s;
  return s;
}

// Those members in order, then the flags.
std::vector<std::string> ReplyMembers(const DialogState& s) {
  std::vector<std::string> values;
  for (Member m : kReplyMembers) values.push_back(s.*m);
  for (bool flag : {s.m_useDomain, s.m_gsmOk, s.m_gpsOk, s.m_keyOk})
    values.push_back(flag ? "1" : "0");
  return values;
}

using Change = std::function<void(DialogState&)>;

Change Sets(std::vector<std::pair<Member, std::string>> values) {
  return [values](DialogState& s) {
    for (const auto& [member, value] : values) s.*member = value;
  };
}
Change Address(const char* addr, const char* port, bool domain) {
  return [=](DialogState& s) {
    Sets({{&D::m_serverAddr, addr}, {&D::m_serverPort, port}})(s);
    s.m_useDomain = domain;
    s.m_addrLabel = domain ? T(kAddrLabelUrl) : T(kAddrLabelIp);
  };
}
Change TestResult(bool gsm, bool gps, bool key) {
  return [=](DialogState& s) {
    s.m_gsmOk = gsm;
    s.m_gpsOk = gps;
    s.m_keyOk = key;
    s.m_testResult = gsm && gps && key ? T(kPass) : T(kTesting);
  };
}
Change Status(std::string signal, const char* agps, const char* gps, bool sim) {
  return [=](DialogState& s) {
    Sets({{&D::m_gsmSignal, signal}, {&D::m_agpsCount, agps}, {&D::m_gpsCount, gps}})(s);
    s.m_simState = sim ? T(kSimPresent) : T(kSimAbsent);
  };
}

struct ReplyCase {
  const char* description;
  std::optional<std::string> reply;  // nullopt: a null text
  Change change;                     // null: the members stay
  int refreshes = 0;
  std::string notice = {};  // GBK, empty when none
};

std::vector<ReplyCase> ReplyCases() {
  const std::string gbk = gbk::FromUtf8("版本二");
  return {
      {"address read, IP", "ip_url,10.0.0.1,port,8080,url,0#\r\n",
       Address("10.0.0.1", "8080", false), 1, U("ip和端口读取成功!")},
      {"address read, domain keeps the address", "ip_url,t.example.cn,port,9000,url,1#\r\n",
       Address("t.example.cn", "9000", true), 1, U("域名和端口读取成功!")},
      {"address confirmed", "ip_url,ok,port,ok,url,ok#\r\n", nullptr, 0,
       U("IP或域名,端口设置成功!")},
      {"address with ok in two of three is a read", "ip_url,ok,port,ok,url,1#\r\n",
       Address("ok", "ok", true), 1, U("域名和端口读取成功!")},
      {"address without #: url keeps its line end, so IP", "ip_url,a,port,1,url,1\r\n",
       Address("a", "1", false), 1, U("ip和端口读取成功!")},
      {"address with misspelled key", "ip_url,a,prot,1,url,0#\r\n", nullptr},

      {"imei confirmed empties the box without a refresh", "imei,ok#\r\n", Sets({{&D::m_imei, ""}}),
       0, U("imei设置成功!")},
      {"imei ok without # is a read", "imei,ok\r\n", Sets({{&D::m_imei, "ok\r\n"}}), 1,
       U("imei读取成功!")},
      {"bytes after # are ignored", "imei,123#,ok,ok#junk\r\n", Sets({{&D::m_imei, "123"}}), 1,
       U("imei读取成功!")},

      {"version read in GBK", "ver," + gbk + "#\r\n", Sets({{&D::m_version, gbk}}), 1,
       U("版本号读取成功!")},
      {"version ok is a read (no set form)", "ver,ok#\r\n", Sets({{&D::m_version, "ok"}}), 1,
       U("版本号读取成功!")},

      {"numbers with ok in one field is a read", "center_number,ok,slave_number,139#\r\n",
       Sets({{&D::m_centerNumber, "ok"}, {&D::m_slaveNumber, "139"}}), 1,
       U("中心号码和辅助中心号码读取成功!")},
      {"numbers missing second key", "center_number,138#\r\n", nullptr},
      {"sos read, fields past the tenth dropped", "sos1,a,sos2,b,sos3,c,x,y,z,w,11,12#\r\n",
       Sets({{&D::m_sos1, "a"}, {&D::m_sos2, "b"}, {&D::m_sos3, "c"}}), 1, U("SOS读取成功!")},

      {"test all ok passes", "gsm,ok,gps,ok,key,ok#\r\n", TestResult(true, true, true), 1},
      {"test with gps failing", "gsm,ok,gps,fail,key,ok#\r\n", TestResult(true, false, true), 1},
      {"test with key failing", "gsm,ok,gps,ok,key,fail#\r\n", TestResult(true, true, false), 1},
      {"status", "gsm,25,agps,3,gps,7,sim,1#\r\n", Status("25", "3", "7", true)},
      {"status without #: sim keeps its line end", "gsm,9,agps,0,gps,0,sim,1\r\n",
       Status("9", "0", "0", false)},
      // A field is cut to 99 bytes and nothing spills into the next one.
      {"status with a field over 99 bytes", "gsm," + std::string(120, 'a') + ",agps,3,gps,7,sim,1#",
       Status(std::string(99, 'a'), "3", "7", true)},
      {"status cut short", "gsm,25,agps,3#\r\n", nullptr},

      {"no text at all", std::nullopt, nullptr},
      {"empty text", "", nullptr},
      {"commas only", ",,,,,,,,,,,,,,,,,,,,#\r\n", nullptr},
      {"key longer than a field", std::string(300, 'i') + ",1#\r\n", nullptr},
  };
}

TEST(ReplyParser, EachShapeSetsMembersRefreshesAndNotifies) {
  for (const ReplyCase& c : ReplyCases()) {
    for (const bool flags : {false, true}) {
      SCOPED_TRACE(std::string(c.description) + (flags ? " (flags set)" : " (flags clear)"));
      ConsoleHarness h;
      const DialogState seed = Seed(h, flags);
      h.logic.ParseReply(c.reply ? c.reply->c_str() : nullptr);

      DialogState expected = seed;
      if (c.change) c.change(expected);
      EXPECT_EQ(ReplyMembers(h.state), ReplyMembers(expected));
      EXPECT_EQ(h.surface.saves, 0);
      EXPECT_EQ(h.surface.refreshes, c.refreshes);
      // A refresh shows every member the reply wrote, not just the first.
      EXPECT_EQ(ReplyMembers(h.surface.Controls()),
                ReplyMembers(c.refreshes > 0 ? expected : seed));
      EXPECT_TRUE(h.surface.boxes.empty()) << "no box opens inside the receive handler";
      EXPECT_EQ(h.surface.noticeTimerStarts, c.notice.empty() ? 0 : 1);
      if (c.notice.empty()) continue;
      EXPECT_EQ(h.surface.noticeTimerInterval, 5);
      h.logic.NoticeTimerProc();
      EXPECT_FALSE(h.surface.noticeTimerRunning);
      ASSERT_EQ(h.surface.BoxTexts(), std::vector<std::string>{c.notice});
      EXPECT_EQ(h.surface.boxes[0].icon, MessageIcon::kNone);
      EXPECT_EQ(h.surface.boxes[0].caption, T(kAppTitle));
    }
  }
}

// Once the time-out has failed the test, a late result that is still incomplete stays FAIL.
TEST(ReplyParser, ALateIncompleteTestResultStaysFailed) {
  ConsoleHarness h;
  h.state.m_linkState = T(kLinkConnected);
  h.state.m_testResult = T(kTesting);
  h.logic.OnTestTimerProc();
  h.logic.ParseReply("gsm,ok,gps,fail,key,ok#\r\n");
  EXPECT_EQ(h.state.m_testResult, T(kFail));
  h.logic.ParseReply("gsm,ok,gps,ok,key,ok#\r\n");
  EXPECT_EQ(h.state.m_testResult, T(kPass));
}

// Replies in a burst (one timer run for all of them) each keep their notice, in order; a text
// is cut to 99 bytes, and past 32 waiting notices the oldest go.
TEST(ReplyNotice, EveryNoticeOfABurstShowsInOrderCutTo99Bytes) {
  ConsoleHarness h;
  h.logic.ParseReply("imei,123456789012345#\r\n");
  h.logic.ParseReply("ver,V1#\r\n");
  EXPECT_EQ(h.state.m_imei, "123456789012345") << "the first reply's values still arrive";
  h.logic.NoticeTimerProc();
  EXPECT_EQ(h.surface.BoxTexts(),
            (std::vector<std::string>{U("imei读取成功!"), U("版本号读取成功!")}));

  h.surface.boxes.clear();
  h.logic.ShowNoticeLater(std::string(150, 'n').c_str());
  EXPECT_EQ(std::string(h.logic.NoticeText()), std::string(99, 'n'));
  h.logic.ShowNoticeLater("short");
  h.logic.NoticeTimerProc();
  EXPECT_EQ(h.surface.BoxTexts(), (std::vector<std::string>{std::string(99, 'n'), "short"}));

  for (const int count : {32, 33}) {
    h.surface.boxes.clear();
    for (int i = 0; i < count; ++i) h.logic.ShowNoticeLater(std::to_string(i).c_str());
    h.logic.NoticeTimerProc();
    ASSERT_EQ(h.surface.boxes.size(), 32U);
    EXPECT_EQ(h.surface.boxes.front().text, std::to_string(count - 32));
    EXPECT_EQ(h.surface.boxes.back().text, std::to_string(count - 1));
  }
}

// A notice that comes while the box is open (its own event loop runs the timer) opens only
// once that box was closed, instead of stacking on it.
TEST(ReplyNotice, ANoticeWhileTheBoxIsOpenFollowsItInsteadOfStacking) {
  ConsoleHarness h;
  h.logic.ParseReply("monitor,ok#\r\n");
  h.surface.onBox = [&](const ShownBox&) {
    if (h.surface.boxes.size() > 1) return;
    h.logic.ParseReply("upload,ok#\r\n");
    h.logic.NoticeTimerProc();
    EXPECT_EQ(h.surface.boxes.size(), 1U) << "no second box on top of the open one";
  };
  h.logic.NoticeTimerProc();
  EXPECT_EQ(h.surface.BoxTexts(),
            (std::vector<std::string>{U("监听号码设置成功!"), U("上报时间间隔设置成功!")}));
}

}  // namespace
