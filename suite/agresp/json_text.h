// JSON text helpers of the response generator: compact writing (members in
// key order, no spaces, no line end) and bounded, exception-free parsing.
#pragma once

#include <json/json.h>

#include <string>
#include <string_view>

namespace agresp {

[[nodiscard]] std::string CompactJson(const Json::Value& value);
// False for invalid JSON, trailing text, excessive nesting or null input.
[[nodiscard]] bool ParseJson(std::string_view text, Json::Value* out);

}  // namespace agresp
