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

// Wrongly typed members, and what JsonCpp's strict mode alone would let
// through: a comment after or inside the value, and a NUL byte with anything
// behind it; bodies too large or too deep.
TEST(TransportResponseParser, RefusesMalformedBodiesWithAReason) {
  const std::string commands = R"("commands":[{"guid":"G","command":{"cmd":{"id":12}}}])";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"errorCodes":[]})", "no \"success\""},
      {R"({"success":2})", "\"success\" is neither"},
      {R"({"success":true,"errorCodes":[4294967296]})", "error code"},
      {R"({"success":true,"commands":[{"command":"{\"cmd\":{}}"}]})", "\"command\""},
      {R"({"success":true,"commands":[{"leading":-1,"command":{}}]})", "\"leading\""},
      {R"({"success":true,"commands":{}})", "\"commands\" is not an array"},
      {R"({"success":true,"success":false})", "not JSON"},
      {R"(/* comment */ {"success":true})", "comment"},
      {R"({"success":true,)" + commands + "} // c", "text after its JSON value"},
      {R"({"success":true,)" + commands + std::string("}\0garbage", 9), "NUL byte"},
      {R"({"success":true,"pad":")" + std::string(agtransport::kMaxResponseBytes, ' ') + "\"}", "larger than"},
      {R"({"success":true,"x":)" + std::string(100000, '[') + std::string(100000, ']') + "}", ""},
  };
  for (const auto& [body, reason] : cases) {
    std::string error;
    EXPECT_EQ(Parse(body, &error), nullptr) << body.substr(0, 100);
    EXPECT_THAT(error, ::testing::HasSubstr(reason)) << body.substr(0, 100);
  }
  // Slashes and brackets inside texts are text, and white space may follow.
  const Parsed fine = Parse(R"({"success":true,"commands":[{"guid":"a/*b*/\"}]//","command":{}}]})" "\r\n\t ");
  ASSERT_NE(fine, nullptr);
  EXPECT_STREQ(fine->pCommands[0].pszCmdGuid, R"(a/*b*/"}]//)");
}

TEST(TransportResponseParser, HandsOnAtMostTheBoundOfCommandsAndCountsTheRest) {
  const auto body = [](size_t count, const std::string& last) {
    std::string text = R"({"success":true,"commands":[)";
    for (size_t i = 0; i + 1 < count; ++i) text += R"({"guid":"G)" + std::to_string(i) + R"(","command":{}},)";
    return text + last + "]}";
  };
  const size_t bound = agtransport::kMaxCommandsPerResponse;
  size_t refused = 99;
  std::string error;
  const Parsed response(ParseServerResponse(body(bound + 50, R"({"command":{}})"), &error, &refused));
  ASSERT_NE(response, nullptr) << error;
  EXPECT_EQ(response->dwCommandCount, bound);
  EXPECT_STREQ(response->pCommands[bound - 1].pszCmdGuid, ("G" + std::to_string(bound - 1)).c_str());
  EXPECT_EQ(refused, 50u);

  const Parsed within(ParseServerResponse(body(bound, R"({"command":{}})"), &error, &refused));
  EXPECT_EQ(refused, 0u);
  // A malformed entry past the bound still makes the body malformed.
  EXPECT_EQ(Parse(body(bound + 50, R"({"command":"text"})"), &error), nullptr);
  EXPECT_THAT(error, ::testing::HasSubstr("\"command\""));
}

}  // namespace
}  // namespace transport_test
