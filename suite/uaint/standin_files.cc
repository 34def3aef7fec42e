#include "standin_files.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/registry.h"
#include "platform/utf.h"

namespace uaint {
namespace {

constexpr char16_t kAppPathsKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\UAAGENT.EXE";

std::string WithTrailingSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string StandInFolder() {
  platform::RegistryKey key;
  std::u16string folder;
  if (key.Open(platform::RegistryHive::kLocalMachine, kAppPathsKey, platform::RegistryAccess::kQuery) == 0 &&
      key.ReadString(u"Path", &folder) == 0 && !folder.empty()) {
    return WithTrailingSlash(platform::Utf16ToUtf8(folder).value_or(std::string()));
  }
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&StandInFolder), &info) == 0 || info.dli_fname == nullptr) return "./";
  return WithTrailingSlash(std::filesystem::path(info.dli_fname).parent_path().string());
}

std::map<std::string, std::string> ReadSettings() {
  std::map<std::string, std::string> settings;
  std::ifstream file(StandInFolder() + "uaint.conf");
  std::string line;
  while (std::getline(file, line)) {
    const auto equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
    settings[Trim(line.substr(0, equals))] = Trim(line.substr(equals + 1));
  }
  return settings;
}

void AppendToJournal(const Json::Value& call) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  const std::string line = Json::writeString(builder, call) + "\n";
  static std::mutex journal_mutex;
  std::lock_guard lock(journal_mutex);
  std::ofstream journal(StandInFolder() + "uaint-calls.jsonl", std::ios::app | std::ios::binary);
  journal << line;
}

}  // namespace uaint
