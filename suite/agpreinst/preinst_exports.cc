// The exports of the pre-install library. The protection product counts as
// installed when its folder exists. Installing starts the build downloader
// and installer `agbldn` (beside this library), which downloads the build,
// lays out that folder and tells the agent through its named events;
// uninstalling removes the folder. Each step is recorded in the journal.
#include <agsuite/agpreinst.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/folders.h"
#include "platform/process.h"
#include "platform/utf.h"
#include "preinst_journal.h"
#include "product_folder.h"

namespace {

constexpr const char* kBuildDownloader = "agbldn";
constexpr const char* kInPlaceMarker = "preinst_inplace";

std::string OrEmpty(const char* text) { return text != nullptr ? text : ""; }

bool FolderExists(const std::string& folder) {
  std::error_code ec;
  return std::filesystem::is_directory(folder, ec);
}

// Starts agbldn with the agent's folders and the two locations as separate
// arguments: a location is never parsed by a shell or split into words.
uint8_t StartBuildDownloader(const std::string& what, uint32_t buildKind, const char* pszUrl1, const char* pszUrl2) {
  const std::string folder = agpreinst::LibraryFolder();
  const std::string program = folder + kBuildDownloader;
  const std::string described = what + " kind=" + std::to_string(buildKind) + " url1=\"" + OrEmpty(pszUrl1) +
                                "\" url2=\"" + OrEmpty(pszUrl2) + "\" program=" + program;
  std::error_code ec;
  const std::optional<std::string> root = agpreinst::AgentRootFolder();
  if (!std::filesystem::is_regular_file(program, ec) || !root) {
    agpreinst::Record(described + (root ? " failed: not present" : " failed: no agent root"));
    return 0;
  }
  const std::vector<std::string> arguments = {"--machine-root", platform::MachineRoot(), "--root", *root, "--kind",
                                              std::to_string(buildKind), OrEmpty(pszUrl1), OrEmpty(pszUrl2)};
  const platform::ShellStartResult result = platform::StartProgram(program.c_str(), arguments, false, folder.c_str());
  agpreinst::Record(described + (result.ok ? std::string(" started") : " failed: error " + std::to_string(result.error)));
  return result.ok ? 1 : 0;
}

}  // namespace

uint8_t AGPreInstInstall(const char* pszUrl1, const char* pszUrl2, uint32_t buildKind) {
  return StartBuildDownloader("install", buildKind, pszUrl1, pszUrl2);
}

uint8_t AGPreInstIsAvInstalled() { return FolderExists(agpreinst::ProductFolder()) ? 1 : 0; }

uint8_t AGPreInstUninstall() {
  const std::string folder = agpreinst::ProductFolder();
  if (!FolderExists(folder)) {
    agpreinst::Record("uninstall folder=" + folder + " not installed");
    return 1;
  }
  if (!agpreinst::IsRemovableProductFolder(folder)) {
    agpreinst::Record("uninstall folder=" + folder + " refused: outside the machine root");
    return 0;
  }
  // Recorded before the removal: the journal may live in the product folder.
  agpreinst::Record("uninstall folder=" + folder + " removing");
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (ec || FolderExists(folder)) {
    agpreinst::Record("uninstall folder=" + folder + " failed: " + ec.message());
    return 0;
  }
  return 1;
}

uint8_t AGPreInstGetAvInstallationPath(char16_t* buffer, uint32_t sizeUnits) {
  if (buffer == nullptr) return 0;
  const auto wide = platform::Utf8ToUtf16(agpreinst::ProductFolder());
  return wide && platform::U16Copy(buffer, sizeUnits, *wide) ? 1 : 0;
}

uint8_t LaunchBuildDownloader(const char* pszUrl1, const char* pszUrl2) {
  return StartBuildDownloader("launch", 0, pszUrl1, pszUrl2);
}

uint8_t PreInstallCleanUpCheck() {
  const auto temp = agpreinst::AgentTempFolder();
  std::error_code ec;
  return temp && std::filesystem::exists(*temp + kInPlaceMarker, ec) ? 1 : 0;
}
