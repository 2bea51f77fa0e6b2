// The tracker's answers after "AT+uart:": comma-separated fields up to the first "#",
// matched against a fixed list of shapes. Success notices open later from a one-shot timer,
// never while the monitor thread waits for the receive handler.

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "device/config_logic.h"

namespace {

constexpr int kFieldSlots = 10;
constexpr int kSlotSize = 100;  // 99 bytes and a terminating zero
constexpr int kNoticeTimerMilliseconds = 5;
constexpr std::size_t kMostPendingNotices = 32;
constexpr std::string_view kConfirmed = "ok";

// One reply split into fields. Bytes past a field's 99th and fields past the tenth are
// dropped, so a hostile reply can neither overrun the table nor leave a field unterminated.
class ReplyFields {
 public:
  explicit ReplyFields(const char* reply) {
    if (reply != nullptr) Split(reply);
  }

  [[nodiscard]] std::string_view operator[](int index) const { return m_slots[index]; }
  [[nodiscard]] bool Is(int index, std::string_view text) const { return (*this)[index] == text; }

 private:
  void Split(const char* reply) {
    int slot = 0;
    int position = 0;
    for (const char* p = reply; *p != '\0' && *p != '#'; ++p) {
      if (*p == ',') {
        if (++slot == kFieldSlots) return;
        position = 0;
      } else if (position < kSlotSize - 1) {
        m_slots[slot][position++] = *p;
      }
    }
  }

  char m_slots[kFieldSlots][kSlotSize] = {};
};

// A reply of keys at fields 0, 2, 4 with a value after each: "ok" in every value confirms a
// set request; anything else answers a read and goes into the members in order.
struct ValueReply {
  std::array<const char*, 3> keys;  // unused entries are nullptr
  std::array<std::string DialogState::*, 3> members;
  texts::Id setNotice;  // texts::Id::kCount: the reply has no set form
  texts::Id readNotice;
  bool clearFirstOnConfirm;  // the IMEI box empties once the device took the IMEI
};

constexpr texts::Id kNoSetForm = texts::Id::kCount;

const std::array<ValueReply, 7> kValueReplies = {{
    {{"imei", nullptr, nullptr},
     {&DialogState::m_imei, nullptr, nullptr},
     texts::Id::kNoticeImeiSet,
     texts::Id::kNoticeImeiRead,
     true},
    {{"ver", nullptr, nullptr},
     {&DialogState::m_version, nullptr, nullptr},
     kNoSetForm,
     texts::Id::kNoticeVersionRead,
     false},
    {{"center_number", "slave_number", nullptr},
     {&DialogState::m_centerNumber, &DialogState::m_slaveNumber, nullptr},
     texts::Id::kNoticeNumbersSet,
     texts::Id::kNoticeNumbersRead,
     false},
    {{"language", "zone", nullptr},
     {&DialogState::m_language, &DialogState::m_zone, nullptr},
     texts::Id::kNoticeLanguageSet,
     texts::Id::kNoticeLanguageRead,
     false},
    {{"monitor", nullptr, nullptr},
     {&DialogState::m_monitorNumber, nullptr, nullptr},
     texts::Id::kNoticeMonitorSet,
     texts::Id::kNoticeMonitorRead,
     false},
    {{"upload", nullptr, nullptr},
     {&DialogState::m_uploadInterval, nullptr, nullptr},
     texts::Id::kNoticeUploadSet,
     texts::Id::kNoticeUploadRead,
     false},
    {{"sos1", "sos2", "sos3"},
     {&DialogState::m_sos1, &DialogState::m_sos2, &DialogState::m_sos3},
     texts::Id::kNoticeSosSet,
     texts::Id::kNoticeSosRead,
     false},
}};

int KeyCount(const ValueReply& shape) {
  int count = 0;
  while (count < 3 && shape.keys[count] != nullptr) ++count;
  return count;
}

bool KeysMatch(const ReplyFields& fields, const std::array<const char*, 3>& keys, int count) {
  for (int i = 0; i < count; ++i) {
    if (!fields.Is(2 * i, keys[i])) return false;
  }
  return true;
}

bool AllValuesConfirm(const ReplyFields& fields, int count) {
  for (int i = 0; i < count; ++i) {
    if (!fields.Is(2 * i + 1, kConfirmed)) return false;
  }
  return true;
}

const ValueReply* FindValueReply(const ReplyFields& fields) {
  for (const ValueReply& shape : kValueReplies) {
    if (KeysMatch(fields, shape.keys, KeyCount(shape))) return &shape;
  }
  return nullptr;
}

bool IsAddressReply(const ReplyFields& fields) {
  return KeysMatch(fields, {"ip_url", "port", "url"}, 3);
}

bool IsTestResult(const ReplyFields& fields) {
  return KeysMatch(fields, {"gsm", "gps", "key"}, 3);
}

bool IsStatusReport(const ReplyFields& fields) {
  return fields.Is(0, "gsm") && fields.Is(2, "agps") && fields.Is(4, "gps") && fields.Is(6, "sim");
}

}  // namespace

