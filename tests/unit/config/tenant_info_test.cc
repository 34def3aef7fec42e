#include "core/config/tenant_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/config/config_test_env.h"
#include "tests/unit/mocks/log_capture.h"

namespace {

constexpr const char* kTenantJson =
    R"({ // written by the installer
  "tenantId": "T-1001", "locale": "en-US", "csUrl": "cs.example.test", "csPrtNo": 443,
  "csAppNm": "agentapp", "proxyPassword": "secret", "empty": "", "onPremOne": 1, "onPremTrue": true,
  "zero": 0, "negative": -1, "wide": 4294967297, "real": 3.7, "list": [1], "object": {"a": 1},
  "nothing": null, "flagText": "yes", "truth": true })";

// Looks a key up through a fresh instance and releases it again.
template <typename T>
bool LookUp(const char* key, T* out) {
  CTenantInfo* info = CTenantInfo::getInstance(true);
  if (info == nullptr) return false;
  T* value = nullptr;
  const bool ok = info->GetTenantInfoOfGivenKey(key, &value);
  if (ok) *out = *value;
  std::free(value);
  CTenantInfo::release(info);
  return ok;
}

bool LookUpText(const char* key, std::string* out) {
  CTenantInfo* info = CTenantInfo::getInstance(true);
  if (info == nullptr) return false;
  char* value = nullptr;
  const bool ok = info->GetTenantInfoOfGivenKey(key, &value);
  if (ok) *out = value;
  std::free(value);
  CTenantInfo::release(info);
  return ok;
}

class TenantInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.WriteTenantJson(kTenantJson); }
  ConfigTestEnv env_;
};

TEST(TenantCodec, RoundTripsAndPadsToTheNextFullBlock) {
  for (const std::string& plain : {std::string("{}"), std::string(8, 'x'), std::string(1535, 'y')}) {
    const std::string file = EncodeTenantFile(plain);
    EXPECT_EQ(Base64Decode(file).size(), (plain.size() & ~size_t{7}) + 8);
    EXPECT_EQ(DecodeTenantFile(file), plain);
  }
}

TEST(TenantCodec, ReadsTheTextUpToTheFirstNulAndAcceptsLineBreaks) {
  std::string file = EncodeTenantFile(R"({"a":1})");
  file.insert(8, "\n");
  EXPECT_EQ(DecodeTenantFile(file + std::string(1, '\0') + "garbage"), R"({"a":1})");
}

TEST(TenantCodec, IgnoresPadBytesOtherThanTheLast) {
  const std::string json = R"({"k":"v12"})";  // 11 bytes + 5 pad bytes = 16
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
        BadFile{"LastPadByteZero", EncryptWithoutPadding(std::string(R"({"a":12})") + std::string(8, '\0'))},
        BadFile{"LastPadByteNine", EncryptWithoutPadding(std::string(R"({"a":12})") + std::string(8, '\x09'))},
        BadFile{"EmptyObject", EncodeTenantFile("{}")},
        BadFile{"NullRoot", EncodeTenantFile("null")},
        BadFile{"ArrayRoot", EncodeTenantFile(R"(["tenantId"])")},
        BadFile{"NumberRoot", EncodeTenantFile("5")},
        BadFile{"NotJson", EncodeTenantFile(R"({"tenantId": )")},
        // 2048 bytes are read: the cut ciphertext ends in a block of JSON text.
        BadFile{"Oversized", EncodeTenantFile(R"({"pad":")" + std::string(1600, 'p') + R"("})")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TenantFile, MissingFileOrRootFolderFails) {
  ConfigTestEnv env;
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);
  env.support().SetRootDir(std::u16string(255, u'r') + u"/");  // root + name exceed 260 units
  env.WriteTenantJson(kTenantJson);
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);
}

TEST_F(TenantInfoTest, PopulateReadsFromAGivenFolder) {
  std::filesystem::create_directories(env_.base() + "/other");
  ConfigTestEnv::WriteFile(env_.base() + "/other/clagnt.dat", EncodeTenantFile(R"({"tenantId":"OTHER"})"));
  CTenantInfo* info = CTenantInfo::getInstance(true);
  ASSERT_NE(info, nullptr);
  ASSERT_TRUE(info->PopulateTenantInfo(platform::Utf8ToUtf16(env_.base() + "/other/")->c_str()));
  TenantInfoValue<char> id;
  ASSERT_TRUE(info->GetTenantInfoOfGivenKey("tenantId", &id.value));
  EXPECT_STREQ(id.value, "OTHER");
  EXPECT_FALSE(info->PopulateTenantInfo(std::u16string(300, u'f').c_str()));
  CTenantInfo::release(info);
}

