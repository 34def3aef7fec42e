// agbldn: the build downloader and installer of the protection product, as
// the pre-install library starts it.
//
//   agbldn [--machine-root DIR] --root DIR [--kind N] LOCATION1 LOCATION2
//
// Downloads "build.exe" from the first location that gives it (kind 1 with a
// build already downloaded skips this), records it in buildinf.ini, lays out
// the product's folder, marks a minor upgrade for the report after its
// reboot, writes INSTSTS.JSON and agbldn.ini RESULT, and sets the agent's
// named events. Every step is one line on stdout and in <temp>/agbldn.log.
//
// One installation at a time: a second agbldn started while one runs (the
// agent asks again on every heartbeat until the product is there) leaves at
// once, so the agent hears of one installation once.
//
// Exit codes: 0 installed, 1 usage, 2 agent folders unavailable, 3 download
// failed, 4 installation failed, 5 another agbldn is installing, 6 the
// product is already installed and no upgrade is pending.
#include <agsuite/agmisc.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/folders.h"
#include "tools/agbldn/build_download.h"
#include "tools/agbldn/installation.h"

namespace {

enum ExitCode {
  kInstalled = 0,
  kBadUsage = 1,
  kNoFolders = 2,
  kDownloadFailed = 3,
  kInstallFailed = 4,
  kBusy = 5,
  kAlreadyInstalled = 6,
};

constexpr const char* kUsage =
    "usage: agbldn [--machine-root DIR] --root DIR [--kind N] LOCATION1 LOCATION2\n"
    "Downloads build.exe from LOCATION1 (else LOCATION2), installs the protection product\n"
    "and tells the agent. Kind 1 installs a build downloaded before. Exit codes: 0 installed,\n"
    "1 usage, 2 agent folders unavailable, 3 download failed, 4 installation failed,\n"
    "5 another agbldn is installing, 6 already installed and no upgrade pending.\n";

constexpr uint32_t kMinorUpgradeType = 1;
constexpr uint32_t kMajorUpgradeType = 2;
constexpr uint32_t kInPlaceBuildKind = 1;

struct Arguments {
  std::string root;
  uint32_t kind = 0;
  std::vector<std::string> locations;
};

bool Parse(int argc, char** argv, Arguments* arguments) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    const bool has_value = i + 1 < argc;
    if (word == "--machine-root" && has_value) {
      platform::SetMachineRoot(argv[++i]);
    } else if (word == "--root" && has_value) {
      arguments->root = argv[++i];
    } else if (word == "--kind" && has_value) {
      arguments->kind = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (word.starts_with("--")) {
      return false;
    } else {
      arguments->locations.emplace_back(word);
    }
  }
  return !arguments->root.empty() && arguments->locations.size() == 2;
}

// One line per step on stdout and, once the folders are known, in the log.
class StepLog {
 public:
  void OpenIn(const std::string& folder) { file_.open(folder + "agbldn.log", std::ios::app); }
  void Line(const std::string& text) {
    const time_t now = static_cast<time_t>(platform::GetClock().NowSeconds());
    struct tm utc {};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::printf("agbldn: %s\n", text.c_str());
    std::fflush(stdout);
    if (file_) file_ << stamp << ' ' << text << std::endl;
  }

 private:
  std::ofstream file_;
};

void TellAgent(StepLog& log, const char* event) {
  std::string detail;
  if (agbldn::SetAgentEvent(event, &detail)) {
    log.Line(std::string("set ") + event);
  } else {
    log.Line(std::string("could not set ") + event + ": " + detail);
  }
}

int Fail(StepLog& log, const agbldn::AgentFolders& folders, uint32_t result, const char* event, int code) {
  if (!agbldn::WriteInstallResult(folders, result)) log.Line("cannot write agbldn.ini");
  TellAgent(log, event);
  log.Line("exit " + std::to_string(code));
  return code;
}

