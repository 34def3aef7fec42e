#include "core/config/tenant_info.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/unit/config/config_test_env.h"

namespace {

constexpr const char* kTenantJson =
    R"({ // written by the installer
  "tenantId": "T-1001", "csPrtNo": 443, "empty": "", "zero": 0, "negative": -1, "wide": 4294967297,
  "truth": true })";

// Looks a key up through a fresh instance; nullopt when the look-up fails.
template <typename T, typename Stored = T>
std::optional<T> LookUp(const char* key) {
  ScopedTenantInfo info(true);
  TenantInfoValue<Stored> value;
  if (!info || !info->GetTenantInfoOfGivenKey(key, &value.value)) return std::nullopt;
  if constexpr (std::is_same_v<Stored, char>) {
    return T(value.value);
  } else {
    return *value.value;
  }
}

class TenantInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.WriteTenantJson(kTenantJson); }
  ConfigTestEnv env_;
};

// The known-answer files fix key and byte order; these are the reader's rules:
// Base64 split over lines (as the installer's tools wrap it), text up to the
// first NUL.
TEST(TenantCodec, ReadsUpToTheFirstNulAcrossLineBreaks) {
  std::string file = EncodeTenantFile(R"({"a":1})");
  file.insert(8, "\n");
  EXPECT_EQ(DecodeTenantFile(file + std::string(1, '\0') + "garbage"), R"({"a":1})");
}

TEST(TenantFile, UnreadableFileMakesGetInstanceFail) {
  const std::string valid = EncodeTenantFile(R"({"a":1})");
  const struct {
    const char* name;
    std::string bytes;
  } kFiles[] = {
      {"CorruptBase64", "@@@@" + valid},
      {"DataAfterPadding", valid + "QUJD"},
      {"LastBlockCut", valid.substr(0, 8)},
      {"Empty", ""},
      {"EmptyObject", EncodeTenantFile("{}")},
      {"NotJson", EncodeTenantFile(R"({"tenantId": )")},
      // 2048 bytes are read: the cut ciphertext ends in a block of JSON text.
      {"Oversized", EncodeTenantFile(R"({"pad":")" + std::string(1600, 'p') + R"("})")},
  };
  ConfigTestEnv env;
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.name);
    env.WriteTenantBytes(f.bytes);
    EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);
    EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);  // a fresh instance reads too
  }
}

// Each key in the three forms the agent reads: boolean (absent is false, with
// success), integer and text (nullopt: refused).
TEST_F(TenantInfoTest, EachFormFollowsTheAgentsRules) {
  const struct {
    const char* key;
    bool boolean;
    std::optional<uint32_t> number;
    std::optional<std::string> text;
  } kKeys[] = {
      {"tenantId", true, std::nullopt, "T-1001"},
      {"csPrtNo", true, 443, std::nullopt},
      {"wide", true, 1, std::nullopt},  // low 32 bits of 2^32 + 1
      {"truth", true, 1, "true"},
      {"zero", false, 0, std::nullopt},
      {"empty", false, std::nullopt, std::nullopt},
      {"negative", true, std::nullopt, std::nullopt},
      {"absent", false, std::nullopt, std::nullopt},
  };
  for (const auto& k : kKeys) {
    SCOPED_TRACE(k.key);
    EXPECT_EQ(LookUp<bool>(k.key), k.boolean);
    EXPECT_EQ(LookUp<uint32_t>(k.key), k.number);
    EXPECT_EQ((LookUp<std::string, char>(k.key)), k.text);
  }
}

TEST_F(TenantInfoTest, InstanceLivesUntilTheLastReleaseAndAFailedReReadKeepsItValid) {
  CTenantInfo* first = CTenantInfo::getInstance(true);
  CTenantInfo* second = CTenantInfo::getInstance(true);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  CTenantInfo::release(first);
  env_.WriteTenantBytes("not base64 at all!");
  EXPECT_EQ(CTenantInfo::getInstance(false), second);  // without a re-read the living instance is handed out
  CTenantInfo::release(second);
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);  // a failed re-read keeps the living one
  TenantInfoValue<char> id;
  ASSERT_TRUE(second->GetTenantInfoOfGivenKey("tenantId", &id.value));
  EXPECT_STREQ(id.value, "T-1001");
  CTenantInfo::release(second);
}

TEST_F(TenantInfoTest, GetValueFromTenantInfoCopiesAndGivesEveryReferenceBack) {
  char buffer[16] = {};
  EXPECT_TRUE(GetValueFromTenantInfo("tenantId", buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, "T-1001");
  char small[4] = {};
  EXPECT_FALSE(GetValueFromTenantInfo("tenantId", small, sizeof(small)));
  EXPECT_FALSE(GetValueFromTenantInfo("cdnURL", buffer, sizeof(buffer)));
  env_.RemoveTenantFile();
  EXPECT_FALSE(GetValueFromTenantInfo("tenantId", buffer, sizeof(buffer)));
  EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);  // a missing file fails a fresh read too
}

}  // namespace
