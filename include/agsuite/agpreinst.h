// The pre-install library (libagpreinst): installs, detects and removes the
// protection product, starts the build downloader, and answers the clean-up
// check. The protection product counts as installed when its folder exists.
#pragma once

#include <cstdint>

#define AG_SUITE_EXPORT __attribute__((visibility("default")))

extern "C" {
// Starts the product installation from up to two download locations.
AG_SUITE_EXPORT uint8_t AGPreInstInstall(const char* pszUrl1, const char* pszUrl2, uint32_t buildKind);
AG_SUITE_EXPORT uint8_t AGPreInstIsAvInstalled();
AG_SUITE_EXPORT uint8_t AGPreInstUninstall();
// Product installation folder (UTF-16, ending in a separator).
AG_SUITE_EXPORT uint8_t AGPreInstGetAvInstallationPath(char16_t* buffer, uint32_t sizeUnits);
// Starts the build downloader "agbldn" with the two build URLs.
AG_SUITE_EXPORT uint8_t LaunchBuildDownloader(const char* pszUrl1, const char* pszUrl2);
// True when clean-up must leave the task pool, the heartbeat thread and the
// RP client object running (an installer is replacing the agent in place).
AG_SUITE_EXPORT uint8_t PreInstallCleanUpCheck();
}