// The build on disk, from the locations or (kind 1) from an earlier download.
bool ObtainBuild(StepLog& log, const Arguments& arguments, const agbldn::AgentFolders& folders,
                 const std::string& build) {
  if (arguments.kind == kInPlaceBuildKind && agbldn::BuildAlreadyDownloaded(folders)) {
    log.Line("using the build downloaded before: " + build);
    return true;
  }
  for (const std::string& location : arguments.locations) {
    if (location.empty()) continue;
    const agbldn::DownloadResult result = agbldn::DownloadBuild(location, build);
    log.Line((result.ok ? "downloaded " : "download from " + location + " failed: ") + result.detail);
    if (result.ok) return true;
  }
  return false;
}

// Held for the life of the process; the kernel drops it when agbldn ends.
bool TakeInstallerLock(const std::string& temp_folder) {
  const int fd = open((temp_folder + "agbldn.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (!Parse(argc, argv, &arguments)) {
    std::fputs(kUsage, stderr);
    return kBadUsage;
  }
  StepLog log;
  agbldn::AgentFolders folders;
  if (!AGMiscSetAgentRoot(arguments.root.c_str()) || !agbldn::LocateFolders(&folders)) {
    log.Line("the agent's folders are not available under " + arguments.root);
    return kNoFolders;
  }
  log.OpenIn(folders.temp);
  if (!TakeInstallerLock(folders.temp)) {
    log.Line("another agbldn is installing; leaving it to finish");
    return kBusy;
  }
  uint32_t upgrade_type = 0;
  if (!GetClientUpgradeType(&upgrade_type)) upgrade_type = 0;
  // An agbldn started just before another one finished finds its work done.
  if (agbldn::ProductInstalled(folders) && upgrade_type != kMinorUpgradeType && upgrade_type != kMajorUpgradeType) {
    log.Line("the protection product is already installed and no upgrade is pending");
    return kAlreadyInstalled;
  }
  log.Line("start kind=" + std::to_string(arguments.kind) + " location1=\"" + arguments.locations[0] +
           "\" location2=\"" + arguments.locations[1] + "\"");

  curl_global_init(CURL_GLOBAL_DEFAULT);
  const std::string build = folders.temp + agbldn::kBuildFileName;
  const bool obtained = ObtainBuild(log, arguments, folders, build);
  curl_global_cleanup();
  const uint32_t checksum = obtained ? agbldn::FileChecksum(build).value_or(0) : 0;
  if (!agbldn::WriteBuildInfo(folders, obtained, checksum)) log.Line("cannot write buildinf.ini");
  if (!obtained) {
    log.Line("no location gave the build");
    return Fail(log, folders, agbldn::kResultDownloadFailed, agbldn::kEventDownloadFailed, kDownloadFailed);
  }
  log.Line("buildinf.ini: download=0 build.exe=" + std::to_string(checksum));
  TellAgent(log, agbldn::kEventDownloadStatus);

  std::string detail;
  if (!agbldn::InstallProduct(folders, build, &detail)) {
    log.Line("installation failed: " + detail);
    return Fail(log, folders, agbldn::kResultInstallFailed, agbldn::kEventInstallationStatus, kInstallFailed);
  }
  log.Line("installed the protection product, " + detail);
  if (upgrade_type == kMinorUpgradeType) {
    log.Line(agbldn::MarkRebootPending(folders) ? "minor upgrade: reboot.ini written, reported again after the reboot"
                                                : "minor upgrade: cannot write reboot.ini");
  }
  if (!agbldn::WriteInstallationStatusFile(folders)) log.Line("cannot write INSTSTS.JSON");
  if (!agbldn::WriteInstallResult(folders, agbldn::kResultInstalled)) log.Line("cannot write agbldn.ini");
  log.Line("agbldn.ini: RESULT=" + std::to_string(agbldn::kResultInstalled));
  TellAgent(log, agbldn::kEventInstallationStatus);
  log.Line("exit 0");
  return kInstalled;
}
