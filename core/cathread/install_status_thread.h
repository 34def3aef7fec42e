// The installation-status thread: turns the installer's and upgrade tools'
// named events into tasks until the clean-up event is signalled.
#pragma once

#include <cstdint>

struct CaCoreParam;

uint32_t CaAvInstallStatusThread(const CaCoreParam* param);
