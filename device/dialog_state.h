#pragma once
// The main dialog's operator-visible state: one plain struct that the logic reads and writes
// and the window binds to its controls (UpdateData). Every string holds GBK bytes.

#include <string>

#include "device/texts.h"
#include "gps/nmea_parser.h"

struct DialogState : gps::GpsPanelMembers {
  DialogState() {
    m_fixType = T(kNoFix);
    m_fixState = T(kNoFix);
  }

  std::string m_sendText;
  std::string m_serverAddr;
  std::string m_serverPort;
  std::string m_imei;
  std::string m_version;
  std::string m_centerNumber;
  std::string m_language;
  std::string m_monitorNumber;
  std::string m_uploadInterval;
  std::string m_sos1;
  std::string m_sos2;
  std::string m_sos3;
  std::string m_slaveNumber;
  std::string m_zone;
  std::string m_gsmSignal;
  std::string m_gpsCount;
  std::string m_agpsCount;
  std::string m_simState;
  bool m_useDomain = false;
  bool m_testEnabled = false;
  bool m_gsmOk = false;
  bool m_gpsOk = false;
  bool m_keyOk = false;
  std::string m_portState = T(kPortClosed);
  std::string m_portName;
  std::string m_linkState;
  std::string m_testResult = T(kNotConnected);
  std::string m_saveCaption = T(kSaveToFile);
  std::string m_addrLabel = T(kAddrLabelIp);
  std::string m_pauseCaption = T(kPauseDisplay);
  bool m_saving = false;
};
