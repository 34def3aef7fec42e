#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/ini.h"
#include "platform/utf.h"
#include "temp_folder.h"

namespace platform {
namespace {

using platform_test::TempFolder;

class PlatformIni : public ::testing::Test {
 protected:
  std::u16string File() const { return *Utf8ToUtf16(folder_.Path() + "agent.ini"); }
  std::string Text() const {
    std::ifstream in(folder_.Path() + "agent.ini", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void SetText(const std::string& text) const {
    std::ofstream(folder_.Path() + "agent.ini", std::ios::binary) << text;
  }
  std::u16string Read(const char16_t* section, const char16_t* key, const char16_t* fallback = u"none") const {
    char16_t buffer[64];
    const uint32_t length = GetPrivateProfileStringW(section, key, fallback, buffer, 64, File().c_str());
    return std::u16string(buffer, length);
  }
  uint32_t Int(const char16_t* key) const { return GetPrivateProfileIntW(u"S", key, 5, File().c_str()); }
  bool Write(const char16_t* section, const char16_t* key, const char16_t* value) const {
    return WritePrivateProfileStringW(section, key, value, File().c_str());
  }

  TempFolder folder_;
};

TEST_F(PlatformIni, MissingNamesGiveTheDefaultAndIntFollowsWindowsParsing) {
  EXPECT_EQ(Read(u"S", u"k"), u"none");
  EXPECT_EQ(Int(u"k"), 5u);
  SetText("[S]\nneg=-3\nlead=12abc\nword=abc\nempty=\n");
  EXPECT_EQ(Read(u"S", u"k"), u"none");
  EXPECT_EQ(Read(u"T", u"neg"), u"none");
  EXPECT_EQ(Read(u"S", u"k", nullptr), u"");
  EXPECT_EQ(Int(u"neg"), static_cast<uint32_t>(-3));
  EXPECT_EQ(Int(u"lead"), 12u);
  EXPECT_EQ(Int(u"word"), 0u);
  EXPECT_EQ(Int(u"empty"), 5u);
}

TEST_F(PlatformIni, NamesCompareWithoutCaseAndBlanksAndQuotesAreTrimmed) {
  SetText("; comment\r\n[Agent Info]\r\n  ClientGuid =  \"abc def\"  \r\nPort=  8080 \r\n");
  EXPECT_EQ(Read(u"agent info", u"CLIENTGUID"), u"abc def");
  EXPECT_EQ(GetPrivateProfileIntW(u"AGENT INFO", u"port", 0, File().c_str()), 8080u);
  // Latin-1 letters fold too; the signs between them are not letters.
  SetText("[\xC3\x89T\xC3\x89]\n\xC3\x97=1\n");  // [ÉTÉ] ×=1
  EXPECT_EQ(Read(u"\u00e9t\u00e9", u"\u00d7"), u"1");
  EXPECT_EQ(Read(u"\u00c9T\u00c9", u"\u00f7"), u"none");
}

TEST_F(PlatformIni, WritesKeepOtherLinesAndLineEndsAndNullsDelete) {
  ASSERT_TRUE(Write(u"First", u"a", u"1"));
  EXPECT_EQ(Text(), "[First]\na=1\n");
  SetText("; keep me\n[First]\na=1\n\n# between\n[Second]\nb=2\n[Gone]\nz=3\n");
  ASSERT_TRUE(Write(u"FIRST", u"c", u"3"));
  ASSERT_TRUE(Write(u"second", u"B", u"two"));
  ASSERT_TRUE(Write(u"Third", u"d", u"\u00e9"));
  ASSERT_TRUE(Write(u"first", u"A", nullptr));
  ASSERT_TRUE(Write(u"gone", nullptr, nullptr));
  EXPECT_TRUE(Write(u"Missing", nullptr, nullptr));
  EXPECT_EQ(Text(), "; keep me\n[First]\nc=3\n\n# between\n[Second]\nb=two\n[Third]\nd=\xC3\xA9\n");
  EXPECT_EQ(Read(u"third", u"D"), u"\u00e9");
  SetText("[A]\r\nx=1\r\n");
  ASSERT_TRUE(Write(u"A", u"x", u"2"));
  EXPECT_EQ(Text(), "[A]\r\nx=2\r\n");
}

TEST_F(PlatformIni, GarbageAndHugeLinesAreToleratedAndKept) {
  const std::string huge(3u << 20, 'x');
  const std::string garbage = "junk \xFF\xFE garbage \x80\nno equals sign\n=novalue\n[unclosed\n";
  SetText(garbage + "[S]\nbig=" + huge + "\n" + huge + "\nk=v\n");
  EXPECT_EQ(Read(u"S", u"k"), u"v");
  EXPECT_EQ(Read(u"S", u"big"), std::u16string(63, u'x'));  // cut to the buffer
  EXPECT_EQ(Read(u"unclosed", u"k"), u"none");
  ASSERT_TRUE(Write(u"S", u"k", u"w"));
  EXPECT_EQ(Text(), garbage + "[S]\nbig=" + huge + "\n" + huge + "\nk=w\n");
}

TEST_F(PlatformIni, ValuesThatWouldNotReadBackAreRefused) {
  const char16_t lone_surrogate[] = {0xD800, 0};
  EXPECT_FALSE(Write(u"S", u"k", u"two\nlines"));
  EXPECT_FALSE(Write(u"S", u"k=x", u"v"));
  EXPECT_FALSE(Write(u"S]", u"k", u"v"));
  EXPECT_FALSE(Write(u"S", u"k", lone_surrogate));
  EXPECT_FALSE(Write(nullptr, u"k", u"v"));
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", u"v", u"/no/such/folder/x.ini"));
  EXPECT_EQ(Text(), "");
}

TEST_F(PlatformIni, TruncationAndNameLists) {
  SetText("[One]\na=hello\nb=2\n[Two]\n");
  char16_t buffer[4];
  EXPECT_EQ(GetPrivateProfileStringW(u"One", u"a", u"", buffer, 4, File().c_str()), 3u);
  EXPECT_EQ(std::u16string(buffer), u"hel");
  char16_t list[16];
  EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, u"", list, 16, File().c_str()), 8u);
  EXPECT_EQ(std::u16string(list, 9), std::u16string(u"One\0Two\0\0", 9));
  EXPECT_EQ(GetPrivateProfileStringW(u"one", nullptr, u"", list, 16, File().c_str()), 4u);
  EXPECT_EQ(std::u16string(list, 5), std::u16string(u"a\0b\0\0", 5));
  EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, u"", list, 5, File().c_str()), 3u);
  EXPECT_EQ(std::u16string(list, 5), std::u16string(u"One\0\0", 5));
}

