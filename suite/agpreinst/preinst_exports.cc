// The exports of the pre-install library. The protection product counts as
// installed when its folder exists; "installing" creates that folder and
// "uninstalling" removes it, each recorded in the journal, which is all the
// agent needs of a product it only reports on.
#include <agsuite/agpreinst.h>

#include <filesystem>
#include <string>
#include <system_error>

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

}  // namespace

uint8_t AGPreInstInstall(const char* pszUrl1, const char* pszUrl2, uint32_t buildKind) {
  const std::string folder = agpreinst::ProductFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const bool installed = FolderExists(folder);
  agpreinst::Record("install kind=" + std::to_string(buildKind) + " url1=\"" + OrEmpty(pszUrl1) + "\" url2=\"" +
                    OrEmpty(pszUrl2) + "\" folder=" + folder + (installed ? " done" : " failed: " + ec.message()));
  return installed ? 1 : 0;
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
  const std::string folder = agpreinst::LibraryFolder();
  const std::string program = folder + kBuildDownloader;
  const std::string parameters = "\"" + OrEmpty(pszUrl1) + "\" \"" + OrEmpty(pszUrl2) + "\"";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(program, ec)) {
    agpreinst::Record("launch " + program + " " + parameters + " failed: not present");
    return 0;
  }
  const platform::ShellStartResult result =
      platform::ShellStart(program.c_str(), "open", parameters.c_str(), false, false, folder.c_str());
  agpreinst::Record("launch " + program + " " + parameters +
                    (result.ok ? std::string(" started") : " failed: error " + std::to_string(result.error)));
  return result.ok ? 1 : 0;
}

uint8_t PreInstallCleanUpCheck() {
  const auto temp = agpreinst::AgentTempFolder();
  std::error_code ec;
  return temp && std::filesystem::exists(*temp + kInPlaceMarker, ec) ? 1 : 0;
}
