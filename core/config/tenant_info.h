// CTenantInfo: the process-wide, reference-counted store of the tenant file
// "clagnt.dat" (Base64 of Blowfish-ECB-encrypted JSON).
#pragma once

#include <json/json.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

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

  // folder null: the agent root folder.
  bool PopulateTenantInfo(const char16_t* folder);

  // Typed look-ups; the out value is a new heap block (malloc) the caller frees.
  bool GetTenantInfoOfGivenKey(const char* key, char** value) const;
  bool GetTenantInfoOfGivenKey(const char* key, uint32_t** value) const;
  bool GetTenantInfoOfGivenKey(const char* key, bool** value) const;

 private:
  CTenantInfo() = default;
  // Content is swapped whole on re-read so that look-ups on other threads
  // keep the content they started with.
  std::shared_ptr<const Json::Value> root() const;
  mutable std::mutex contentMutex_;
  std::shared_ptr<const Json::Value> root_;
  std::u16string path_;
};

bool GetValueFromTenantInfo(const char* key, char* buffer, uint32_t size);

// Tenant file codec (also used by the agtenant tool and the fuzz target).
// Decode: Base64 text -> plain JSON text; nullopt when unreadable.
std::optional<std::string> DecodeTenantFile(const std::string& fileBytes);
std::string EncodeTenantFile(const std::string& plainJson);
