// INI files as the agent and other programs share them: names compare without
// case, other programs' lines survive a rewrite, structs carry a checksum, and
// a byte-order mark stays what it was.
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
using namespace std::string_literals;

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
  std::u16string Read(const char16_t* section, const char16_t* key) const {
    char16_t buffer[64];
    const uint32_t length = GetPrivateProfileStringW(section, key, u"none", buffer, 64, File().c_str());
    return std::u16string(buffer, length);
  }
  bool Write(const char16_t* section, const char16_t* key, const char16_t* value) const {
    return WritePrivateProfileStringW(section, key, value, File().c_str());
  }

  TempFolder folder_;
};

TEST_F(PlatformIni, NamesCompareWithoutCaseAndBlanksAndQuotesAreTrimmed) {
  SetText("; comment\r\n[Agent Info]\r\n  ClientGuid =  \"abc def\"  \r\nPort=  8080 \r\n");
  EXPECT_EQ(Read(u"agent info", u"CLIENTGUID"), u"abc def");
  EXPECT_EQ(GetPrivateProfileIntW(u"AGENT INFO", u"port", 0, File().c_str()), 8080u);
  // Latin-1 letters fold too; the signs between them are not letters.
  SetText("[\xC3\x89T\xC3\x89]\n\xC3\x97=1\n");  // [ÉTÉ] ×=1
  EXPECT_EQ(Read(u"\u00e9t\u00e9", u"\u00d7"), u"1");
  EXPECT_EQ(Read(u"\u00c9T\u00c9", u"\u00f7"), u"none");
}

// Other programs' lines (comments, garbage, line ends) survive a rewrite.
TEST_F(PlatformIni, WritesKeepOtherLinesAndLineEndsAndNullsDelete) {
  SetText("; keep me\n[First]\na=1\n\n\xFF garbage\n[Second]\nb=2\n[Gone]\nz=3\n");
  ASSERT_TRUE(Write(u"FIRST", u"c", u"3"));
  ASSERT_TRUE(Write(u"second", u"B", u"two"));
  ASSERT_TRUE(Write(u"Third", u"d", u"\u00e9"));
  ASSERT_TRUE(Write(u"first", u"A", nullptr));
  ASSERT_TRUE(Write(u"gone", nullptr, nullptr));
  EXPECT_EQ(Text(), "; keep me\n[First]\nc=3\n\n\xFF garbage\n[Second]\nb=two\n[Third]\nd=\xC3\xA9\n");
  EXPECT_EQ(Read(u"third", u"D"), u"\u00e9");
  SetText("[A]\r\nx=1\r\n");
  ASSERT_TRUE(Write(u"A", u"x", u"2"));
  EXPECT_EQ(Text(), "[A]\r\nx=2\r\n");
  // A value that would not read back is refused and nothing is written.
  EXPECT_FALSE(Write(u"S", u"k", u"two\nlines"));
  EXPECT_FALSE(Write(u"S", u"k=x", u"v"));
  EXPECT_EQ(Text(), "[A]\r\nx=2\r\n");
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
  SetText("[S]\nblob=01ABFFAC\n");
  EXPECT_FALSE(GetPrivateProfileStructW(u"S", u"blob", read_back, sizeof read_back, File().c_str()));
}

// A rewrite of a file that starts with a byte-order mark must not change what
// the file says: a first line that itself starts with a mark's bytes (a second
// mark, or UTF-16's FF FE after a UTF-8 mark) stays a line of its own instead
// of becoming the file's mark on the next read (a fuzzing finding).
std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

struct MarkCase {
  const char* name;
  std::string bytes;
  const char16_t* value;  // of [S] k, before and after the rewrite
};

const MarkCase kMarkCases[] = {
    {"Utf8Mark", "\xEF\xBB\xBF[S]\nk=v\n", u"v"},
    {"TwoUtf8Marks", "\xEF\xBB\xBF\xEF\xBB\xBF[S]\nk=v\n", u"none"},
    {"Utf8MarkThenUtf16Mark", "\xEF\xBB\xBF\xFF\xFE[\0S\0]\0\nk=v\n"s, u"none"},
    {"Utf16Mark", Utf16File(u"[S]\r\nk=v\r\n"), u"v"},
    {"Utf16MarkTwice", Utf16File(u"\uFEFF[S]\r\nk=v\r\n"), u"none"},
};

class IniByteOrderMarkTest : public PlatformIni, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(IniByteOrderMarkTest, RewriteKeepsWhatTheFileSays) {
  SetText(GetParam().bytes);
  EXPECT_EQ(Read(u"S", u"k"), GetParam().value);
  ASSERT_TRUE(Write(u"N", u"new", u"1"));
  EXPECT_EQ(Read(u"N", u"new"), u"1");
  EXPECT_EQ(Read(u"S", u"k"), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Table, IniByteOrderMarkTest, ::testing::ValuesIn(kMarkCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace platform
