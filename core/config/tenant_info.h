// CTenantInfo: the process-wide, reference-counted store of the tenant file
// "clagnt.dat" (Base64 of Blowfish-ECB-encrypted JSON, see tenant_codec.h).
//
// Ownership: getInstance hands out a reference that the caller gives back
// with release(); the last release destroys the instance. Values returned by
// GetTenantInfoOfGivenKey are malloc'd copies that the caller frees with free().
//
// Threads: any thread may call every member. One lock guards the instance
// slot, the re-reads and the reference counts. Look-ups do not take it: each
// one works on a snapshot of the parsed content, which a re-read replaces as
// a whole, so a look-up racing a re-read sees either the old or the new file.
// A failed re-read takes the instance out of the slot; holders of references
// keep a valid instance with the content it had until they release it.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "core/config/tenant_codec.h"

inline constexpr const char* TENANT_INFO_TENANT_ID = "tenantId";
inline constexpr const char* TENANT_INFO_CLIENT_LOCALE = "locale";
inline constexpr const char* TENANT_INFO_TENANT_CSURL = "csmUrl";
inline constexpr const char* TENANT_INFO_PROXY_SERVER = "proxyServer";
inline constexpr const char* TENANT_INFO_PROXY_PORT = "proxyPort";
inline constexpr const char* TENANT_INFO_PROXY_USER = "proxyUserName";
inline constexpr const char* TENANT_INFO_PROXY_PASS = "proxyPassword";
inline constexpr const char* kTenantFileName = "clagnt.dat";

class CTenantInfo {
 public:
  // Takes a reference; with reRead the file is read again. Null on failure.
  static CTenantInfo* getInstance(bool reRead);
  static void release(CTenantInfo* instance);

  // folder null: the agent root folder. A given folder ends in a separator.
  bool PopulateTenantInfo(const char16_t* folder);

  // Typed look-ups; the out value is a new heap block (malloc) the caller frees.
  bool GetTenantInfoOfGivenKey(const char* key, char** value) const;
  bool GetTenantInfoOfGivenKey(const char* key, uint32_t** value) const;
  bool GetTenantInfoOfGivenKey(const char* key, bool** value) const;

  CTenantInfo(const CTenantInfo&) = delete;
  CTenantInfo& operator=(const CTenantInfo&) = delete;

 private:
  CTenantInfo() = default;
  ~CTenantInfo() = default;
  // The current content; null before the first successful read.
  std::shared_ptr<const Json::Value> root() const;

  mutable std::mutex contentMutex_;
  std::shared_ptr<const Json::Value> root_;  // guarded by contentMutex_
  std::u16string path_;                      // guarded by contentMutex_
  uint32_t refCount_ = 0;                    // guarded by the slot lock
};

bool GetValueFromTenantInfo(const char* key, char* buffer, uint32_t size);

// A reference on the store for the life of a scope (null when getInstance
// failed); the routines that hold the store across several look-ups use it.
class ScopedTenantInfo {
 public:
  explicit ScopedTenantInfo(bool reRead) : info_(CTenantInfo::getInstance(reRead)) {}
  ~ScopedTenantInfo() { CTenantInfo::release(info_); }
  ScopedTenantInfo(const ScopedTenantInfo&) = delete;
  ScopedTenantInfo& operator=(const ScopedTenantInfo&) = delete;
  CTenantInfo* get() const { return info_; }
  CTenantInfo* operator->() const { return info_; }
  explicit operator bool() const { return info_ != nullptr; }

 private:
  CTenantInfo* info_;
};

// Owns one value handed out by GetTenantInfoOfGivenKey.
template <typename T>
struct TenantInfoValue {
  TenantInfoValue() = default;
  ~TenantInfoValue() { std::free(value); }
  TenantInfoValue(const TenantInfoValue&) = delete;
  TenantInfoValue& operator=(const TenantInfoValue&) = delete;
  T* value = nullptr;
};
