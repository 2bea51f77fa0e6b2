// Profile files, good and bad, and the hash that names their content.

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "station/profile.h"
#include "station/sha256.h"

namespace {

TEST(Sha256, StandardVectors) {
  EXPECT_EQ(station::Sha256Hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(station::Sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(station::Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // A whole block and the longest tail that still takes its length in the same block.
  EXPECT_EQ(station::Sha256Hex(std::string(119, 'a')),
            "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb");
}

// A profile whose line 2 is a comment holding `bytes`: checked as UTF-8, then ignored.
std::string Comment(const std::string& bytes) {
  return "format = 1\n# " + bytes + "\n";
}

std::string Monitor(const std::string& value) {
  return "format = 1\nmonitor = " + value + "\n";
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

TEST(Profile, GoodAndBadFiles) {
  const std::string good =
      "\xEF\xBB\xBF# line 3\r\nformat = 1\n\naddress = track.example\nport = 9000\ndomain = 1\n"
      "center = 13800000000\nslave =\nlanguage = 1\nzone = 8\nmonitor = 监听\nupload = 60\n";
  struct Case {
    const char* what;
    std::string text;
    std::string error;  // empty: accepted
  } cases[] = {
      {"good", good, ""},
      {"format only", "format = 1\n", ""},
      {"no format", "address = a\n", "p.txt:1: the file must begin with \"format = 1\""},
      {"empty file", "", "p.txt:1: the file must begin"},
      {"future format", "format = 2\n", "p.txt:1: format \"2\" is not one"},
      {"syntax", "format = 1\nsos1 110\n", "p.txt:2: expected \"key = value\""},
      {"unknown key", "format = 1\n# x\nimei = 860000000000001\n", "p.txt:3: unknown key \"imei\""},
      {"twice", "format = 1\nupload = 1\nupload = 2\n", "p.txt:3: \"upload\" given twice"},
      {"comma", "format = 1\nmonitor = 1,2\n", "p.txt:2: \"monitor\": a value cannot hold"},
      {"hash", "format = 1\nmonitor = 1#2\n", "p.txt:2: \"monitor\": a value cannot hold"},
      {"domain flag", "format = 1\naddress = a\nport = 1\ndomain = yes\n",
       "p.txt:4: \"domain\" must be 0 or 1"},
      {"not gbk", "format = 1\nmonitor = 😀\n", "p.txt:2: \"monitor\": a character"},
      {"not utf-8", "format = 1\nmonitor = \xB9\xFA\n", "p.txt:2: not UTF-8"},
      {"U+007F", Comment("\x7F"), ""},
      {"U+007F overlong in two bytes", Comment("\xC1\xBF"), "p.txt:2: not UTF-8 text at byte 3"},
      {"U+0080", Comment("\xC2\x80"), ""},
      {"U+07FF", Comment("\xDF\xBF"), ""},
      {"U+07FF overlong in three bytes", Comment("\xE0\x9F\xBF"),
       "p.txt:2: not UTF-8 text at byte 3"},
      {"U+0800", Comment("\xE0\xA0\x80"), ""},
      {"overlong slash", Comment("a\xC0\xAF"), "p.txt:2: not UTF-8 text at byte 4"},
      {"U+D7FF", Comment("\xED\x9F\xBF"), ""},
      {"surrogate U+D800", Comment("\xED\xA0\x80"), "p.txt:2: not UTF-8 text at byte 3"},
      {"surrogate U+DFFF", Comment("\xED\xBF\xBF"), "p.txt:2: not UTF-8 text at byte 3"},
      {"U+E000", Comment("\xEE\x80\x80"), ""},
      {"U+FFFF", Comment("\xEF\xBF\xBF"), ""},
      {"U+FFFF overlong in four bytes", Comment("\xF0\x8F\xBF\xBF"),
       "p.txt:2: not UTF-8 text at byte 3"},
      {"U+10000", Comment("\xF0\x90\x80\x80"), ""},
      {"U+10FFFF", Comment("\xF4\x8F\xBF\xBF"), ""},
      {"U+110000", Comment("\xF4\x90\x80\x80"), "p.txt:2: not UTF-8 text at byte 3"},
      {"five-byte form", Comment("\xF8\x88\x80\x80\x80"), "p.txt:2: not UTF-8 text at byte 3"},
      {"cut short", Comment("\xE7\x9B"), "p.txt:2: not UTF-8 text at byte 3"},
      {"NUL in a value", Monitor("1" + std::string(1, '\0')),
       "p.txt:2: \"monitor\": a value cannot hold control characters (byte 0x00)"},
      {"TAB in a value", Monitor("1\t2"), "control characters (byte 0x09)"},
      {"CR in a value", Monitor("1\r2"), "control characters (byte 0x0D)"},
      {"ESC in a value", Monitor("1\x1B[2J"), "control characters (byte 0x1B)"},
      {"DEL in a value", Monitor("1\x7F"), "control characters (byte 0x7F)"},
      {"value of 98 bytes", Monitor(std::string(98, '1')), ""},
      {"value of 99 bytes", Monitor(std::string(99, '1')), ""},
      {"value of 100 bytes", Monitor(std::string(100, '1')),
       "p.txt:2: \"monitor\": longer than the device's 99 bytes (100 bytes in GBK)"},
      {"99 GBK bytes in 148 UTF-8 bytes", Monitor(Repeat("监", 49) + "1"), ""},
      {"100 GBK bytes in 150 UTF-8 bytes", Monitor(Repeat("监", 50)),
       "p.txt:2: \"monitor\": longer than the device's 99 bytes (100 bytes in GBK)"},
      {"SOS of 99 bytes, the request short enough",
       "format = 1\nsos1 = " + std::string(99, '1') + "\nsos2 =\nsos3 =\n", ""},
      {"SOS of 100 bytes, the request short enough",
       "format = 1\nsos1 = " + std::string(100, '1') + "\nsos2 =\nsos3 =\n",
       "p.txt:2: \"sos1\": longer than the device's 99 bytes"},
      {"half a group", "format = 1\nlanguage = 1\n", "p.txt:2: \"zone\" missing"},
      {"dialog refuses", "format = 1\naddress =\nport = 9000\ndomain = 0\n",
       "p.txt:2: IP或域名,端口为空!"},
      {"too long",
       "format = 1\nsos1 = " + std::string(40, '1') + "\nsos2 = " + std::string(40, '2') +
           "\nsos3 = " + std::string(40, '3') + "\n",
       "too long for one request"},
  };
  for (const Case& c : cases) {
    station::Profile profile;
    std::string error;
    const bool ok = station::ParseProfile("p.txt", c.text, &profile, &error);
    EXPECT_EQ(ok, c.error.empty()) << c.what << ": " << error;
    if (!c.error.empty()) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }

  station::Profile profile;
  std::string error;
  ASSERT_TRUE(station::ParseProfile("/x/line 3.profile", good, &profile, &error));
  EXPECT_EQ(profile.name, "line 3");
  EXPECT_EQ(profile.hash, station::Sha256Hex(good));
  EXPECT_EQ(profile.values.at("monitor"), gbk::FromUtf8("监听"));
  const auto plans = station::PlanGroups(profile);
  ASSERT_EQ(plans.size(), 5u);
  EXPECT_EQ(plans[0].setCommand, "ip_url,track.example,port,9000,url,1");
  EXPECT_EQ(plans[0].readCommand, "ip_url,?,port,?,url,?");
  EXPECT_EQ(plans[1].setCommand, "center_number,13800000000,slave_number,");

  // Fields -> profile -> fields, the way the window saves and loads.
  DialogState fields;
  station::ApplyToFields(profile, &fields);
  EXPECT_TRUE(fields.m_useDomain);
  station::Profile again;
  ASSERT_TRUE(station::ProfileFromFields(fields, &again, &error)) << error;
  EXPECT_EQ(again.values, profile.values);
  ASSERT_TRUE(station::ParseProfile("y", station::ProfileText(again), &again, &error));
  EXPECT_EQ(again.values, profile.values);
  fields.m_serverPort.clear();
  EXPECT_FALSE(station::ProfileFromFields(fields, &again, &error));
  // A line end in a field must not smuggle another key into the profile.
  fields.m_serverPort = "9000";
  fields.m_sos1 = "110\nmonitor = 1";
  EXPECT_FALSE(station::ProfileFromFields(fields, &again, &error));
  EXPECT_EQ(error, "(fields): \"sos1\": a value cannot hold control characters (byte 0x0A)");
}

}  // namespace
