// A private scratch folder for fuzz targets that must hand their input to a
// reader as a file: the unit tests' scratch folder (so the folder of a run
// that crashed, as fuzz runs do, is swept away by the next run), put on tmpfs
// (/dev/shm) when there is one, so that writing and syncing a file costs no
// disk time.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/unit/mocks/scratch_folder.h"

namespace fuzz {

class ScratchFolder : public test_support::ScratchFolder {
 public:
  ScratchFolder() : test_support::ScratchFolder(OnTmpfs("fuzz-")), slashed_(path() + "/") {}

  // With a trailing '/'.
  const std::string& Path() const { return slashed_; }

 private:
  // The scratch folders' parent is under TMPDIR, fixed at the first folder:
  // a fuzz process makes no other temporary files, so it points TMPDIR at
  // tmpfs before that.
  static const char* OnTmpfs(const char* prefix) {
    if (std::filesystem::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
    return prefix;
  }

  std::string slashed_;
};

// Replaces `path` with exactly `size` bytes of `data`.
inline void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);
}

}  // namespace fuzz
