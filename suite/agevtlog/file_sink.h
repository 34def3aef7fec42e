// A size-rotated log file. `name` is the live file; when a line would take it
// past `max_bytes`, the live file becomes `name.1`, `name.1` becomes `name.2`
// and so on, keeping `keep_files` older files (0 keeps none). Lines are
// written with one write(2) each, so a crash loses at most the line being
// written. Not thread-safe: the event log serialises calls under its lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace agevtlog {

class FileSink {
 public:
  FileSink() = default;
  ~FileSink();
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Opens (creating the folder and file when missing) and appends to it.
  [[nodiscard]] bool Open(const std::string& folder, const std::string& name, uint64_t max_bytes,
                          uint32_t keep_files);
  void Close();
  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  void Write(std::string_view line);

 private:
  void Rotate();
  [[nodiscard]] std::string RotatedPath(uint32_t index) const;

  int fd_ = -1;
  std::string path_;
  uint64_t max_bytes_ = 0;
  uint32_t keep_files_ = 0;
  uint64_t size_ = 0;
};

}  // namespace agevtlog