TEST_F(PlatformIni, StructRoundTripsAndRejectsWrongSizeOrChecksum) {
  const uint8_t data[] = {0x01, 0xAB, 0xFF};
  ASSERT_TRUE(WritePrivateProfileStructW(u"S", u"blob", data, sizeof data, File().c_str()));
  EXPECT_EQ(Text(), "[S]\nblob=01ABFFAB\n");  // checksum 0x01 + 0xAB + 0xFF = 0x1AB -> AB
  uint8_t read_back[3] = {};
  ASSERT_TRUE(GetPrivateProfileStructW(u"S", u"blob", read_back, sizeof read_back, File().c_str()));
  EXPECT_EQ(std::memcmp(read_back, data, sizeof data), 0);
  uint8_t wrong_size[2] = {};
  EXPECT_FALSE(GetPrivateProfileStructW(u"S", u"blob", wrong_size, sizeof wrong_size, File().c_str()));
  SetText("[S]\nblob=01ABFFAC\nhex=01ABFGAB\n");
  for (const char16_t* key : {u"blob", u"hex", u"missing"}) {
    EXPECT_FALSE(GetPrivateProfileStructW(u"S", key, read_back, sizeof read_back, File().c_str()));
  }
}

TEST(PlatformUtf, RoundTripsAndRejectsInvalidInput) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  ASSERT_EQ(Utf8ToUtf16(utf8), u"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(Utf16ToUtf8(*Utf8ToUtf16(utf8)), utf8);
  for (const std::string& bad : {std::string("\xC0\x80"), std::string("\xE0\x80\x80"), std::string("\xF0\x80\x80\x80"),
                                 std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80"), std::string("\x80"),
                                 std::string("\xE2\x82"), std::string("\xF8\x88\x80\x80\x80"),
                                 std::string("ok\xC3(")}) {
    EXPECT_FALSE(Utf8ToUtf16(bad).has_value()) << testing::PrintToString(bad);
  }
  const char16_t lone_high_at_end[] = {u'a', 0xD800};
  const char16_t lone_low[] = {0xDC00, u'a'};
  const char16_t high_then_letter[] = {0xD83D, u'a'};
  for (const char16_t* bad : {lone_high_at_end, lone_low, high_then_letter}) {
    EXPECT_FALSE(Utf16ToUtf8(std::u16string_view(bad, 2)).has_value());
  }
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_TRUE(U16Copy(buffer, 4, u"abc"));
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_FALSE(U16Copy(buffer, 4, u"abcd"));
  EXPECT_EQ(buffer[0], u'\0');
}

}  // namespace
}  // namespace platform
