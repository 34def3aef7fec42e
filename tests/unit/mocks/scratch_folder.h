// Scratch folders for tests: fresh, under the system's temporary folder
// (TMPDIR is honoured), removed with their contents when the owner goes.
//
// A test program that crashes cannot remove its folders, so every folder
// carries the pid of the program that made it, and the first folder a program
// makes sweeps away those whose program is gone. Nothing is left behind for
// longer than until the next test run.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

namespace test_support {

inline const std::filesystem::path& ScratchParent() {
  static const std::filesystem::path parent = std::filesystem::temp_directory_path() / "agcore-tests";
  return parent;
}

inline void SweepFoldersOfEndedPrograms() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchParent(), error)) {
    const std::string name = entry.path().filename().string();
    const long pid = std::strtol(name.c_str(), nullptr, 10);
    if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      std::filesystem::remove_all(entry.path(), error);
    }
  }
}

// A new empty folder "<tmp>/agcore-tests/<pid>-<prefix>XXXXXX", without a
// trailing '/'. Throws when no folder can be made.
inline std::string MakeScratchFolder(std::string_view prefix) {
  static std::once_flag swept;
  std::error_code error;
  std::filesystem::create_directories(ScratchParent(), error);
  std::call_once(swept, SweepFoldersOfEndedPrograms);
  std::string pattern =
      (ScratchParent() / (std::to_string(::getpid()) + "-" + std::string(prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  return pattern;
}

// Owns one scratch folder for its lifetime.
class ScratchFolder {
 public:
  explicit ScratchFolder(std::string_view prefix) : path_(MakeScratchFolder(prefix)) {}
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Without a trailing '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace test_support
