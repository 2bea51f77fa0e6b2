#include "app/config_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFont>
#include <QFontDatabase>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>

#include "app/config_dlg.h"
#include "app/language.h"
#include "app/settings.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int signalNumber) {
  const char byte = static_cast<char>(signalNumber);
  // Only async-signal-safe work here: the UI thread reads the pipe.
  [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

bool InstallTerminationSignals() {
  if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A hang-up (the terminal or the session gone) ends the program the same orderly way, so the
  // port and its lock file are given back.
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0 &&
         sigaction(SIGHUP, &action, nullptr) == 0;
}

// The dialog font of the original was a CJK system font; Debian's Noto CJK serves here.
void UseCjkFont() {
  const QStringList families = QFontDatabase::families();
  for (const char* name : {"Noto Sans CJK SC", "Noto Sans SC", "WenQuanYi Micro Hei"}) {
    if (families.contains(QString::fromLatin1(name))) {
      QFont font(QString::fromLatin1(name));
      font.setPointSize(QApplication::font().pointSize());
      QApplication::setFont(font);
      return;
    }
  }
}

}  // namespace

CConfigApp::CConfigApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("tracker-console"));
  setOrganizationName(QStringLiteral("tracker-console"));
  setApplicationVersion(QStringLiteral(TC_VERSION));
  setDesktopFileName(QStringLiteral("tracker-console"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/tracker-console.svg")));
}

int CConfigApp::InitInstance(const std::string& language) {
  UseCjkFont();
  AppSettings settings;
  ApplyLanguage(ChooseLanguage(language, settings.Language(), QLocale::system().name()));
  CConfigDlg dialog;
  // Where and how large the operator left it; the first time, the window fits the screen.
  dialog.restoreGeometry(settings.WindowGeometry());
  if (InstallTerminationSignals()) {
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &dialog);
    QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog] {
      char byte = 0;
      while (read(g_signalPipe[0], &byte, 1) > 0) {
      }
      dialog.RequestQuit();
    });
  }
  dialog.show();
  // Initialise once the window is on screen: the first scan may take a moment.
  QTimer::singleShot(0, &dialog, [&dialog] { dialog.OnInitDialog(); });
  exec();
  settings.SetWindowGeometry(dialog.saveGeometry());
  return 0;
}
