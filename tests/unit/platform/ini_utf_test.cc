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

  TempFolder folder_;
};

TEST_F(PlatformIni, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Read(u"S", u"k"), u"none");
  EXPECT_EQ(GetPrivateProfileIntW(u"S", u"k", -7, File().c_str()), static_cast<uint32_t>(-7));
  SetText("[S]\nother=1\n");
  EXPECT_EQ(Read(u"S", u"k"), u"none");
  EXPECT_EQ(Read(u"T", u"other"), u"none");
  EXPECT_EQ(Read(u"S", u"k", nullptr), u"");
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

TEST_F(PlatformIni, IntFollowsWindowsParsing) {
  SetText("[S]\nneg=-3\nlead=12abc\nword=abc\nempty=\n");
  EXPECT_EQ(GetPrivateProfileIntW(u"S", u"neg", 5, File().c_str()), static_cast<uint32_t>(-3));
  EXPECT_EQ(GetPrivateProfileIntW(u"S", u"lead", 5, File().c_str()), 12u);
  EXPECT_EQ(GetPrivateProfileIntW(u"S", u"word", 5, File().c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileIntW(u"S", u"empty", 5, File().c_str()), 5u);
}

TEST_F(PlatformIni, WriteCreatesFileSectionAndKeyAndKeepsOtherLines) {
  ASSERT_TRUE(WritePrivateProfileStringW(u"First", u"a", u"1", File().c_str()));
  EXPECT_EQ(Text(), "[First]\na=1\n");
  SetText("; keep me\n[First]\na=1\n\n# between\n[Second]\nb=2\n");
  ASSERT_TRUE(WritePrivateProfileStringW(u"FIRST", u"c", u"3", File().c_str()));
  ASSERT_TRUE(WritePrivateProfileStringW(u"second", u"B", u"two", File().c_str()));
  ASSERT_TRUE(WritePrivateProfileStringW(u"Third", u"d", u"\u00e9", File().c_str()));
  EXPECT_EQ(Text(), "; keep me\n[First]\na=1\nc=3\n\n# between\n[Second]\nb=two\n[Third]\nd=\xC3\xA9\n");
  EXPECT_EQ(Read(u"third", u"D"), u"\u00e9");
}

TEST_F(PlatformIni, NullValueDeletesKeyAndNullKeyDeletesSection) {
  SetText("[A]\nx=1\ny=2\n[B]\nz=3\n");
  ASSERT_TRUE(WritePrivateProfileStringW(u"a", u"X", nullptr, File().c_str()));
  ASSERT_TRUE(WritePrivateProfileStringW(u"B", nullptr, nullptr, File().c_str()));
  EXPECT_EQ(Text(), "[A]\ny=2\n");
  EXPECT_TRUE(WritePrivateProfileStringW(u"Missing", nullptr, nullptr, File().c_str()));
  EXPECT_EQ(Text(), "[A]\ny=2\n");
}

TEST_F(PlatformIni, CrLfFilesStayCrLf) {
  SetText("[A]\r\nx=1\r\n");
  ASSERT_TRUE(WritePrivateProfileStringW(u"A", u"x", u"2", File().c_str()));
  EXPECT_EQ(Text(), "[A]\r\nx=2\r\n");
}

TEST_F(PlatformIni, GarbageAndHugeLinesAreToleratedAndKept) {
  const std::string huge(3u << 20, 'x');
  const std::string garbage = "junk \xFF\xFE garbage \x80\nno equals sign\n=novalue\n[unclosed\n";
  SetText(garbage + "[S]\nbig=" + huge + "\n" + huge + "\nk=v\n");
  EXPECT_EQ(Read(u"S", u"k"), u"v");
  EXPECT_EQ(Read(u"S", u"big"), std::u16string(63, u'x'));  // cut to the buffer
  EXPECT_EQ(Read(u"unclosed", u"k"), u"none");
  ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"k", u"w", File().c_str()));
  EXPECT_EQ(Text(), garbage + "[S]\nbig=" + huge + "\n" + huge + "\nk=w\n");
}

TEST_F(PlatformIni, ValuesThatWouldNotReadBackAreRefused) {
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", u"two\nlines", File().c_str()));
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k=x", u"v", File().c_str()));
  EXPECT_FALSE(WritePrivateProfileStringW(u"S]", u"k", u"v", File().c_str()));
  const char16_t lone_surrogate[] = {0xD800, 0};
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", lone_surrogate, File().c_str()));
  EXPECT_FALSE(WritePrivateProfileStringW(nullptr, u"k", u"v", File().c_str()));
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", u"v", u"/no/such/folder/x.ini"));
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

TEST_F(PlatformIni, Utf16FileWithByteOrderMarkIsRead) {
  const std::u16string text = u"[S]\r\nname=\u20ac\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  SetText(bytes);
  EXPECT_EQ(Read(u"s", u"NAME"), u"\u20ac");
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
  EXPECT_FALSE(GetPrivateProfileStructW(u"S", u"blob", read_back, sizeof read_back, File().c_str()));
  EXPECT_FALSE(GetPrivateProfileStructW(u"S", u"hex", read_back, sizeof read_back, File().c_str()));
  EXPECT_FALSE(GetPrivateProfileStructW(u"S", u"missing", read_back, sizeof read_back, File().c_str()));
}

TEST(PlatformUtf, RoundTripsBmpAndSupplementaryCharacters) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  const auto utf16 = Utf8ToUtf16(utf8);
  ASSERT_TRUE(utf16.has_value());
  EXPECT_EQ(*utf16, u"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(Utf16ToUtf8(*utf16), utf8);
  EXPECT_EQ(Utf8ToUtf16(""), std::u16string());
}

TEST(PlatformUtf, InvalidInputIsRejected) {
  for (const std::string& bad : {std::string("\xC0\x80"), std::string("\xE0\x80\x80"), std::string("\xF0\x80\x80\x80"),
                                 std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80"), std::string("\x80"),
                                 std::string("\xE2\x82"), std::string("\xF8\x88\x80\x80\x80"),
                                 std::string("ok\xC3(")}) {
    EXPECT_FALSE(Utf8ToUtf16(bad).has_value()) << testing::PrintToString(bad);
  }
  const char16_t lone_high_at_end[] = {u'a', 0xD800};
  const char16_t lone_low[] = {0xDC00, u'a'};
  const char16_t high_then_letter[] = {0xD83D, u'a'};
  for (std::u16string_view bad : {std::u16string_view(lone_high_at_end, 2), std::u16string_view(lone_low, 2),
                                  std::u16string_view(high_then_letter, 2)}) {
    EXPECT_FALSE(Utf16ToUtf8(bad).has_value());
  }
}

TEST(PlatformUtf, LengthAndCopyRespectTheBuffer) {
  EXPECT_EQ(U16Length(u"abcdef", 4), 4u);
  EXPECT_EQ(U16Length(u"ab", 10), 2u);
  EXPECT_EQ(U16Length(nullptr, 10), 0u);
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_TRUE(U16Copy(buffer, 4, u"abc"));
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_FALSE(U16Copy(buffer, 4, u"abcd"));
  EXPECT_EQ(buffer[0], u'\0');
}

}  // namespace
}  // namespace platform
