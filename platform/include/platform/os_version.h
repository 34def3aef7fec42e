// The Windows version the agent believes it runs on, and the version tests
// that pick behaviour from it (whether start-up repairs the secure-protocol
// setting, whether named objects carry "Global\\", how a logged-on user is
// detected).
//
// The tests are pure functions over an OsVersionRecord, so they are tested
// on any record. The record itself comes from a replaceable source: by default
// a Windows 10 workstation (NT platform 10.0, build 19045) on the processor
// this process runs on; tests and the service host may install another with
// SetOsVersionRecord (or ScopedOsVersionRecord), including "cannot be read".
//
// Thread safety: everything may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/export.h"

namespace platform {

inline constexpr uint32_t kPlatformWin32Windows = 1;
inline constexpr uint32_t kPlatformNt = 2;
inline constexpr uint8_t kProductWorkstation = 1;
inline constexpr uint8_t kProductDomainController = 2;
inline constexpr uint8_t kProductServer = 3;
inline constexpr uint16_t kProcessorArchitectureIntel = 0;
inline constexpr uint16_t kProcessorArchitectureIa64 = 6;
inline constexpr uint16_t kProcessorArchitectureAmd64 = 9;
inline constexpr uint16_t kProcessorArchitectureArm64 = 12;

struct OsVersionRecord {
  uint32_t platform_id = kPlatformNt;
  uint32_t major = 10;
  uint32_t minor = 0;
  uint32_t build = 19045;
  uint8_t product_type = kProductWorkstation;
  uint16_t suite_mask = 0;
  uint16_t processor_architecture = kProcessorArchitectureAmd64;  // GetNativeSystemInfo's value
};

enum class NtGeneration { kNt4, kWindows2000, kXp, kOther };

// A null record stands for "the version cannot be read".
AG_PLATFORM_EXPORT bool Is64BitProcessor(const OsVersionRecord* record);
// Compares major.minor with the version selected by `id` (1 5.0, 2 5.1 or on a
// 64-bit processor 5.2, 3 5.2, 4 6.0, 5 6.1, 6 6.2, 7 6.3, any other 10.0).
// Returns false (equal untouched) when the record cannot be read or `equal`
// is null; otherwise true with *equal set.
AG_PLATFORM_EXPORT bool IsOsVersionEqual(const OsVersionRecord* record, int id, bool* equal);
// Platform NT, version 5.0, product workstation, domain controller or server.
AG_PLATFORM_EXPORT bool IsWindows2000Family(const OsVersionRecord* record);
AG_PLATFORM_EXPORT bool IsNtPlatform(const OsVersionRecord* record);
AG_PLATFORM_EXPORT NtGeneration GetNtGeneration(const OsVersionRecord* record);

// The record from the installed source (nullopt: cannot be read).
AG_PLATFORM_EXPORT std::optional<OsVersionRecord> CurrentOsVersion();
// Installs a record (nullopt: reads fail); DefaultOsVersionRecord() restores.
AG_PLATFORM_EXPORT void SetOsVersionRecord(std::optional<OsVersionRecord> record);
AG_PLATFORM_EXPORT OsVersionRecord DefaultOsVersionRecord();

class AG_PLATFORM_EXPORT ScopedOsVersionRecord {
 public:
  explicit ScopedOsVersionRecord(std::optional<OsVersionRecord> record);
  ~ScopedOsVersionRecord();
  ScopedOsVersionRecord(const ScopedOsVersionRecord&) = delete;
  ScopedOsVersionRecord& operator=(const ScopedOsVersionRecord&) = delete;

 private:
  std::optional<OsVersionRecord> previous_;
};

}  // namespace platform
