#include "suite/agtransport/http_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "suite/agtransport/limits.h"
#include "suite/agtransport/transfer_limit.h"

namespace agtransport {
namespace {

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Longest wait for socket activity without a transfer limit; libcurl's own
// time-outs are checked at least this often.
constexpr int kMaxWaitMs = 1000;

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

// Runs the prepared easy handle on `multi` to its end or to the transfer
// limit; `limited` tells which.
CURLcode Perform(CURLM* multi, CURL* handle, bool* limited) {
  *limited = false;
  if (curl_multi_add_handle(multi, handle) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode code = CURLE_OK;
  for (;;) {
    const std::optional<TransferClock::time_point> deadline = TransferDeadline();
    const auto now = TransferClock::now();
    if (deadline && *deadline <= now) {
      *limited = true;
      code = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      CURLMsg* message = curl_multi_info_read(multi, &left);
      code = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result : CURLE_FAILED_INIT;
      break;
    }
    // libcurl's own time-outs still apply; this wait only needs to end by the
    // deadline or when a new limit wakes it.
    int waitMs = kMaxWaitMs;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now).count() + 1;
      waitMs = static_cast<int>(std::min<int64_t>(left, kMaxWaitMs));
    }
    if (curl_multi_poll(multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      break;
    }
  }
  curl_multi_remove_handle(multi, handle);
  return code;
}

}  // namespace

HttpSession::HttpSession() {
  EnsureCurlInitialised();
  handle_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (multi_ != nullptr) RegisterTransferWaiter(multi_);
}

HttpSession::~HttpSession() {
  if (multi_ != nullptr) {
    UnregisterTransferWaiter(multi_);
    curl_multi_cleanup(multi_);
  }
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

HttpResult HttpSession::Post(const HttpRequest& request) {
  HttpResult result;
  if (!valid()) {
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

  bool limited = false;
  const CURLcode code = Perform(multi_, handle_, &limited);
  // The buffers above die with this call; the handle must not keep them.
  curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, nullptr);
  if (code != CURLE_OK) {
    if (limited) {
      result.error = "transfer ended by the agent's stop";
    } else if (sink.too_large) {
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
