#include "app/settings.h"

namespace {

const QString kGeometry = QStringLiteral("window/geometry");
const QString kLanguage = QStringLiteral("ui/language");
const QString kLastFolder = QStringLiteral("files/lastFolder");

}  // namespace

QSettings OpenSettingsStore() {
  return {QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tracker-console"),
          QStringLiteral("tracker-console")};
}

AppSettings::AppSettings() : m_store(OpenSettingsStore()) {}

QByteArray AppSettings::WindowGeometry() const {
  return m_store.value(kGeometry).toByteArray();
}

void AppSettings::SetWindowGeometry(const QByteArray& geometry) {
  m_store.setValue(kGeometry, geometry);
}

QString AppSettings::Language() const {
  const QString language = m_store.value(kLanguage).toString();
  return language == QLatin1String("zh") || language == QLatin1String("en") ? language : QString();
}

void AppSettings::SetLanguage(const QString& language) {
  m_store.setValue(kLanguage, language);
}

QString AppSettings::LastFolder() const {
  return m_store.value(kLastFolder).toString();
}

void AppSettings::SetLastFolder(const QString& folder) {
  m_store.setValue(kLastFolder, folder);
}
