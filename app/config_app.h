#pragma once

#include <QApplication>
#include <string>

// CConfigApp: starts the one main window and ends when it closes. SIGTERM, SIGINT and SIGHUP close
// the window the same way the close box does, so the port is released on every path.
class CConfigApp final : public QApplication {
  Q_OBJECT
 public:
  CConfigApp(int& argc, char** argv);
  // Runs the window in `language` ("zh", "en", or empty: the saved choice, else the locale).
  int InitInstance(const std::string& language = {});
};
