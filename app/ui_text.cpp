#include "app/ui_text.h"

#include <QCoreApplication>
#include <array>
#include <map>

#include "platform/gbk.h"

namespace {

// The id's name tells apart texts that are equal in Chinese but not in every translation.
constexpr std::array<const char*, static_cast<size_t>(texts::Id::kCount)> kNames = {
#define SYSTEM_TEXT(id, utf8) #id,
#include "device/texts.inc"
#undef SYSTEM_TEXT
};

const std::map<std::string, texts::Id>& IdsByGbk() {
  static const std::map<std::string, texts::Id> ids = [] {
    std::map<std::string, texts::Id> out;
    for (size_t i = 0; i < kNames.size(); ++i) {
      const auto id = static_cast<texts::Id>(i);
      out.emplace(texts::Gbk(id), id);  // the first id of a text wins
    }
    return out;
  }();
  return ids;
}

}  // namespace

const char* TextName(texts::Id id) {
  return kNames[static_cast<size_t>(id)];
}

QString UiText(texts::Id id) {
  return QCoreApplication::translate("texts", texts::Utf8(id), TextName(id));
}

QString DisplayText(const std::string& gbk) {
  const auto& ids = IdsByGbk();
  const auto it = ids.find(gbk);
  if (it != ids.end()) return UiText(it->second);
  return QString::fromStdString(gbk::ToUtf8(gbk));
}
