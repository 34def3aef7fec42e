// Temporary bodies so the core links; replaced by the real library.
#include <agsuite/agmisc.h>

extern "C" {
uint8_t AGMiscSetAgentRoot(const char*) { return 0; }
uint8_t CLOpenDatabase(CLDBHANDLE*) { return 0; }
uint8_t CLCloseDatabase(CLDBHANDLE) { return 0; }
uint8_t CLGetDataByType(CLDBHANDLE, uint32_t, uint32_t, uint32_t, void*) { return 0; }
uint8_t CLSetDataByType(CLDBHANDLE, uint32_t, uint32_t, uint32_t, const void*) { return 0; }
uint8_t CLDeleteDataById(CLDBHANDLE, uint32_t) { return 0; }
uint8_t CLSetPendingCommand(CLDBHANDLE, uint32_t, uint32_t, uint32_t, const void*) { return 0; }
uint8_t CLGetPendingTasks(CLDBHANDLE, CLPendingTaskList**) { return 0; }
uint8_t CLFreePendingTasks(CLPendingTaskList*) { return 0; }
uint8_t CLCompletePendingTask(CLDBHANDLE, uint64_t) { return 0; }
uint8_t CLReturnPendingTask(CLDBHANDLE, uint64_t) { return 0; }
uint8_t CLGetDataByEvtID(CLDBHANDLE, uint32_t, int32_t*, int64_t*) { return 0; }
uint8_t CLAddEventLastSync(CLDBHANDLE, uint32_t, int32_t, int64_t) { return 0; }
uint8_t GetClientGUID(char*, uint32_t) { return 0; }
uint8_t SetClientGUID(const char*) { return 0; }
uint8_t GetClientGUIDText(char*, uint32_t) { return 0; }
uint8_t GetClientUDI(char*, uint32_t) { return 0; }
uint8_t SetClientUDI(const char*) { return 0; }
uint8_t EncryptTenantId(const char*, char*, uint32_t) { return 0; }
uint8_t GetProductIDForXUA(char*, uint32_t) { return 0; }
uint8_t GetClientAgentRootDir(char16_t*, uint32_t) { return 0; }
uint8_t GetClientAgentConfigDir(char16_t*, uint32_t) { return 0; }
uint8_t GetClientAgentTempDir(char16_t*, uint32_t) { return 0; }
uint8_t GetClientAgentLogDir(char16_t*, uint32_t) { return 0; }
uint8_t GetModulePathW(char16_t*, uint32_t) { return 0; }
uint8_t WriteProxySettings(const AgProxySettings*) { return 0; }
uint8_t ReadProxySettings(AgProxySettings*) { return 0; }
uint32_t GetClientAgentGlobalInfoFromINI(uint32_t, const char16_t*, uint32_t, void*) { return 0; }
uint32_t SetClientAgentGlobalInfoToINI(uint32_t, const char16_t*, uint32_t, const void*) { return 0; }
uint8_t GetUpgrdCmdInfoFromINI(uint32_t, AgUpgradeCmdRecord*) { return 0; }
uint8_t SetUpgrdCmdInfoToINI(uint32_t, const AgUpgradeCmdRecord*) { return 0; }
uint8_t GetClientUpgradeType(uint32_t*) { return 0; }
uint8_t SetClientUpgradeType(uint32_t) { return 0; }
uint8_t SetClientAutoUpgrade(uint32_t) { return 0; }
uint8_t GetAVUpgradeStatus(uint32_t*) { return 0; }
uint8_t GetClientRegStatus(uint32_t*, uint8_t) { return 0; }
uint8_t SetClientRegStatus(uint32_t, uint8_t) { return 0; }
uint8_t GetClientConnectionStatus(uint32_t*) { return 0; }
uint8_t SetClientConnectionStatus(uint32_t) { return 0; }
uint8_t SetLastConnectedTime(uint64_t) { return 0; }
uint8_t GetPTPStatus(uint8_t*) { return 0; }
uint8_t GetIsWebServerInstalled(uint8_t*) { return 0; }
uint8_t GetgetURLReducedClientHBMaxCount(uint32_t*) { return 0; }
uint8_t GetgetURLReducedClientHBValue(uint32_t*) { return 0; }
uint8_t GetAVDownloadUrlSrc(uint32_t*) { return 0; }
uint8_t GetOrSetAssetTagName(char*, uint32_t, uint8_t*, uint32_t) { return 0; }
}
