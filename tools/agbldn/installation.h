// What the installer leaves behind for the agent: buildinf.ini in the
// configuration folder, the protection product's folder, reboot.ini after a
// minor upgrade, INSTSTS.JSON and the "INSTALL"/"RESULT" of agbldn.ini in the
// agent root, and the named events the agent's installation-status thread
// waits on. Every file is replaced whole; paths come from the support and
// pre-install libraries, so the agent and agbldn always agree on them.
#pragma once

#include <cstdint>
#include <string>

namespace agbldn {

// RESULT values of agbldn.ini; 1 makes the agent report at once.
inline constexpr uint32_t kResultInstalled = 1;
inline constexpr uint32_t kResultDownloadFailed = 2;
inline constexpr uint32_t kResultInstallFailed = 3;

inline constexpr const char* kEventDownloadStatus = "Global\\VXAV_Download_Status";
inline constexpr const char* kEventDownloadFailed = "Global\\VXAV_Download_Failed";
inline constexpr const char* kEventInstallationStatus = "Global\\VXAV_Installation_Status";

struct AgentFolders {
  std::string root;    // each with a trailing '/'
  std::string config;
  std::string temp;
  std::string product;
};

// Reads the folders from the support and pre-install libraries; false when
// one is not available.
bool LocateFolders(AgentFolders* folders);

bool ProductInstalled(const AgentFolders& folders);

// buildinf.ini: "download" 0 once the build is on disk (1 otherwise) and
// the build's checksum.
bool WriteBuildInfo(const AgentFolders& folders, bool downloaded, uint32_t checksum);
// True when buildinf.ini says the build was downloaded and it is still there.
bool BuildAlreadyDownloaded(const AgentFolders& folders);

// Lays out the product folder from the build: the build itself and the
// product's status.json (its "version" taken from the build when the build
// is a JSON object that names one). `detail` tells what went wrong.
bool InstallProduct(const AgentFolders& folders, const std::string& build, std::string* detail);
// After a minor upgrade the agent reports once more after the reboot.
bool MarkRebootPending(const AgentFolders& folders);
// {"app":1,"dt":<ms>,"ecd":1}, as the agent reads it for its install notification.
bool WriteInstallationStatusFile(const AgentFolders& folders);
bool WriteInstallResult(const AgentFolders& folders, uint32_t result);

// Sets a named event the agent holds; false (with the reason) when nobody
// holds it, which is no failure of the installation.
bool SetAgentEvent(const char* name, std::string* detail);

}  // namespace agbldn
