// Tenant files written by an independent implementation of the file format.
// The agent's encoder and decoder share their key and block code, so a round
// trip through them cannot catch a wrong key schedule or byte order: these
// files can.
#include <gtest/gtest.h>
#include <json/json.h>

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

TEST_P(TenantKnownAnswer, DecodesToTheGivenJsonEncodesToTheGivenBytesAndTheStoreReadsItsValues) {
  const KnownTenant& tenant = GetParam();
  const std::string file = ReadFile(std::string(tenant.name) + ".dat");
  const std::string json = ReadFile(std::string(tenant.name) + ".json");
  const auto plain = DecodeTenantFile(file);
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(ParseJson(*plain), ParseJson(json));
  EXPECT_EQ(EncodeTenantFile(json), file);

  ConfigTestEnv env;
  env.WriteTenantBytes(file);
  ScopedTenantInfo info(true);
  ASSERT_TRUE(info);
  TenantInfoValue<char> text;
  ASSERT_TRUE(info->GetTenantInfoOfGivenKey(tenant.textKey, &text.value));
  EXPECT_STREQ(text.value, tenant.textValue);
  TenantInfoValue<uint32_t> number;
  ASSERT_TRUE(info->GetTenantInfoOfGivenKey(tenant.numberKey, &number.value));
  EXPECT_EQ(*number.value, tenant.numberValue);
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
