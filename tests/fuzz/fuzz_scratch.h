// A private scratch folder for fuzz targets that must hand their input to a
// reader as a file: on tmpfs (/dev/shm) when there is one, so that writing
// and syncing a file costs no disk time; removed when the process ends.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

class ScratchFolder {
 public:
  ScratchFolder() {
    const bool shm = std::filesystem::is_directory("/dev/shm");
    std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/agfuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    path_ = pattern + "/";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // With a trailing '/'.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Replaces `path` with exactly `size` bytes of `data`.
inline void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);
}

}  // namespace fuzz
