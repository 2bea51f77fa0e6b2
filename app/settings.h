#pragma once
// What the console remembers between runs, in one store: the user's
// ~/.config/tracker-console/tracker-console.ini (XDG_CONFIG_HOME is honoured, which is how
// the tests keep away from the user's file). Each area keeps its keys under its own group:
// "window/", "ui/", "files/" here; "connection/", "station/", "records/", "log/" for theirs.

#include <QByteArray>
#include <QSettings>
#include <QString>

// The one settings file, for areas that keep a QSettings of their own for a moment.
QSettings OpenSettingsStore();

class AppSettings {
 public:
  AppSettings();

  [[nodiscard]] QByteArray WindowGeometry() const;
  void SetWindowGeometry(const QByteArray& geometry);

  // "zh", "en", or empty when the operator never chose.
  [[nodiscard]] QString Language() const;
  void SetLanguage(const QString& language);

  // The folder of the last log file chosen in Save As; empty at first.
  [[nodiscard]] QString LastFolder() const;
  void SetLastFolder(const QString& folder);

  // For keys of other areas.
  [[nodiscard]] QSettings& Store() { return m_store; }

 private:
  QSettings m_store;
};
