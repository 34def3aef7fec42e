#include "tenant_masking.h"

#include <algorithm>
#include <cctype>

#include "text_layout.h"

namespace agentctl {
namespace {

constexpr size_t kShownEachSide = 2;
// Below this length, two characters on each side would show most of it.
constexpr size_t kShortestPartlyShown = 8;
constexpr const char* kSecretWords[] = {"password", "passwd", "pwd", "secret", "token", "key", "credential"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string ValueText(const Json::Value& value) {
  if (value.isString()) return value.asString();
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

}  // namespace

bool IsSecretKey(const std::string& key) {
  const std::string lower = Lower(key);
  return std::any_of(std::begin(kSecretWords), std::end(kSecretWords),
                     [&](const char* word) { return lower.find(word) != std::string::npos; });
}

std::string MaskSecret(const std::string& value) {
  if (value.empty()) return "";
  if (value.size() < kShortestPartlyShown) return "****";
  return value.substr(0, kShownEachSide) + "****" + value.substr(value.size() - kShownEachSide);
}

Json::Value MaskedTenant(const Json::Value& tenant) {
  if (!tenant.isObject()) return tenant;
  Json::Value out(Json::objectValue);
  for (const auto& key : tenant.getMemberNames()) {
    const Json::Value& value = tenant[key];
    if (IsSecretKey(key) && !value.isNull()) {
      out[key] = MaskSecret(ValueText(value));
    } else {
      out[key] = MaskedTenant(value);
    }
  }
  return out;
}

std::string TenantText(const Json::Value& masked) {
  Rows rows;
  for (const auto& key : masked.getMemberNames()) rows.emplace_back(key, ValueText(masked[key]));
  return AlignedRows(rows);
}

}  // namespace agentctl
