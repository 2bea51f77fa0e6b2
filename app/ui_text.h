#pragma once
// The system's texts as the window shows them, in the interface language. The Chinese texts
// are the sources, shown unchanged when no translation is installed; the logic keeps its GBK
// members either way, and only what reaches the screen is translated.

// Qt first: device/texts.h defines T(), which Qt headers would trip over.
#include <QCoreApplication>
#include <QString>
#include <string>

#include "device/texts.h"

// The text of `id` in the interface language.
QString UiText(texts::Id id);

// A member's GBK value as the window shows it: a system text (a state such as "已连接")
// in the interface language, anything else (device data) converted as it is.
QString DisplayText(const std::string& gbk);

// The id's own name ("kLinkConnected"): what tells translations of equal texts apart.
const char* TextName(texts::Id id);
