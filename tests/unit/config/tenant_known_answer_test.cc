// Tenant files written by an independent implementation of the file format.
// The agent's encoder and decoder share their key and block code, so a round
// trip through them cannot catch a wrong key schedule or byte order: these
// files can.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "core/config/tenant_codec.h"
#include "core/config/tenant_info.h"
#include "tests/unit/config/config_test_env.h"

namespace {

std::string ReadFile(const std::string& name) {
  std::ifstream in(std::string(AG_TENANT_KNOWN_ANSWERS) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  EXPECT_TRUE(ParseTenantJson(text, &value)) << text;
  return value;
}

struct KnownTenant {
  const char* name;
  const char* textKey;  // a text value read back through the tenant store
  const char* textValue;
  const char* numberKey;
  uint32_t numberValue;
};

class TenantKnownAnswer : public ::testing::TestWithParam<KnownTenant> {};

TEST_P(TenantKnownAnswer, DecodesToTheGivenJsonAndEncodesToTheGivenBytes) {
  const std::string file = ReadFile(std::string(GetParam().name) + ".dat");
  const std::string json = ReadFile(std::string(GetParam().name) + ".json");

  const auto plain = DecodeTenantFile(file);
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(ParseJson(*plain), ParseJson(json));
  EXPECT_EQ(EncodeTenantFile(json), file);
}

TEST_P(TenantKnownAnswer, StoreReadsItsValues) {
  ConfigTestEnv env;
  env.WriteTenantBytes(ReadFile(std::string(GetParam().name) + ".dat"));
  CTenantInfo* info = CTenantInfo::getInstance(true);
  ASSERT_NE(info, nullptr);

  char* text = nullptr;
  ASSERT_TRUE(info->GetTenantInfoOfGivenKey(GetParam().textKey, &text));
  EXPECT_STREQ(text, GetParam().textValue);
  std::free(text);
  uint32_t* number = nullptr;
  ASSERT_TRUE(info->GetTenantInfoOfGivenKey(GetParam().numberKey, &number));
  EXPECT_EQ(*number, GetParam().numberValue);
  std::free(number);
  CTenantInfo::release(info);
}

INSTANTIATE_TEST_SUITE_P(IndependentFiles, TenantKnownAnswer,
                         ::testing::Values(KnownTenant{"tenant-cloud", "cdnURL", "https://cdn.example.test/builds",
                                                       "clientDefaultHeartBeatInterval", 15},
                                           KnownTenant{"tenant-onprem-proxy", "proxyPassword", "s3cr\xC3\xA9t",
                                                       "csPrtNo", 8443}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name) c = (c == '-') ? '_' : c;
                           return name;
                         });

}  // namespace
