// A rewrite of an INI file that starts with a byte-order mark must not change
// what the file says: a first line that itself starts with a mark's bytes
// (a second mark, or UTF-16's FF FE after a UTF-8 mark) stays a line of its
// own instead of becoming the file's mark on the next read.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/ini.h"
#include "platform/utf.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace {

using namespace std::string_literals;

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

const MarkCase kCases[] = {
    {"Utf8Mark", "\xEF\xBB\xBF[S]\nk=v\n", u"v"},
    {"TwoUtf8Marks", "\xEF\xBB\xBF\xEF\xBB\xBF[S]\nk=v\n", u"none"},
    {"Utf8MarkThenUtf16Mark", "\xEF\xBB\xBF\xFF\xFE[\0S\0]\0\nk=v\n"s, u"none"},
    {"Utf16Mark", Utf16File(u"[S]\r\nk=v\r\n"), u"v"},
    {"Utf16MarkTwice", Utf16File(u"\uFEFF[S]\r\nk=v\r\n"), u"none"},
};

class IniByteOrderMarkTest : public ::testing::TestWithParam<MarkCase> {
 protected:
  std::u16string Read(const char16_t* section, const char16_t* key) const {
    char16_t buffer[16];
    const uint32_t length = platform::GetPrivateProfileStringW(section, key, u"none", buffer, 16, file_.c_str());
    return std::u16string(buffer, length);
  }

  test_support::ScratchFolder scratch_{"ini-mark-"};
  std::string path_ = scratch_.path() + "/agent.ini";
  std::u16string file_ = *platform::Utf8ToUtf16(path_);
};

TEST_P(IniByteOrderMarkTest, RewriteKeepsWhatTheFileSays) {
  std::ofstream(path_, std::ios::binary) << GetParam().bytes;
  EXPECT_EQ(Read(u"S", u"k"), GetParam().value);
  ASSERT_TRUE(platform::WritePrivateProfileStringW(u"N", u"new", u"1", file_.c_str()));
  EXPECT_EQ(Read(u"N", u"new"), u"1");
  EXPECT_EQ(Read(u"S", u"k"), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Table, IniByteOrderMarkTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
