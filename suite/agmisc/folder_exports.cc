// Agent folders and the proxy record of the library's C interface.
#include <agsuite/agmisc.h>

#include "agent_folders.h"
#include "agmisc_log.h"
#include "platform/folders.h"
#include "proxy_file.h"
#include "store_pool.h"

namespace {

uint8_t CopyFolder(agmisc::AgentFolder folder, char16_t* buffer, uint32_t sizeUnits) {
  if (buffer == nullptr || sizeUnits == 0) return 0;
  const auto path = agmisc::AgentFolderPath(folder);
  if (!path) {
    buffer[0] = u'\0';
    return 0;
  }
  return agmisc::CopyPathToUtf16(*path, buffer, sizeUnits) ? 1 : 0;
}

}  // namespace

extern "C" {

uint8_t AGMiscSetAgentRoot(const char* pszRootUtf8) {
  if (pszRootUtf8 == nullptr || !agmisc::SetAgentRoot(pszRootUtf8)) return 0;
  // Connections to the previous root's store are of no further use.
  agmisc::DropIdleStores();
  return 1;
}

uint8_t GetClientAgentRootDir(char16_t* buffer, uint32_t sizeUnits) {
  return CopyFolder(agmisc::AgentFolder::kRoot, buffer, sizeUnits);
}
uint8_t GetClientAgentConfigDir(char16_t* buffer, uint32_t sizeUnits) {
  return CopyFolder(agmisc::AgentFolder::kConfig, buffer, sizeUnits);
}
uint8_t GetClientAgentTempDir(char16_t* buffer, uint32_t sizeUnits) {
  return CopyFolder(agmisc::AgentFolder::kTemp, buffer, sizeUnits);
}
uint8_t GetClientAgentLogDir(char16_t* buffer, uint32_t sizeUnits) {
  return CopyFolder(agmisc::AgentFolder::kLogs, buffer, sizeUnits);
}

uint8_t GetModulePathW(char16_t* buffer, uint32_t sizeUnits) {
  if (buffer == nullptr || sizeUnits == 0) return 0;
  std::string folder = platform::ModuleFolder();
  if (folder.empty()) {
    AGMISC_LOG(AG_LOG_FAILURE, "The folder of the executable is not known");
    buffer[0] = u'\0';
    return 0;
  }
  if (folder.back() != '/') folder += '/';
  return agmisc::CopyPathToUtf16(folder, buffer, sizeUnits) ? 1 : 0;
}

uint8_t WriteProxySettings(const AgProxySettings* settings) {
  if (settings == nullptr) return 0;
  return agmisc::WriteProxyFile(*settings) ? 1 : 0;
}

uint8_t ReadProxySettings(AgProxySettings* settings) {
  if (settings == nullptr) return 0;
  return agmisc::ReadProxyFile(settings) ? 1 : 0;
}

}  // extern "C"
