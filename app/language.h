#pragma once
// The interface language. Chinese is the system's own: no translation of ours is installed,
// only Qt's (so standard dialogs speak Chinese too). English installs ours and Qt's English.
// Installing posts a language change to every window, which re-translates itself.

#include <QString>
#include <string>

enum class UiLanguage { kChinese, kEnglish };

// --lang first, then the saved choice, then the locale: English for an English locale,
// Chinese otherwise.
UiLanguage ChooseLanguage(const std::string& commandLine, const QString& saved,
                          const QString& localeName);

// Installs the translations of `language` in place of the current ones; false when one of
// ours could not be loaded (the interface then stays as it was).
bool ApplyLanguage(UiLanguage language);

[[nodiscard]] UiLanguage CurrentLanguage();

// "zh" or "en": the saved and command-line spelling.
[[nodiscard]] QString LanguageCode(UiLanguage language);
