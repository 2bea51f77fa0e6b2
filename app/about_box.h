#pragma once

#include <QDialog>

// The About box: the tool's name and version, its icon, and "确定".
class CAboutBox final : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutBox(QWidget* parent = nullptr);
};
