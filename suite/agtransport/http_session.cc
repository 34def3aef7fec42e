#include "suite/agtransport/http_session.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "suite/agtransport/limits.h"

namespace agtransport {
namespace {

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

struct BodySink {
  std::string* body;
  bool too_large = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* context) {
  auto* sink = static_cast<BodySink*>(context);
  const size_t bytes = size * count;
  if (sink->body->size() + bytes > kMaxResponseBytes) {
    sink->too_large = true;
    return 0;  // makes libcurl abort the transfer
  }
  sink->body->append(data, bytes);
  return bytes;
}

}  // namespace

HttpSession::HttpSession() {
  EnsureCurlInitialised();
  handle_ = curl_easy_init();
}

HttpSession::~HttpSession() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

HttpResult HttpSession::Post(const HttpRequest& request) {
  HttpResult result;
  if (handle_ == nullptr) {
    result.error = "no libcurl handle";
    return result;
  }
  // Reset clears the previous request's options but keeps the open
  // connection, so consecutive requests to one server reuse it.
  curl_easy_reset(handle_);

  HeaderList headers;
  for (const std::string& header : request.headers) {
    // Appending keeps the list's head, or fails leaving the list as it was.
    curl_slist* head = curl_slist_append(headers.get(), header.c_str());
    if (head == nullptr) {
      result.error = "out of memory building the request headers";
      return result;
    }
    if (headers == nullptr) headers.reset(head);
  }

  char error_text[CURL_ERROR_SIZE] = {};
  BodySink sink{&result.body};
  curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(handle_, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle_, CURLOPT_POST, 1L);
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connect_timeout_ms));
  curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, static_cast<long>(request.total_timeout_ms));
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.ca_bundle.empty()) curl_easy_setopt(handle_, CURLOPT_CAINFO, request.ca_bundle.c_str());
  if (request.proxy) {
    curl_easy_setopt(handle_, CURLOPT_PROXY, request.proxy->host.c_str());
    if (request.proxy->port != 0) curl_easy_setopt(handle_, CURLOPT_PROXYPORT, static_cast<long>(request.proxy->port));
    if (!request.proxy->user.empty()) {
      curl_easy_setopt(handle_, CURLOPT_PROXYUSERNAME, request.proxy->user.c_str());
      curl_easy_setopt(handle_, CURLOPT_PROXYPASSWORD, request.proxy->password.c_str());
      curl_easy_setopt(handle_, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
    }
  } else {
    // An empty proxy also keeps libcurl from taking one from the environment
    // (http_proxy and friends): the agent's route is the tenant's setting only.
    curl_easy_setopt(handle_, CURLOPT_PROXY, "");
  }

  const CURLcode code = curl_easy_perform(handle_);
  // The buffers above die with this call; the handle must not keep them.
  curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, nullptr);
  if (code != CURLE_OK) {
    if (sink.too_large) {
      result.error = "response body is larger than " + std::to_string(kMaxResponseBytes) + " bytes";
    } else {
      result.error = std::string(curl_easy_strerror(code)) + (error_text[0] != '\0' ? ": " : "") + error_text;
    }
    result.body.clear();
    return result;
  }
  curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &result.status);
  result.completed = true;
  return result;
}

}  // namespace agtransport
