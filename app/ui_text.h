#pragma once
// The system's texts as the window shows them (from the same table the logic uses).

#include <QString>

#include "device/texts.h"

inline QString UiText(texts::Id id) {
  return QString::fromUtf8(texts::Utf8(id));
}
