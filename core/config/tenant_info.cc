#include "core/config/tenant_info.h"

#include <cstring>
#include <fstream>
#include <new>
#include <optional>

#include "core/common/aglog.h"
#include "core/config/bounded_text.h"
#include "core/siblings/siblings.h"
#include "platform/utf.h"

namespace {

constexpr uint32_t kMaxPathUnits = 260;

// The slot and the reference counts. Each instance counts its own references
// so that an instance dropped from the slot by a failed re-read lives on for
// the threads that still hold it; the slot's instance carries the count that
// callers see.
std::mutex g_tenantLock;
CTenantInfo* g_tenantInstance = nullptr;  // guarded by g_tenantLock

std::optional<std::string> ReadTenantFile(const std::u16string& path) {
  const auto utf8Path = platform::Utf16ToUtf8(path);
  if (!utf8Path) return std::nullopt;
  std::ifstream file(*utf8Path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes(kTenantFileMaxBytes, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(file.gcount()));
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

// Steps shared by the three typed look-ups: argument checks, the snapshot and
// the empty-text default for an absent key.
std::optional<Json::Value> FindTenantValue(const std::shared_ptr<const Json::Value>& root, const char* key,
                                           const void* out) {
  if (key == nullptr || out == nullptr || root == nullptr || root->empty()) return std::nullopt;
  return root->get(key, Json::Value(""));
}

template <typename T>
bool HandOut(const T& source, T** value) {
  auto* copy = static_cast<T*>(std::malloc(sizeof(T)));
  if (copy == nullptr) return false;
  *copy = source;
  *value = copy;
  return true;
}

}  // namespace

CTenantInfo* CTenantInfo::getInstance(bool reRead) {
  std::lock_guard lock(g_tenantLock);
  if (g_tenantInstance == nullptr) {
    g_tenantInstance = new (std::nothrow) CTenantInfo();
    if (g_tenantInstance == nullptr) return nullptr;
    reRead = true;
  }
  if (reRead && !g_tenantInstance->PopulateTenantInfo(nullptr)) {
    CTenantInfo* failed = g_tenantInstance;
    g_tenantInstance = nullptr;
    if (failed->refCount_ == 0) delete failed;
    return nullptr;
  }
  ++g_tenantInstance->refCount_;
  return g_tenantInstance;
}

void CTenantInfo::release(CTenantInfo* instance) {
  if (instance == nullptr) return;
  std::lock_guard lock(g_tenantLock);
  if (instance->refCount_ == 0) return;
  if (--instance->refCount_ == 0) {
    if (g_tenantInstance == instance) g_tenantInstance = nullptr;
    delete instance;
  }
}

bool CTenantInfo::PopulateTenantInfo(const char16_t* folder) {
  char16_t path[kMaxPathUnits] = {};
  if (folder == nullptr) {
    if (!Siblings().support->GetClientAgentRootDir(path, kMaxPathUnits)) return false;
  } else if (!platform::U16Copy(path, kMaxPathUnits, folder)) {
    return false;
  }
  std::u16string fullPath(path, platform::U16Length(path, kMaxPathUnits));
  fullPath += u"clagnt.dat";
  if (fullPath.size() >= kMaxPathUnits) return false;
  {
    std::lock_guard lock(contentMutex_);
    path_ = fullPath;
  }

  const auto bytes = ReadTenantFile(fullPath);
  if (!bytes) return false;
  const auto plain = DecodeTenantFile(*bytes);
  if (!plain) return false;

  auto parsed = std::make_shared<Json::Value>();
  if (!ParseTenantJson(*plain, parsed.get())) return false;

  std::lock_guard lock(contentMutex_);
  root_ = std::move(parsed);
  return true;
}

std::shared_ptr<const Json::Value> CTenantInfo::root() const {
  std::lock_guard lock(contentMutex_);
  return root_;
}

bool CTenantInfo::GetTenantInfoOfGivenKey(const char* key, char** value) const {
  const auto found = FindTenantValue(root(), key, value);
  if (!found) return false;
  // Only texts and booleans have a text form; numbers, arrays and objects are
  // refused rather than reformatted.
  switch (found->type()) {
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
    case Json::arrayValue:
    case Json::objectValue:
      return false;
    default:
      break;
  }
  std::string text;
  try {
    text = found->asString();
  } catch (const std::exception&) {
    return false;
  }
  if (text.empty()) return false;
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return false;
  std::memcpy(copy, text.c_str(), text.size() + 1);
  *value = copy;
  return true;
}

bool CTenantInfo::GetTenantInfoOfGivenKey(const char* key, uint32_t** value) const {
  const auto found = FindTenantValue(root(), key, value);
  if (!found) return false;
  uint64_t number = 0;
  try {
    // Refuses texts (so also an absent key), arrays, objects and negatives.
    number = found->asLargestUInt();
  } catch (const std::exception&) {
    return false;
  }
  return HandOut(static_cast<uint32_t>(number), value);
}

bool CTenantInfo::GetTenantInfoOfGivenKey(const char* key, bool** value) const {
  const auto found = FindTenantValue(root(), key, value);
  if (!found) return false;
  // Truth as the agent has always read it: numbers when non-zero, texts when
  // non-empty, containers when they hold something. An absent key is false.
  bool truth = false;
  switch (found->type()) {
    case Json::nullValue:
      truth = false;
      break;
    case Json::stringValue:
      truth = !found->asString().empty();
      break;
    case Json::arrayValue:
    case Json::objectValue:
      truth = found->size() != 0;
      break;
    default:
      truth = found->asBool();
      break;
  }
  return HandOut(truth, value);
}

bool GetValueFromTenantInfo(const char* key, char* buffer, uint32_t size) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ScopedTenantInfo tenant(true);
  if (!tenant) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed.");
    return false;
  }
  TenantInfoValue<char> text;
  if (!tenant->GetTenantInfoOfGivenKey(key, &text.value)) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for %s", key != nullptr ? key : "");
    return false;
  }
  if (!BoundedCopy(buffer, size, text.value)) {
    AGLOG(AG_LOG_FAILURE, "StringCchCopyA() failed for %s", key);
    return false;
  }
  return true;
}
