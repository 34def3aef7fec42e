// The UTF-16 twin of the event log: UTF-16 format and text arguments come out
// as UTF-8, every other conversion as printf would write it.
#include <agsuite/agevtlog.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "../mocks/log_capture.h"

namespace {

template <typename... Args>
std::string FormatW(const char16_t* format, Args... args) {
  LogCapture capture;
  AgEvtLogWriteW(AG_LOG_VERBOSE, "m", "r", __FILE__, __LINE__, format, args...);
  const auto records = capture.Records();
  return records.empty() ? std::string("<none>") : records[0].message;
}

TEST(WideFormat, TextArgumentsAndFormatTextAreUtf16) {
  EXPECT_EQ(FormatW(u"RebootIni File Path(%s)", u"/opt/vornex/reboot.ini"), "RebootIni File Path(/opt/vornex/reboot.ini)");
  EXPECT_EQ(FormatW(u"[%ls|%S]", u"caf\u00e9", u"x"), "[caf\xc3\xa9|x]");
  EXPECT_EQ(FormatW(u"[%-4s|%4s|%.2s]", u"ab", u"cd", u"abcdef"), "[ab  |  cd|ab]");
  EXPECT_EQ(FormatW(u"[%s]", static_cast<const char16_t*>(nullptr)), "[(null)]");
  // An unpaired surrogate cannot be encoded; the line stays readable.
  const char16_t broken[] = {u'a', static_cast<char16_t>(0xD800), u'b', 0};
  EXPECT_EQ(FormatW(u"%s", broken), "a\xef\xbf\xbd" "b");
}

TEST(WideFormat, NumericConversionsBehaveAsPrintfAndMalformedOnesConsumeNothing) {
  EXPECT_EQ(FormatW(u"%d %u %lu", -5, 4000000000u, 18446744073709551615ul), "-5 4000000000 18446744073709551615");
  EXPECT_EQ(FormatW(u"%x %05d|%-3d", 255, 42, 1), "ff 00042|1  ");
  EXPECT_EQ(FormatW(u"%*d|%.*f", 4, 7, 2, 3.14159), "   7|3.14");
  EXPECT_EQ(FormatW(u"%c%lc 100%%", u'A', u'\u00e9'), "A\xc3\xa9 100%");
  EXPECT_EQ(FormatW(u"%y then %d", 5), "%y then 5");
  EXPECT_EQ(FormatW(u"dangling %"), "dangling ");
}

TEST(WideFormat, ArgumentsStayAlignedAfterMixedConversions) {
  // A wrong guess of one argument's size would shift every later argument.
  EXPECT_EQ(FormatW(u"%hd %s %lld %s %f %s", static_cast<short>(3), u"a", 5ll, u"b", 0.5, u"c"),
            "3 a 5 b 0.500000 c");
  EXPECT_EQ(FormatW(u"%td %s %ju", static_cast<ptrdiff_t>(-5000000000), u"a", static_cast<uintmax_t>(7)), "-5000000000 a 7");
}

}  // namespace