void ConfigLogic::ParseReply(const char* reply) {
  const ReplyFields fields(reply);

  if (IsAddressReply(fields)) {
    if (AllValuesConfirm(fields, 3)) {
      ShowNoticeLater(T(kNoticeAddrSet).c_str());
      return;
    }
    // Only the exact "1" means a domain. The address stays as received: unlike the operator's
    // check box, the device's answer does not clear it.
    const bool domain = fields.Is(5, "1");
    m.m_serverAddr = fields[1];
    m.m_serverPort = fields[3];
    m.m_useDomain = domain;
    m.m_addrLabel = domain ? T(kAddrLabelUrl) : T(kAddrLabelIp);
    m_surface.UpdateData(false);
    ShowNoticeLater(domain ? T(kNoticeDomainRead).c_str() : T(kNoticeIpRead).c_str());
    return;
  }

  if (const ValueReply* shape = FindValueReply(fields)) {
    const int count = KeyCount(*shape);
    if (shape->setNotice != kNoSetForm && AllValuesConfirm(fields, count)) {
      ShowNoticeLater(texts::Gbk(shape->setNotice).c_str());
      // The receive handler's closing refresh shows the emptied box.
      if (shape->clearFirstOnConfirm) (m.*(shape->members[0])).clear();
      return;
    }
    for (int i = 0; i < count; ++i) m.*(shape->members[i]) = fields[2 * i + 1];
    m_surface.UpdateData(false);
    ShowNoticeLater(texts::Gbk(shape->readNotice).c_str());
    return;
  }

  // The tracker echoes "factory_test" before its result: nothing to do.
  if (fields.Is(0, "factory_test")) return;

  if (IsTestResult(fields)) {
    m.m_gsmOk = fields.Is(1, kConfirmed);
    m.m_gpsOk = fields.Is(3, kConfirmed);
    m.m_keyOk = fields.Is(5, kConfirmed);
    const bool passed = m.m_gsmOk && m.m_gpsOk && m.m_keyOk;
    // Once the time-out has ended the test, an incomplete result stays a failure.
    m.m_testResult = passed ? T(kPass) : m_testTimedOut ? T(kFail) : T(kTesting);
    if (passed) m_surface.KillTestTimer();
    m_surface.UpdateData(false);
    return;
  }

  // Unasked status report; shown by the receive handler's closing refresh.
  if (IsStatusReport(fields)) {
    m.m_gsmSignal = fields[1];
    m.m_agpsCount = fields[3];
    m.m_gpsCount = fields[5];
    m.m_simState = fields.Is(7, "1") ? T(kSimPresent) : T(kSimAbsent);
  }
}

void ConfigLogic::ShowNoticeLater(const char* text) {
  if (m_stationMode) {
    // After the receive handler, so the log shows the notice below its reply.
    m_ui.Post([this, notice = std::string(text != nullptr ? text : "")] {
      ShowNoticeOnStatusLine(notice);
    });
    return;
  }
  std::memset(m_noticeText, 0, sizeof m_noticeText);
  if (text != nullptr) std::strncpy(m_noticeText, text, sizeof m_noticeText - 1);
  // Every reply of a burst keeps its notice; past the bound the oldest waiting one goes.
  if (m_pendingNotices.size() == kMostPendingNotices) m_pendingNotices.pop_front();
  m_pendingNotices.emplace_back(m_noticeText);
  m_surface.StartNoticeTimer(kNoticeTimerMilliseconds);
}

// Every waiting notice in order. A box that blocks (its event loop runs the timer) is not
// stacked on: notices coming meanwhile wait and follow once it is closed.
void ConfigLogic::NoticeTimerProc() {
  m_surface.KillNoticeTimer();
  if (m_noticeShowing) return;
  m_noticeShowing = true;
  while (!m_pendingNotices.empty() && !m_ui.QuitRequested()) {
    const std::string text = std::move(m_pendingNotices.front());
    m_pendingNotices.pop_front();
    m_surface.ShowNotice(text, T(kAppTitle));
  }
  m_noticeShowing = false;
}

void ConfigLogic::StartFactoryTest(int timeoutMilliseconds) {
  SendUartCommand("factory_test");
  m_testTimedOut = false;
  m_surface.StartTestTimer(timeoutMilliseconds > 0 ? timeoutMilliseconds
                                                   : m_env.testTimeoutMilliseconds);
}

void ConfigLogic::OnTestTimerProc() {
  m_surface.KillTestTimer();
  if (!PortIsUp() || m.m_testResult == T(kPass)) return;
  m_testTimedOut = true;
  m.m_testResult = T(kFail);
  m_surface.UpdateData(false);
}
