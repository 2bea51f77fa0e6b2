#pragma once
// Shared pieces of the GUI tests: a console window on fake port folders, boxes captured
// instead of shown, device frames built the way the tracker sends them.

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/config_dlg.h"
#include "platform/gbk.h"
#include "serial/comm_port.h"

struct CapturedBox {
  QString text;
  MessageIcon icon;
  QString caption;
};

// A console whose port scan looks at empty temporary folders (no hardware, no udev), with
// its message boxes and Save As dialog captured.
class ConsoleUnderTest {
 public:
  ConsoleUnderTest() {
    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("sys/class/tty"));
    root.mkpath(QStringLiteral("dev"));
    root.mkpath(QStringLiteral("ports"));
    ConsoleEnvironment env;
    env.roots.sysClassTty = root.filePath(QStringLiteral("sys/class/tty")).toStdString();
    env.roots.dev = root.filePath(QStringLiteral("dev")).toStdString();
    env.roots.portsFolder = root.filePath(QStringLiteral("ports")).toStdString();
    env.useUdev = false;
    env.settleMilliseconds = 50;
    dialog = std::make_unique<CConfigDlg>(env);
    dialog->messageBoxHook = [this](const QString& text, MessageIcon icon, const QString& caption) {
      boxes.push_back({text, icon, caption});
    };
    dialog->saveFileHook = [this]() { return nextSaveFile; };
  }

  [[nodiscard]] QString Path(const QString& name) const {
    return QDir(m_dir.path()).filePath(name);
  }

  // What a control shows, read the way an operator (or a screen reader) reads it.
  [[nodiscard]] QString Shown(int id) const;

  std::unique_ptr<CConfigDlg> dialog;
  std::vector<CapturedBox> boxes;
  std::optional<QString> nextSaveFile;

 private:
  QTemporaryDir m_dir;
};

// A frame as the tracker sends it: start pair, ten header bytes, payload, XOR checksum; a
// 0x5A in the payload is doubled.
inline std::vector<std::uint8_t> DeviceFrame(const std::string& payload) {
  std::vector<std::uint8_t> out = {0x55, 0x00};
  std::uint8_t sum = 0x55;
  for (int i = 0; i < 10; ++i) out.push_back(0x00);
  for (const char c : payload) {
    const auto b = static_cast<std::uint8_t>(c);
    out.push_back(b);
    if (b == 0x5A) out.push_back(b);
    sum ^= b;
  }
  out.push_back(sum);
  return out;
}

// Hands bytes to the window as one receive slot, as the monitor thread does.
inline void Deliver(CConfigDlg& dialog, const std::vector<std::uint8_t>& bytes) {
  auto slot = std::make_unique<RxSlot>();
  slot->byteCount = static_cast<std::int32_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), slot->bytes);
  dialog.OnPortData(*slot, 97);
}

inline QString ConsoleUnderTest::Shown(int id) const {
  QWidget* w = dialog->Control(id);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    if (button->isCheckable())
      return button->isChecked() ? QStringLiteral("[x]") : QStringLiteral("[ ]");
    return button->text();
  }
  return QStringLiteral("<no control %1>").arg(id);
}
