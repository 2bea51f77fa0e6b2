#pragma once
// Shared pieces of the GUI tests: a console window on fake port folders, boxes captured
// instead of shown, device lines handed over the way the monitor thread does.

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/config_dlg.h"
#include "platform/gbk.h"
#include "serial/comm_port.h"
#include "tests/link/device_frames.h"

struct CapturedBox {
  QString text;
  MessageIcon icon;
  QString caption;
};

// A console whose port scan looks at empty temporary folders (no hardware, no udev), with
// its message boxes and Save As dialog captured; the factory test's time-out may be shortened.
class ConsoleUnderTest {
 public:
  explicit ConsoleUnderTest(int testTimeoutMilliseconds = 0) {
    const auto folder = [this](const char* name) {
      QDir(m_dir.path()).mkpath(QString::fromLatin1(name));
      return Path(QString::fromLatin1(name)).toStdString();
    };
    ConsoleEnvironment env;
    env.roots.sysClassTty = folder("sys/class/tty");
    env.roots.dev = folder("dev");
    env.roots.portsFolder = folder("ports");
    env.useUdev = false;
    env.settleMilliseconds = 50;
    if (testTimeoutMilliseconds > 0) env.testTimeoutMilliseconds = testTimeoutMilliseconds;
    dialog = std::make_unique<CConfigDlg>(env);
    dialog->messageBoxHook = [this](const QString& text, MessageIcon icon, const QString& caption) {
      boxes.push_back({text, icon, caption});
    };
    dialog->saveFileHook = [this]() { return nextSaveFile; };
  }

  // Shown and active, in front of the operator.
  [[nodiscard]] bool ShowActive() {
    dialog->show();
    dialog->activateWindow();
    return QTest::qWaitForWindowActive(dialog.get());
  }

  [[nodiscard]] QString Path(const QString& name) const {
    return QDir(m_dir.path()).filePath(name);
  }

  // What a control shows, read the way an operator (or a screen reader) reads it.
  [[nodiscard]] QString Shown(int id) const {
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

  // Each control of `expected` (id, UTF-8 text) that shows another text, as "id: shown";
  // empty when all show theirs.
  [[nodiscard]] QString Mismatches(
      std::initializer_list<std::pair<int, const char*>> expected) const {
    QStringList differing;
    for (const auto& [id, text] : expected) {
      if (Shown(id) != QString::fromUtf8(text)) differing << QString::number(id) + ": " + Shown(id);
    }
    return differing.join(QStringLiteral(", "));
  }

  std::unique_ptr<CConfigDlg> dialog;
  std::vector<CapturedBox> boxes;
  std::optional<QString> nextSaveFile;

 private:
  QTemporaryDir m_dir;
};

inline QAbstractButton* Button(ConsoleUnderTest& c, int id) {
  return qobject_cast<QAbstractButton*>(c.dialog->Control(id));
}

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// Hands one device line to the window as a receive slot, framed as the tracker sends it and
// delivered as the monitor thread does.
inline void Deliver(CConfigDlg& dialog, const std::string& payload) {
  const std::string frame = linktest::DeviceFrameBytes(payload);
  auto slot = std::make_unique<RxSlot>();
  slot->byteCount = static_cast<std::int32_t>(frame.size());
  std::copy(frame.begin(), frame.end(), slot->bytes);
  dialog.OnPortData(*slot, 97);
}
