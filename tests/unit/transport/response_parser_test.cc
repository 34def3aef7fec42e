// The response parser on its own: what it accepts, what it refuses, and the
// bounds it applies to texts coming from the server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "suite/agtransport/limits.h"
#include "suite/agtransport/server_response.h"

namespace transport_test {
namespace {

using agtransport::ParseServerResponse;

struct Release {
  void operator()(ServerResponse* response) const { agtransport::ReleaseServerResponse(response); }
};
using Parsed = std::unique_ptr<ServerResponse, Release>;

Parsed Parse(const std::string& body, std::string* error = nullptr) {
  std::string ignored;
  return Parsed(ParseServerResponse(body, error != nullptr ? error : &ignored));
}

TEST(TransportResponseParser, ReadsSuccessErrorCodesAndCommands) {
  const Parsed response = Parse(R"({"success":false,"errorCodes":[20016,4294967295],
      "commands":[{"leading":4294967295,"guid":"G-1","command":{"cmd":{"id":27,"type":1,"context":{},"data":{"interval":5}}}},
                  {"command":{"cmd":{"id":1}}}]})");
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(response->bSuccess, 0);
  ASSERT_EQ(response->dwErrorCount, 2u);
  EXPECT_EQ(response->pErrorCodes[0], 20016u);
  EXPECT_EQ(response->pErrorCodes[1], 4294967295u);
  ASSERT_EQ(response->dwCommandCount, 2u);
  EXPECT_EQ(response->pCommands[0].dwLeading, 4294967295u);
  EXPECT_STREQ(response->pCommands[0].pszCmdGuid, "G-1");
  EXPECT_STREQ(response->pCommands[0].pszCommandJson,
               R"({"cmd":{"context":{},"data":{"interval":5},"id":27,"type":1}})");
  // Leading value and GUID are optional.
  EXPECT_EQ(response->pCommands[1].dwLeading, 0u);
  EXPECT_STREQ(response->pCommands[1].pszCmdGuid, "");
}

TEST(TransportResponseParser, SuccessMayBeBooleanOrZeroOrOne) {
  EXPECT_EQ(Parse(R"({"success":true})")->bSuccess, 1);
  EXPECT_EQ(Parse(R"({"success":1})")->bSuccess, 1);
  EXPECT_EQ(Parse(R"({"success":0})")->bSuccess, 0);
  EXPECT_EQ(Parse(R"({"success":2})"), nullptr);
  EXPECT_EQ(Parse(R"({"success":null})"), nullptr);
}

TEST(TransportResponseParser, EmptyListsGiveNoListAtAll) {
  const Parsed response = Parse(R"({"success":true,"errorCodes":[],"commands":[]})");
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(response->pErrorCodes, nullptr);
  EXPECT_EQ(response->pCommands, nullptr);
  EXPECT_EQ(response->dwCommandCount, 0u);
}

TEST(TransportResponseParser, RefusesWronglyTypedMembersWithAReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"errorCodes":[]})", "no \"success\""},
      {R"({"success":true,"errorCodes":[1.5]})", "error code"},
      {R"({"success":true,"errorCodes":[4294967296]})", "error code"},
      {R"({"success":true,"errorCodes":["1"]})", "error code"},
      {R"({"success":true,"errorCodes":7})", "\"errorCodes\" is not an array"},
      {R"({"success":true,"commands":[{"command":"{\"cmd\":{}}"}]})", "\"command\""},
      {R"({"success":true,"commands":[{"guid":7,"command":{}}]})", "\"guid\""},
      {R"({"success":true,"commands":[{"leading":-1,"command":{}}]})", "\"leading\""},
      {R"({"success":true,"commands":[3]})", "not an object"},
      {R"({"success":true} trailing)", "not JSON"},
      {R"({"success":true,"success":false})", "not JSON"},
      {R"(/* comment */ {"success":true})", "not JSON"},
  };
  for (const auto& [body, reason] : cases) {
    std::string error;
    EXPECT_EQ(Parse(body, &error), nullptr) << body;
    EXPECT_THAT(error, ::testing::HasSubstr(reason)) << body;
  }
}

TEST(TransportResponseParser, CutsLongGuidsAndEndsTextsAtAnEmbeddedNul) {
  const std::string long_guid(300, 'x');
  const Parsed response =
      Parse(R"({"success":true,"commands":[{"guid":")" + long_guid + R"(","command":{}},
                                           {"guid":"ab\u0000cd","command":{}}]})");
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(std::string(response->pCommands[0].pszCmdGuid), std::string(agtransport::kMaxCommandGuidChars, 'x'));
  EXPECT_STREQ(response->pCommands[1].pszCmdGuid, "ab");
}

TEST(TransportResponseParser, RefusesOversizedAndDeeplyNestedBodies) {
  std::string error;
  std::string big = R"({"success":true,"pad":")" + std::string(agtransport::kMaxResponseBytes, ' ') + "\"}";
  EXPECT_EQ(Parse(big, &error), nullptr);
  EXPECT_THAT(error, ::testing::HasSubstr("larger than"));

  const std::string deep = R"({"success":true,"x":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_EQ(Parse(deep, &error), nullptr);
}

}  // namespace
}  // namespace transport_test
