#include "product_folder.h"

#include <agsuite/agmisc.h>
#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/utf.h"

namespace agpreinst {
namespace {

constexpr char16_t kProductAppPathsKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\avscan.exe";
constexpr char16_t kPathValue[] = u"Path";
constexpr const char* kDefaultProductSubfolder = "opt/vornex/";
constexpr uint32_t kPathUnits = 260;

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string ProductFolder() {
  platform::RegistryKey key;
  std::u16string registered;
  if (key.Open(platform::RegistryHive::kLocalMachine, kProductAppPathsKey, platform::RegistryAccess::kQuery) ==
          platform::kErrorSuccess &&
      key.ReadString(kPathValue, &registered) == platform::kErrorSuccess && !registered.empty()) {
    if (auto utf8 = platform::Utf16ToUtf8(registered); utf8 && !utf8->empty()) return WithTrailingSlash(*utf8);
  }
  return platform::MachineRoot() + kDefaultProductSubfolder;
}

namespace {

std::optional<std::string> AgentFolder(uint8_t (*query)(char16_t*, uint32_t)) {
  char16_t buffer[kPathUnits] = {};
  if (!query(buffer, kPathUnits)) return std::nullopt;
  auto utf8 = platform::Utf16ToUtf8(buffer);
  if (!utf8 || utf8->empty()) return std::nullopt;
  return WithTrailingSlash(*utf8);
}

}  // namespace

std::optional<std::string> AgentTempFolder() { return AgentFolder(GetClientAgentTempDir); }

std::optional<std::string> AgentRootFolder() { return AgentFolder(GetClientAgentRootDir); }

std::string LibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || info.dli_fname == nullptr) {
    return platform::ModuleFolder();
  }
  return WithTrailingSlash(std::filesystem::path(info.dli_fname).parent_path().string());
}

bool IsRemovableProductFolder(const std::string& folder) {
  std::error_code ec;
  const auto root = std::filesystem::weakly_canonical(platform::MachineRoot(), ec);
  if (ec) return false;
  const auto target = std::filesystem::weakly_canonical(folder, ec);
  if (ec) return false;
  const auto relative = target.lexically_relative(root);
  if (relative.empty() || relative == "." || relative.native().starts_with("..")) return false;
  return true;
}

}  // namespace agpreinst
