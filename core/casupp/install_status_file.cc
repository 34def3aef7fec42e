#include "core/casupp/install_status_file.h"

#include <json/json.h>

#include <exception>

InstallStatusKeys ReadInstallStatusKeys(std::string_view text) {
  InstallStatusKeys keys;
  Json::Value data;
  // The reader throws rather than recurse past its depth limit: such a file
  // is as broken as one that does not parse, and leaves the defaults.
  try {
    if (!Json::Reader().parse(text.data(), text.data() + text.size(), data) || !data.isObject()) return keys;
  } catch (const std::exception&) {
    return keys;
  }
  if (data["app"].isInt()) keys.app = data["app"].asInt();
  if (data["ecd"].isInt()) keys.ecd = data["ecd"].asInt();
  return keys;
}
