#include "core/common/agadv_ini.h"

#include "core/common/aglog.h"
#include "core/siblings/siblings.h"
#include "platform/utf.h"

bool GetAgAdvIniPath(std::u16string* path) {
  char16_t folder[260] = {};
  if (!Siblings().support->GetClientAgentConfigDir(folder, 260)) {
    AGLOG(AG_LOG_FAILURE, "GetClientAgentConfigDir failed");
    return false;
  }
  std::u16string result(folder, platform::U16Length(folder, 260));
  result += kAgAdvIniName;
  if (result.size() >= 260) {
    AGLOG(AG_LOG_FAILURE, "StringCchCatW failed for FILENAME_AGADV_INI.");
    return false;
  }
  *path = std::move(result);
  return true;
}
