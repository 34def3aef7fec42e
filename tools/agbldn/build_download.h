// Fetching the protection product's build from a download location: the
// location names a folder, the build is the file "build.exe" in it.
// One call at a time per process (libcurl's global set-up is done by main).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace agbldn {

inline constexpr const char* kBuildFileName = "build.exe";
// A build larger than this is refused rather than filling the disk.
inline constexpr size_t kMaxBuildBytes = 64u << 20;

struct DownloadResult {
  bool ok = false;
  std::string detail;  // what went wrong, or the bytes and the location used
};

// GETs `location` + "build.exe" (a '/' is added between when missing) into
// `target` through a temporary file renamed on success. Only http and https.
DownloadResult DownloadBuild(const std::string& location, const std::string& target);

// FNV-1a of the file's bytes: the decimal checksum buildinf.ini carries.
std::optional<uint32_t> FileChecksum(const std::string& path);

}  // namespace agbldn
