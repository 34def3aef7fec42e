#include "product_standin.h"

#include <agsuite/agpreinst.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "json_text.h"
#include "platform/clock.h"
#include "platform/utf.h"
#include "report_chunks.h"
#include "resp_log.h"

namespace agresp {
namespace {

// State files are small; anything larger is not the product's file.
constexpr std::uintmax_t kMaxStateFileBytes = 4 * 1024 * 1024;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ProtectionProduct ProtectionProduct::Locate() {
  ProtectionProduct product;
  char16_t buffer[260] = {};
  if (AGPreInstGetAvInstallationPath(buffer, 260) == 0) {
    RESPLOG(AG_LOG_PASSED_OVER, "AGPreInstGetAvInstallationPath failed");
    return product;
  }
  auto folder = platform::Utf16ToUtf8(std::u16string_view(buffer, platform::U16Length(buffer, 260)));
  std::error_code ec;
  if (!folder || folder->empty() || !std::filesystem::is_directory(*folder, ec)) return product;
  if (folder->back() != '/') folder->push_back('/');
  product.folder_ = std::move(*folder);
  return product;
}

Json::Value ProtectionProduct::ReadObject(const char* file) const {
  if (!IsInstalled()) return Json::Value();
  const std::string path = PathOf(file);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return Json::Value();
  if (size > kMaxStateFileBytes) {
    RESPLOG(AG_LOG_FAILURE, "Product file %s too large (%ju bytes); ignored.", path.c_str(), size);
    return Json::Value();
  }
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Json::Value value;
  if (!ParseJson(text, &value) || !value.isObject()) {
    RESPLOG(AG_LOG_FAILURE, "Product file %s is not a JSON object; ignored.", path.c_str());
    return Json::Value();
  }
  return value;
}

bool ProtectionProduct::WriteObject(const char* file, const Json::Value& value) const {
  if (!IsInstalled()) return false;
  const std::string path = PathOf(file);
  const std::string temp = path + ".tmp";
  {
    Fd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0 || !WriteAll(fd.get(), CompactJson(value) + "\n")) {
      RESPLOG(AG_LOG_FAILURE, "Writing %s failed", temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    RESPLOG(AG_LOG_FAILURE, "Replacing %s failed", path.c_str());
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool ProtectionProduct::Tell(Json::Value entry) const {
  if (!IsInstalled()) return false;
  entry["time"] = Json::Int64(platform::GetClock().NowSeconds());
  const std::string path = PathOf(kProductJournalFile);
  // One write per line with O_APPEND keeps lines whole when several threads tell at once.
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (fd.get() < 0 || !WriteAll(fd.get(), CompactJson(entry) + "\n")) {
    RESPLOG(AG_LOG_FAILURE, "Writing the product journal %s failed", path.c_str());
    return false;
  }
  return true;
}

bool ProtectionProduct::ExportReportDb(int64_t* last_id) const {
  std::error_code ec;
  return IsInstalled() && std::filesystem::is_regular_file(PathOf(kProductReportDbFile), ec) &&
         ExportReportDatabase(PathOf(kProductReportDbFile), PathOf(kProductReportExportFile), last_id);
}

bool ProtectionProduct::ResetReportDb(std::optional<int64_t> up_to) const {
  return IsInstalled() && ResetReportDatabase(PathOf(kProductReportDbFile), up_to);
}

}  // namespace agresp
