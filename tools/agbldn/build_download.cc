#include "tools/agbldn/build_download.h"

#include <curl/curl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace agbldn {
namespace {

struct Sink {
  std::FILE* file = nullptr;
  size_t written = 0;
  bool too_large = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* context) {
  auto* sink = static_cast<Sink*>(context);
  const size_t bytes = size * count;
  if (sink->written + bytes > kMaxBuildBytes) {
    sink->too_large = true;
    return 0;  // ends the transfer
  }
  sink->written += bytes;
  return std::fwrite(data, 1, bytes, sink->file);
}

bool IsHttpLocation(const std::string& location) {
  return location.starts_with("http://") || location.starts_with("https://");
}

}  // namespace

DownloadResult DownloadBuild(const std::string& location, const std::string& target) {
  DownloadResult result;
  if (!IsHttpLocation(location)) {
    result.detail = "not an http(s) location";
    return result;
  }
  const std::string url = location + (location.ends_with('/') ? "" : "/") + kBuildFileName;
  const std::string partial = target + ".part";
  Sink sink;
  sink.file = std::fopen(partial.c_str(), "wb");
  if (sink.file == nullptr) {
    result.detail = "cannot write " + partial;
    return result;
  }
  CURL* curl = curl_easy_init();
  long status = 0;
  CURLcode code = CURLE_FAILED_INIT;
  if (curl != nullptr) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
  }
  const bool closed = std::fclose(sink.file) == 0;
  std::error_code ec;
  if (code != CURLE_OK || status != 200 || !closed) {
    std::filesystem::remove(partial, ec);
    result.detail = sink.too_large ? "build larger than " + std::to_string(kMaxBuildBytes) + " bytes"
                    : code != CURLE_OK ? std::string(curl_easy_strerror(code))
                                       : "HTTP status " + std::to_string(status);
    return result;
  }
  std::filesystem::rename(partial, target, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    result.detail = "cannot keep the build: " + ec.message();
    return result;
  }
  result.ok = true;
  result.detail = std::to_string(sink.written) + " bytes from " + url;
  return result;
}

std::optional<uint32_t> FileChecksum(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  uint32_t hash = 2166136261u;
  char byte = 0;
  while (in.get(byte)) {
    hash ^= static_cast<uint8_t>(byte);
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace agbldn
