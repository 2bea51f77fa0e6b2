#include "app/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace {

struct Installed {
  UiLanguage language = UiLanguage::kChinese;
  std::unique_ptr<QTranslator> qt;
  std::unique_ptr<QTranslator> ours;
};

Installed& Current() {
  static Installed installed;
  return installed;
}

void Uninstall(std::unique_ptr<QTranslator>& translator) {
  if (translator) QCoreApplication::removeTranslator(translator.get());
  translator.reset();
}

// Qt's own texts; a missing file (qt6-translations-l10n not installed) only leaves them English.
std::unique_ptr<QTranslator> LoadQtTranslation(const QString& locale) {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_") + locale,
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return nullptr;
  }
  return translator;
}

}  // namespace

UiLanguage ChooseLanguage(const std::string& commandLine, const QString& saved,
                          const QString& localeName) {
  if (commandLine == "en") return UiLanguage::kEnglish;
  if (commandLine == "zh") return UiLanguage::kChinese;
  if (saved == QLatin1String("en")) return UiLanguage::kEnglish;
  if (saved == QLatin1String("zh")) return UiLanguage::kChinese;
  return localeName.startsWith(QLatin1String("en")) ? UiLanguage::kEnglish : UiLanguage::kChinese;
}

bool ApplyLanguage(UiLanguage language) {
  Installed& now = Current();
  std::unique_ptr<QTranslator> ours;
  if (language == UiLanguage::kEnglish) {
    ours = std::make_unique<QTranslator>();
    if (!ours->load(QStringLiteral(":/i18n/tracker-console_en.qm"))) return false;
  }
  Uninstall(now.qt);
  Uninstall(now.ours);
  now.qt = LoadQtTranslation(language == UiLanguage::kEnglish ? QStringLiteral("en")
                                                              : QStringLiteral("zh_CN"));
  if (now.qt) QCoreApplication::installTranslator(now.qt.get());
  now.ours = std::move(ours);
  if (now.ours) QCoreApplication::installTranslator(now.ours.get());
  now.language = language;
  return true;
}

UiLanguage CurrentLanguage() {
  return Current().language;
}

QString LanguageCode(UiLanguage language) {
  return language == UiLanguage::kEnglish ? QStringLiteral("en") : QStringLiteral("zh");
}
