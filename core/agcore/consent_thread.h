// The consent thread and the heartbeat's consent check: start the build
// downloader once a user is logged on and a consented major upgrade waits.
#pragma once

#include <cstdint>

uint32_t LaunchConsentDlgThread();
uint8_t CheckAndLaunchConsentPromt();
