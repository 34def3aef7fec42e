#include "core/common/secret_mask.h"

#include <cctype>

namespace {

constexpr size_t kShownAtEachEnd = 2;
constexpr size_t kShortestPartlyShown = 8;
constexpr std::string_view kHidden = "****";
constexpr std::string_view kSecretMembers[] = {"otp", "proxyPassword", "password", "passphrase", "tenantKey"};

size_t SkipSpaces(std::string_view text, size_t at) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) ++at;
  return at;
}

bool IsSecretMember(std::string_view name) {
  for (std::string_view secret : kSecretMembers) {
    if (name == secret) return true;
  }
  return false;
}

// End (one past the closing quote, or the text's end) of the string whose
// opening quote is at `open`.
size_t StringEnd(std::string_view text, size_t open) {
  for (size_t at = open + 1; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;
    } else if (text[at] == '"') {
      return at + 1;
    }
  }
  return text.size();
}

// End of a bare value (number, literal): the next ',', '}', ']' or space.
size_t BareEnd(std::string_view text, size_t at) {
  while (at < text.size() && text[at] != ',' && text[at] != '}' && text[at] != ']' &&
         std::isspace(static_cast<unsigned char>(text[at])) == 0) {
    ++at;
  }
  return at;
}

}  // namespace

std::string MaskSecret(std::string_view secret) {
  if (secret.empty()) return std::string();
  if (secret.size() < kShortestPartlyShown) return std::string(kHidden);
  std::string masked(secret.substr(0, kShownAtEachEnd));
  masked += kHidden;
  masked += secret.substr(secret.size() - kShownAtEachEnd);
  return masked;
}

std::string MaskJsonSecrets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] != '"') {
      out += text[at++];
      continue;
    }
    const size_t name_end = StringEnd(text, at);
    out.append(text.substr(at, name_end - at));
    const std::string_view name = text.substr(at + 1, name_end - at >= 2 ? name_end - at - 2 : 0);
    at = name_end;
    const size_t colon = SkipSpaces(text, at);
    if (!IsSecretMember(name) || colon >= text.size() || text[colon] != ':') continue;
    const size_t value = SkipSpaces(text, colon + 1);
    out.append(text.substr(at, value - at));
    if (value >= text.size()) break;
    const bool quoted = text[value] == '"';
    const size_t value_end = quoted ? StringEnd(text, value) : BareEnd(text, value);
    const size_t inner_begin = quoted ? value + 1 : value;
    const size_t inner_end = quoted && value_end > inner_begin && text[value_end - 1] == '"' ? value_end - 1 : value_end;
    const std::string masked = MaskSecret(text.substr(inner_begin, inner_end - inner_begin));
    out += quoted ? "\"" + masked + "\"" : masked.empty() ? std::string() : "\"" + masked + "\"";
    at = value_end;
  }
  return out;
}
