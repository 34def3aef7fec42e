// An assertion on a JSON document that names only the members a test cares
// about: HasMembers(value, R"({"service":"NotifySvc","cmdId":12})").
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

namespace json_test {

// Whether `value` holds every member of `part` with the same value; nested
// objects are compared the same way, anything else exactly.
inline bool Holds(const Json::Value& value, const Json::Value& part) {
  if (!part.isObject()) return value == part;
  if (!value.isObject()) return false;
  for (const std::string& name : part.getMemberNames()) {
    if (!value.isMember(name) || !Holds(value[name], part[name])) return false;
  }
  return true;
}

inline ::testing::AssertionResult HasMembers(const Json::Value& value, const std::string& expected) {
  Json::Value part;
  if (!Json::Reader().parse(expected, part)) return ::testing::AssertionFailure() << "not JSON: " << expected;
  if (Holds(value, part)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << value.toStyledString() << "does not hold " << expected;
}

}  // namespace json_test
