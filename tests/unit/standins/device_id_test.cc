// The device-id library's one export: a stable identifier of this machine,
// written only into a buffer large enough for it.
#include <agsuite/agdevid.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern "C" uint16_t GeneratUDI(char* buffer, int32_t* pLength);

namespace {

TEST(DeviceId, IsAStableHexIdentifierWithItsLength) {
  char first[100] = {};
  char second[100] = {};
  int32_t first_length = sizeof first;
  int32_t second_length = sizeof second;
  ASSERT_EQ(GeneratUDI(first, &first_length), 0);
  ASSERT_EQ(GeneratUDI(second, &second_length), 0);
  EXPECT_STREQ(first, second);
  EXPECT_EQ(first_length, static_cast<int32_t>(std::strlen(first)));
  EXPECT_THAT(first, ::testing::MatchesRegex("[0-9a-f]{64}"));
}

TEST(DeviceId, DoesNotWritePastASmallBufferAndTellsTheSizeNeeded) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  int32_t length = 10;
  EXPECT_NE(GeneratUDI(buffer, &length), 0);
  EXPECT_EQ(length, 65);
  for (char c : buffer) EXPECT_EQ(c, '#');

  // The core reads "non-zero status, length above zero" as failure: a
  // too-small buffer must never report a zero length.
  char exact[65];
  length = sizeof exact;
  EXPECT_EQ(GeneratUDI(exact, &length), 0);
  EXPECT_EQ(length, 64);
}

TEST(DeviceId, RejectsMissingArguments) {
  char buffer[100];
  int32_t length = sizeof buffer;
  EXPECT_NE(GeneratUDI(nullptr, &length), 0);
  EXPECT_NE(GeneratUDI(buffer, nullptr), 0);
  length = 0;
  EXPECT_NE(GeneratUDI(buffer, &length), 0);
}

TEST(DeviceId, MatchesTheTypeTheCoreLooksUp) {
  PFN_GENERATE_UDI generate = &GeneratUDI;
  char buffer[100];
  int32_t length = sizeof buffer;
  EXPECT_EQ(generate(buffer, &length), 0);
  EXPECT_STREQ(kGenerateUdiExport, "GeneratUDI");
}

}  // namespace
