#include "platform/os_version.h"

#include <sys/utsname.h>

#include <cstring>
#include <mutex>

namespace platform {
namespace {

struct Source {
  std::mutex mutex;
  std::optional<OsVersionRecord> record = DefaultOsVersionRecord();  // guarded by mutex
};

Source& TheSource() {
  static Source source;
  return source;
}

}  // namespace

bool Is64BitProcessor(const OsVersionRecord* record) {
  if (record == nullptr) {
    return false;
  }
  switch (record->processor_architecture) {
    case 6:
    case 7:
    case 9:
    case 10:
      return true;
    default:
      return false;
  }
}

bool IsOsVersionEqual(const OsVersionRecord* record, int id, bool* equal) {
  if (record == nullptr || equal == nullptr) {
    return false;
  }
  uint32_t major = 10;
  uint32_t minor = 0;
  switch (id) {
    case 1:
      major = 5, minor = 0;
      break;
    case 2:
      major = 5, minor = Is64BitProcessor(record) ? 2 : 1;
      break;
    case 3:
      major = 5, minor = 2;
      break;
    case 4:
      major = 6, minor = 0;
      break;
    case 5:
      major = 6, minor = 1;
      break;
    case 6:
      major = 6, minor = 2;
      break;
    case 7:
      major = 6, minor = 3;
      break;
    default:
      break;
  }
  // Only major and minor take part; later releases keep reporting 10.0 with
  // higher build numbers and must still count as 10.0.
  *equal = record->major == major && record->minor == minor;
  return true;
}

bool IsWindows2000Family(const OsVersionRecord* record) {
  return record != nullptr && record->platform_id == kPlatformNt && record->major == 5 && record->minor == 0 &&
         (record->product_type == kProductWorkstation || record->product_type == kProductDomainController ||
          record->product_type == kProductServer);
}

bool IsNtPlatform(const OsVersionRecord* record) {
  return record != nullptr && record->platform_id == kPlatformNt;
}

NtGeneration GetNtGeneration(const OsVersionRecord* record) {
  if (!IsNtPlatform(record)) {
    return NtGeneration::kOther;
  }
  if (record->major == 3 || record->major == 4) {
    return NtGeneration::kNt4;
  }
  if (record->major == 5) {
    return record->minor == 1 ? NtGeneration::kXp : NtGeneration::kWindows2000;
  }
  return NtGeneration::kOther;
}

OsVersionRecord DefaultOsVersionRecord() {
  OsVersionRecord record;
  utsname name{};
  if (uname(&name) == 0) {
    if (std::strcmp(name.machine, "aarch64") == 0) {
      record.processor_architecture = kProcessorArchitectureArm64;
    } else if (std::strcmp(name.machine, "x86_64") != 0) {
      record.processor_architecture = kProcessorArchitectureIntel;
    }
  }
  return record;
}

std::optional<OsVersionRecord> CurrentOsVersion() {
  Source& source = TheSource();
  std::lock_guard lock(source.mutex);
  return source.record;
}

void SetOsVersionRecord(std::optional<OsVersionRecord> record) {
  Source& source = TheSource();
  std::lock_guard lock(source.mutex);
  source.record = record;
}

ScopedOsVersionRecord::ScopedOsVersionRecord(std::optional<OsVersionRecord> record)
    : previous_(CurrentOsVersion()) {
  SetOsVersionRecord(record);
}

ScopedOsVersionRecord::~ScopedOsVersionRecord() { SetOsVersionRecord(previous_); }

}  // namespace platform
