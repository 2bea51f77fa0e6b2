// GBK conversion both ways: the full GBK range (not just GB2312), and bad bytes marked one by
// one without swallowing the text around them.

#include "platform/gbk.h"

#include <gtest/gtest.h>

namespace {

TEST(Gbk, ConvertsBothWaysAndMarksWhatItCannotConvert) {
  const struct {
    const char* what;
    std::string utf8;
    std::string gbk;
  } both[] = {
      {"ASCII", "AT+uart:ver,?#", "AT+uart:ver,?#"},
      {"GB2312", "中文", "\xD6\xD0\xCE\xC4"},
      {"GBK beyond GB2312, trail bytes 0x5A and 0x55", "語礥", "\xD5\x5A\xB5\x55"},
  };
  for (const auto& c : both) {
    EXPECT_EQ(gbk::FromUtf8(c.utf8), c.gbk) << c.what;
    EXPECT_EQ(gbk::ToUtf8(c.gbk), c.utf8) << c.what;
  }
  const struct {
    const char* what;
    std::string utf8;
    std::string gbk;
  } fromUtf8[] = {
      {"no GBK form: one ? per character", "a😀b", "a?b"},
      {"a lead byte without its trail bytes keeps the next character",
       "\xE4"
       "A\xC3中",
       "?A?\xD6\xD0"},
      {"a stray continuation byte", "x\x80y", "x?y"},
      {"cut at the end", "ok\xE4\xB8", "ok?"},
  };
  for (const auto& c : fromUtf8) EXPECT_EQ(gbk::FromUtf8(c.utf8), c.gbk) << c.what;
  const struct {
    const char* what;
    std::string gbk;
    std::string utf8;
  } toUtf8[] = {
      {"an invalid byte: one U+FFFD, the rest kept",
       "a\xFF"
       "b\xD6\xD0",
       "a\uFFFDb中"},
      {"a lead byte cut off at the end", "ok\xD6", "ok\uFFFD"},
      {"a lead byte before an invalid trail", "\xD6\x7F", "\uFFFD\x7F"},
  };
  for (const auto& c : toUtf8) EXPECT_EQ(gbk::ToUtf8(c.gbk), c.utf8) << c.what;
}

}  // namespace
