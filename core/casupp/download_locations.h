// Where the builds of the protection product and of the unified agent are
// downloaded from, and whether a downloaded build already waits on disk.
//
// One fixed record of eight 1024-byte text slots holds every known location;
// the upgrade handling fills it from the upgrade data, the peer-to-peer slots
// are filled by the distribution component. The routines here read it, pick
// a first and a second choice for the pre-install library, and build the two
// small command payloads that carry a location into the command processor.
//
// Stateless: any thread may call any routine; each reads the store and the
// tenant file anew. Caller buffers are always terminated; a location that
// does not fit is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr uint32_t DB_ID_AV_BUILD_URLS = 40;              // installed version
inline constexpr uint32_t DB_ID_AV_DOWNLOAD_RETRY_COUNT = 64;    // 4 bytes
inline constexpr uint32_t DB_ID_MINOR_UPGRADE_BUILD_URLS = 46;   // pending minor upgrade
inline constexpr uint32_t DB_ID_UA_BUILD_URLS = 69;              // unified agent

inline constexpr uint32_t kDownloadUrlBufferSize = 2084;
inline constexpr uint32_t kMinorUpgradeBuildKind = 1;
inline constexpr const char* kUaBuildPathSuffix = "/update/build/";

// Each slot is narrow (UTF-8) text, NUL-terminated, at most 1023 bytes.
inline constexpr size_t kLocationSlotBytes = 1024;
#pragma pack(push, 1)
struct DownloadLocationRecord {
  char avFromUa[kLocationSlotBytes];      // base address; kUaBuildPathSuffix is appended when used
  char avFromCdn[kLocationSlotBytes];
  char avFromServer[kLocationSlotBytes];
  char firstPeer[kLocationSlotBytes];
  char secondPeer[kLocationSlotBytes];
  char uaFromUa[kLocationSlotBytes];      // base address, as avFromUa
  char uaFromCdn[kLocationSlotBytes];
  char uaFromServer[kLocationSlotBytes];
};
#pragma pack(pop)
static_assert(sizeof(DownloadLocationRecord) == 8192);
static_assert(offsetof(DownloadLocationRecord, avFromUa) == 0x0000);
static_assert(offsetof(DownloadLocationRecord, avFromCdn) == 0x0400);
static_assert(offsetof(DownloadLocationRecord, avFromServer) == 0x0800);
static_assert(offsetof(DownloadLocationRecord, firstPeer) == 0x0C00);
static_assert(offsetof(DownloadLocationRecord, secondPeer) == 0x1000);
static_assert(offsetof(DownloadLocationRecord, uaFromUa) == 0x1400);
static_assert(offsetof(DownloadLocationRecord, uaFromCdn) == 0x1800);
static_assert(offsetof(DownloadLocationRecord, uaFromServer) == 0x1C00);

// First and second location of the protection product's build for an
// installation (record 40). `third` is only logged and may be null. False when
// the relay registration or, once registered with the relay, the tenant's CDN
// address cannot be read; true otherwise, also with both buffers empty.
bool GetUrlsforAVDownload(char* first, uint32_t firstSize, char* second, uint32_t secondSize, const char* third);
// kind 1: the pending minor upgrade (record 46; only `second` is filled);
// other kinds: the installed version (record 40). An unreadable record leaves
// the buffers untouched.
void GetAVBuildUrls(uint32_t kind, char* first, uint32_t firstSize, char* second, uint32_t secondSize);
// The unified agent's build: kind 1 record 46, other kinds record 69.
void GetUABuildUrls(uint32_t kind, char* first, uint32_t firstSize, char* second, uint32_t secondSize);
// 1 when buildinf.ini in the configuration folder says a downloaded build is
// ready ("download" = "0"), else 0. The checksums are only logged.
uint32_t IsBuildAvailable();
// Tenant "cdnURL".
bool GetCDNUrlFromDat(std::string* cdnUrl);
// Tenant "csUrl" and "csPrtNo" (as decimal text).
bool GetServerUrlFromDat(std::string* serverUrl, std::string* port);
// Advances the download retry counter (record 64).
bool UpdateRetryCountForAVDownload();

// Command payloads fed to the command processor as if the server had sent
// them: {"cmd":{"context":2,"data":{...},"id":commandId,"type":2}}.
// url1 and url2 both carry `location`.
bool getDefaultUaUrlForAv(std::string* payload, uint32_t commandId, const char* location);
// "uabld" carries `location`.
bool GetUABuildCommandPayload(std::string* payload, uint32_t commandId, const char* location);
