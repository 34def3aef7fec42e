#include "tools/agbldn/installation.h"

#include <agsuite/agmisc.h>
#include <agsuite/agpreinst.h>
#include <fcntl.h>
#include <json/json.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/named_event.h"
#include "platform/utf.h"
#include "tools/agbldn/build_download.h"

namespace agbldn {
namespace {

constexpr uint32_t kPathUnits = 260;
constexpr const char16_t* kBuildInfoSection = u"agbldn_info";

std::optional<std::string> Folder(uint8_t (*query)(char16_t*, uint32_t)) {
  char16_t buffer[kPathUnits] = {};
  if (!query(buffer, kPathUnits)) return std::nullopt;
  std::optional<std::string> utf8 = platform::Utf16ToUtf8(buffer);
  if (!utf8 || utf8->empty()) return std::nullopt;
  if (utf8->back() != '/') *utf8 += '/';
  return utf8;
}

std::u16string Wide(const std::string& text) { return platform::Utf8ToUtf16(text).value_or(u""); }

bool WriteIni(const std::string& file, const char16_t* section, const char16_t* key, const std::string& value) {
  return platform::WritePrivateProfileStringW(section, key, Wide(value).c_str(), Wide(file).c_str());
}

// Replaces `path` with `text` (0600): written beside it, then renamed.
bool WriteWhole(const std::string& path, const std::string& text) {
  const std::string partial = path + ".part";
  const int fd = open(partial.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = close(fd) == 0;
  if (!written || !closed || std::rename(partial.c_str(), path.c_str()) != 0) {
    unlink(partial.c_str());
    return false;
  }
  return true;
}

// The build is what the server handed over. The JSON reader throws rather
// than recurse past its depth limit: such a build names no version, like any
// other build that is not a JSON object.
std::string VersionOf(const std::string& build) {
  std::ifstream in(build, std::ios::binary);
  Json::Value value;
  Json::CharReaderBuilder reader;
  std::string errors;
  try {
    if (in && Json::parseFromStream(reader, in, &value, &errors) && value.isObject() && value["version"].isString()) {
      return value["version"].asString();
    }
  } catch (const std::exception&) {
  }
  return "unknown";
}

}  // namespace

bool LocateFolders(AgentFolders* folders) {
  const auto root = Folder(GetClientAgentRootDir);
  const auto config = Folder(GetClientAgentConfigDir);
  const auto temp = Folder(GetClientAgentTempDir);
  const auto product = Folder(AGPreInstGetAvInstallationPath);
  if (!root || !config || !temp || !product) return false;
  *folders = AgentFolders{*root, *config, *temp, *product};
  std::error_code ec;
  std::filesystem::create_directories(folders->config, ec);
  std::filesystem::create_directories(folders->temp, ec);
  return true;
}

bool ProductInstalled(const AgentFolders& folders) {
  std::error_code ec;
  return std::filesystem::is_directory(folders.product, ec);
}

bool WriteBuildInfo(const AgentFolders& folders, bool downloaded, uint32_t checksum) {
  const std::string file = folders.config + "buildinf.ini";
  return WriteIni(file, kBuildInfoSection, u"download", downloaded ? "0" : "1") &&
         WriteIni(file, kBuildInfoSection, u"build.exe", std::to_string(checksum));
}

bool BuildAlreadyDownloaded(const AgentFolders& folders) {
  char16_t value[16] = {};
  const std::u16string file = Wide(folders.config + "buildinf.ini");
  platform::GetPrivateProfileStringW(kBuildInfoSection, u"download", u"1", value, 16, file.c_str());
  std::error_code ec;
  return std::u16string_view(value) == u"0" &&
         std::filesystem::is_regular_file(folders.temp + kBuildFileName, ec);
}

bool InstallProduct(const AgentFolders& folders, const std::string& build, std::string* detail) {
  std::error_code ec;
  std::filesystem::create_directories(folders.product, ec);
  if (ec) {
    *detail = "cannot create " + folders.product + ": " + ec.message();
    return false;
  }
  std::filesystem::copy_file(build, folders.product + "avscan", std::filesystem::copy_options::overwrite_existing,
                             ec);
  if (ec) {
    *detail = "cannot copy the build: " + ec.message();
    return false;
  }
  Json::Value status(Json::objectValue);
  status["version"] = VersionOf(build);
  status["realtime"] = true;
  if (!WriteWhole(folders.product + "status.json", Json::FastWriter().write(status))) {
    *detail = "cannot write status.json";
    return false;
  }
  *detail = "version " + status["version"].asString() + " in " + folders.product;
  return true;
}

bool MarkRebootPending(const AgentFolders& folders) {
  return WriteWhole(folders.product + "reboot.ini", "[REBOOT]\nPending=1\n");
}

bool WriteInstallationStatusFile(const AgentFolders& folders) {
  Json::Value info(Json::objectValue);
  info["app"] = 1;
  info["dt"] = Json::Int64(platform::GetClock().NowSeconds() * 1000);
  info["ecd"] = 1;
  return WriteWhole(folders.root + "INSTSTS.JSON", Json::FastWriter().write(info));
}

bool WriteInstallResult(const AgentFolders& folders, uint32_t result) {
  return WriteIni(folders.root + "agbldn.ini", u"INSTALL", u"RESULT", std::to_string(result));
}

bool SetAgentEvent(const char* name, std::string* detail) {
  uint32_t error = 0;
  const std::unique_ptr<platform::NamedEvent> event = platform::NamedEvent::OpenExisting(name, &error);
  if (!event) {
    *detail = platform::ErrorText(error);
    return false;
  }
  if (!event->Set()) {
    *detail = platform::ErrorText(platform::ErrorFromErrno(errno));
    return false;
  }
  return true;
}

}  // namespace agbldn
