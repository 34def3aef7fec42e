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

class TenantKnownAnswer : public ::testing::TestWithParam<const char*> {};

TEST_P(TenantKnownAnswer, DecodesToTheGivenJsonAndEncodesToTheGivenBytes) {
  const std::string file = ReadFile(std::string(GetParam()) + ".dat");
  const std::string json = ReadFile(std::string(GetParam()) + ".json");
  const auto plain = DecodeTenantFile(file);
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(ParseJson(*plain), ParseJson(json));
  EXPECT_EQ(EncodeTenantFile(json), file);
}

INSTANTIATE_TEST_SUITE_P(IndependentFiles, TenantKnownAnswer, ::testing::Values("tenant-cloud", "tenant-onprem-proxy"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) c = (c == '-') ? '_' : c;
                           return name;
                         });

}  // namespace
