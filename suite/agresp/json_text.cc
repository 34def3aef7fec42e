#include "json_text.h"

#include <exception>
#include <memory>

namespace agresp {

std::string CompactJson(const Json::Value& value) {
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  return Json::writeString(writer, value);
}

bool ParseJson(std::string_view text, Json::Value* out) {
  if (text.empty() || out == nullptr) return false;
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["failIfExtra"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(text.data(), text.data() + text.size(), out, &errors);
  } catch (const std::exception&) {
    return false;  // nesting beyond the reader's stack limit
  }
}

}  // namespace agresp
