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
  char second[65] = {};  // exactly large enough
  int32_t first_length = sizeof first;
  int32_t second_length = sizeof second;
  ASSERT_EQ(GeneratUDI(first, &first_length), 0);
  ASSERT_EQ(GeneratUDI(second, &second_length), 0);
  EXPECT_STREQ(first, second);
  EXPECT_EQ(first_length, 64);
  EXPECT_THAT(first, ::testing::MatchesRegex("[0-9a-f]{64}"));
}

// The core reads "non-zero status, length above zero" as failure: a
// too-small buffer must never report a zero length.
TEST(DeviceId, DoesNotWritePastASmallBufferAndTellsTheSizeNeeded) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  int32_t length = 10;
  EXPECT_NE(GeneratUDI(buffer, &length), 0);
  EXPECT_EQ(length, 65);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
  EXPECT_NE(GeneratUDI(nullptr, &length), 0);
  EXPECT_NE(GeneratUDI(buffer, nullptr), 0);
}

}  // namespace
