// GBK conversion both ways: the full GBK range (not just GB2312), and bad bytes marked one by
// one without swallowing the text around them.

#include "platform/gbk.h"

#include <gtest/gtest.h>

namespace {

enum Way { kBoth, kToGbk, kToUtf8 };

TEST(Gbk, ConvertsAndMarksWhatItCannotConvert) {
  const struct {
    const char* what;
    Way way;
    std::string utf8;
    std::string gbk;
  } rows[] = {
      {"ASCII", kBoth, "AT+uart:ver,?#", "AT+uart:ver,?#"},
      {"GB2312", kBoth, "中文", "\xD6\xD0\xCE\xC4"},
      {"GBK beyond GB2312, trail bytes 0x5A and 0x55", kBoth, "語礥", "\xD5\x5A\xB5\x55"},
      {"no GBK form: one ? per character", kToGbk, "a😀b", "a?b"},
      {"a lead byte without its trail bytes keeps the next character", kToGbk,
       "\xE4"
       "A\xC3中",
       "?A?\xD6\xD0"},
      {"a stray continuation byte", kToGbk, "x\x80y", "x?y"},
      {"cut at the end", kToGbk, "ok\xE4\xB8", "ok?"},
      {"an invalid byte: one U+FFFD, the rest kept", kToUtf8, "a\uFFFDb中",
       "a\xFF"
       "b\xD6\xD0"},
      {"a lead byte cut off at the end", kToUtf8, "ok\uFFFD", "ok\xD6"},
      {"a lead byte before an invalid trail", kToUtf8, "\uFFFD\x7F", "\xD6\x7F"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.way != kToUtf8) {
      EXPECT_EQ(gbk::FromUtf8(row.utf8), row.gbk);
    }
    if (row.way != kToGbk) {
      EXPECT_EQ(gbk::ToUtf8(row.gbk), row.utf8);
    }
  }
}

}  // namespace
