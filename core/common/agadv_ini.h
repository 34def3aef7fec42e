// The agent's advanced INI file "agadv.ini" in the configuration folder,
// shared with the agent's other components.
#pragma once

#include <string>

inline constexpr const char16_t* kAgAdvIniName = u"agadv.ini";
inline constexpr const char16_t* kAvConfigFlagsSection = u"AV_CONFIG_FLAGS";
inline constexpr const char16_t* kAdvSection = u"ADMIN_CONSOLE_CLIENT_AGENT_ADV_SECTION";

// Configuration folder + "agadv.ini", bounded to 260 units; false with the
// log line "GetClientAgentConfigDir failed" when the folder is unavailable,
// "StringCchCatW failed for FILENAME_AGADV_INI." when the path is too long.
bool GetAgAdvIniPath(std::u16string* path);