TEST_F(TenantInfoTest, BooleanFormFollowsTheAgentsTruthRules) {
  bool value = true;
  EXPECT_TRUE(LookUp("onPrem", &value));  // absent reads as false, with success
  EXPECT_FALSE(value);
  for (const char* key : {"onPremOne", "onPremTrue", "flagText", "list", "object"}) {
    value = false;
    EXPECT_TRUE(LookUp(key, &value)) << key;
    EXPECT_TRUE(value) << key;
  }
  for (const char* key : {"zero", "empty", "nothing"}) {
    value = true;
    EXPECT_TRUE(LookUp(key, &value)) << key;
    EXPECT_FALSE(value) << key;
  }
}

TEST_F(TenantInfoTest, IntegerFormRefusesAbsentTextNegativeAndContainers) {
  uint32_t value = 0;
  EXPECT_TRUE(LookUp("csPrtNo", &value));
  EXPECT_EQ(value, 443u);
  EXPECT_TRUE(LookUp("wide", &value));
  EXPECT_EQ(value, 1u);  // low 32 bits of 2^32 + 1
  EXPECT_TRUE(LookUp("real", &value));
  EXPECT_EQ(value, 3u);
  EXPECT_TRUE(LookUp("truth", &value));
  EXPECT_EQ(value, 1u);
  for (const char* key : {"proxyPort", "tenantId", "negative", "list", "object", "empty"}) {
    EXPECT_FALSE(LookUp(key, &value)) << key;
  }
}

TEST_F(TenantInfoTest, TextFormRefusesEmptyNumbersAndContainers) {
  std::string value;
  EXPECT_TRUE(LookUpText("tenantId", &value));
  EXPECT_EQ(value, "T-1001");
  EXPECT_TRUE(LookUpText("truth", &value));
  EXPECT_EQ(value, "true");
  for (const char* key : {"empty", "absent", "nothing", "csPrtNo", "real", "negative", "list", "object"}) {
    EXPECT_FALSE(LookUpText(key, &value)) << key;
  }
}

TEST_F(TenantInfoTest, InstanceLivesUntilTheLastRelease) {
  CTenantInfo* first = CTenantInfo::getInstance(true);
  CTenantInfo* second = CTenantInfo::getInstance(true);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  CTenantInfo::release(first);

  env_.RemoveTenantFile();
  // Without a re-read the living instance is handed out as it is.
  CTenantInfo* third = CTenantInfo::getInstance(false);
  EXPECT_EQ(third, second);
  CTenantInfo::release(third);
  CTenantInfo::release(second);
  // Gone: a new instance must read the (now missing) file.
  EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);
  CTenantInfo::release(nullptr);
}

TEST_F(TenantInfoTest, FailedReReadKeepsReferencesHeldElsewhereValid) {
  CTenantInfo* holder = CTenantInfo::getInstance(true);
  ASSERT_NE(holder, nullptr);
  env_.WriteTenantBytes("not base64 at all!");
  EXPECT_EQ(CTenantInfo::getInstance(true), nullptr);

  TenantInfoValue<char> id;
  ASSERT_TRUE(holder->GetTenantInfoOfGivenKey("tenantId", &id.value));
  EXPECT_STREQ(id.value, "T-1001");

  env_.WriteTenantJson(R"({"tenantId":"T-3003"})");
  CTenantInfo* fresh = CTenantInfo::getInstance(true);
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, holder);
  CTenantInfo::release(holder);
  std::string freshId;
  EXPECT_TRUE(LookUpText("tenantId", &freshId));
  EXPECT_EQ(freshId, "T-3003");
  CTenantInfo::release(fresh);
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
  for (int n = 0; n < 100; ++n) {
    env_.WriteTenantJson(n % 2 ? kTenantJson : R"({"tenantId":"T-4004"})");
  }
  for (auto& t : readers) t.join();
  EXPECT_EQ(unexpected.load(), 0);
}

TEST_F(TenantInfoTest, GetValueFromTenantInfoCopiesAndLogsEachFailure) {
  LogCapture log;
  char buffer[16] = {};
  EXPECT_TRUE(GetValueFromTenantInfo("tenantId", buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, "T-1001");

  char small[4] = {};
  EXPECT_FALSE(GetValueFromTenantInfo("tenantId", small, sizeof(small)));
  EXPECT_TRUE(log.ContainsAtLevel(AG_LOG_FAILURE, "StringCchCopyA() failed for tenantId"));

  EXPECT_FALSE(GetValueFromTenantInfo("cdnURL", buffer, sizeof(buffer)));
  EXPECT_TRUE(log.Contains("GetTenantInfoOfGivenKey() failed for cdnURL"));

  env_.RemoveTenantFile();
  EXPECT_FALSE(GetValueFromTenantInfo("tenantId", buffer, sizeof(buffer)));
  EXPECT_TRUE(log.Contains("getInstance() failed."));
  // Every call gave its reference back: nothing is left to hand out.
  EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);
}

}  // namespace
