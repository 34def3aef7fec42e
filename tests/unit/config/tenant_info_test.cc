#include "core/config/tenant_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/config/config_test_env.h"

namespace {

constexpr const char* kTenantJson =
    R"({ // written by the installer
  "tenantId": "T-1001", "locale": "en-US", "csUrl": "cs.example.test", "csPrtNo": 443,
  "csAppNm": "agentapp", "proxyPassword": "secret", "empty": "", "onPremOne": 1, "onPremTrue": true,
  "zero": 0, "negative": -1, "wide": 4294967297, "real": 3.7, "list": [1], "object": {"a": 1},
  "nothing": null, "flagText": "yes", "truth": true })";

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
std::optional<std::string> LookUpText(const char* key) { return LookUp<std::string, char>(key); }

class TenantInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.WriteTenantJson(kTenantJson); }
  ConfigTestEnv env_;
};

// The known-answer files fix key and byte order; these are the reader's rules.
TEST(TenantCodec, ReadsUpToTheFirstNulAcrossLineBreaksAndOnlyTheLastPadByteCounts) {
  std::string file = EncodeTenantFile(R"({"a":1})");
  file.insert(8, "\n");  // line breaks are accepted
  EXPECT_EQ(DecodeTenantFile(file + std::string(1, '\0') + "garbage"), R"({"a":1})");
  const std::string json = R"({"k":"v12"})";  // 11 bytes + 5 pad bytes, only the last counts
  EXPECT_EQ(DecodeTenantFile(EncryptWithoutPadding(json + std::string("\x09\x00\x07\x01\x05", 5))), json);
}

struct BadFile {
  const char* name;
  std::string bytes;
};
void PrintTo(const BadFile& file, std::ostream* out) { *out << file.name; }

class UnreadableTenantFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(UnreadableTenantFile, MakesGetInstanceWithReReadFail) {
  ConfigTestEnv env;
  env.WriteTenantBytes(GetParam().bytes);
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);
  EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);  // a fresh instance reads too
}

INSTANTIATE_TEST_SUITE_P(
    TenantFile, UnreadableTenantFile,
    ::testing::Values(
        BadFile{"CorruptBase64", "@@@@" + EncodeTenantFile(R"({"a":1})")},
        BadFile{"DataAfterPadding", EncodeTenantFile(R"({"a":1})") + "QUJD"},
        BadFile{"LengthNotMultipleOf8", Base64Encode(std::string(12, 'x'))},
        BadFile{"Empty", ""},
        BadFile{"LastPadByteNine", EncryptWithoutPadding(std::string(R"({"a":12})") + std::string(8, '\x09'))},
        BadFile{"EmptyObject", EncodeTenantFile("{}")},
        BadFile{"ArrayRoot", EncodeTenantFile(R"(["tenantId"])")},
        BadFile{"NotJson", EncodeTenantFile(R"({"tenantId": )")},
        // 2048 bytes are read: the cut ciphertext ends in a block of JSON text.
        BadFile{"Oversized", EncodeTenantFile(R"({"pad":")" + std::string(1600, 'p') + R"("})")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TenantFile, MissingFileOrTooLongRootFolderFails) {
  ConfigTestEnv env;
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);
  env.WriteTenantJson(kTenantJson);
  env.support().SetRootDir(std::u16string(255, u'r') + u"/");  // root + name exceed 260 units
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);
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
      {"flagText", true, std::nullopt, "yes"},
      {"object", true, std::nullopt, std::nullopt},
      {"onPremOne", true, 1, std::nullopt},
      {"zero", false, 0, std::nullopt},
      {"empty", false, std::nullopt, std::nullopt},
      {"negative", true, std::nullopt, std::nullopt},
      {"absent", false, std::nullopt, std::nullopt},
  };
  for (const auto& k : kKeys) {
    SCOPED_TRACE(k.key);
    EXPECT_EQ(LookUp<bool>(k.key), k.boolean);
    EXPECT_EQ(LookUp<uint32_t>(k.key), k.number);
    EXPECT_EQ(LookUpText(k.key), k.text);
  }
}

TEST_F(TenantInfoTest, InstanceLivesUntilTheLastReleaseAndAFailedReReadKeepsItValid) {
  CTenantInfo* first = CTenantInfo::getInstance(true);
  CTenantInfo* second = CTenantInfo::getInstance(true);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  CTenantInfo::release(first);
  env_.WriteTenantBytes("not base64 at all!");
  // Without a re-read the living instance is handed out as it is.
  CTenantInfo* third = CTenantInfo::getInstance(false);
  EXPECT_EQ(third, second);
  CTenantInfo::release(third);
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);  // a failed re-read keeps the living one
  TenantInfoValue<char> id;
  ASSERT_TRUE(second->GetTenantInfoOfGivenKey("tenantId", &id.value));
  EXPECT_STREQ(id.value, "T-1001");
  CTenantInfo::release(second);
}

TEST_F(TenantInfoTest, LookUpsStaySafeWhileOtherThreadsReRead) {
  std::atomic<int> unexpected{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      for (int n = 0; n < 200; ++n) {
        ScopedTenantInfo tenant(true);
        if (!tenant) continue;  // a rewrite in between may leave no file
        TenantInfoValue<char> id;
        if (!tenant->GetTenantInfoOfGivenKey("tenantId", &id.value) ||
            (std::string(id.value) != "T-1001" && std::string(id.value) != "T-4004")) {
          ++unexpected;
        }
      }
    });
  }
  for (int n = 0; n < 100; ++n) env_.WriteTenantJson(n % 2 ? kTenantJson : R"({"tenantId":"T-4004"})");
  for (auto& t : readers) t.join();
  EXPECT_EQ(unexpected.load(), 0);
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
  EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);
}

}  // namespace
