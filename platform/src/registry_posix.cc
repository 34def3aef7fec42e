#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "platform/utf.h"
#include "unique_fd.h"

namespace platform {
namespace {

constexpr std::string_view kStringType = "REG_SZ";
constexpr std::string_view kExpandStringType = "REG_EXPAND_SZ";
constexpr std::string_view kDwordType = "REG_DWORD";
constexpr size_t kMaxValueBytes = 1u << 20;

std::string HiveFolder(RegistryHive hive) {
  return MachineRoot() + "registry/" + (hive == RegistryHive::kLocalMachine ? "HKLM/" : "HKU/");
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

// A name usable as one folder or file name; empty when it is not.
std::string Component(std::u16string_view name) {
  auto utf8 = Utf16ToUtf8(name);
  if (!utf8 || utf8->empty() || *utf8 == "." || *utf8 == ".." || utf8->find('/') != std::string::npos ||
      utf8->find('\0') != std::string::npos) {
    return std::string();
  }
  return *utf8;
}

std::string ValueFileName(std::u16string_view value_name) {
  return value_name.empty() ? std::string("@") : Component(value_name);
}

// The entry of `folder` named `name` whatever its case; `error` says why not.
std::string FindEntry(const std::string& folder, const std::string& name, uint32_t* error) {
  struct stat info {};
  if (lstat((folder + name).c_str(), &info) == 0) {
    *error = kErrorSuccess;
    return name;
  }
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    *error = errno == ENOENT || errno == ENOTDIR ? kErrorFileNotFound : ErrorFromErrno(errno);
    return std::string();
  }
  std::string found;
  while (const dirent* entry = readdir(dir)) {
    if (SameIgnoringCase(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  *error = found.empty() ? kErrorFileNotFound : kErrorSuccess;
  return found;
}

// The value file of `value_name` in `folder`; `error` says why there is none
// (a subkey of that name is not a value).
std::string FindValue(const std::string& folder, std::u16string_view value_name, uint32_t* error) {
  if (folder.empty()) {
    *error = kErrorInvalidHandle;
    return std::string();
  }
  const std::string file_name = ValueFileName(value_name);
  if (file_name.empty()) {
    *error = kErrorInvalidParameter;
    return std::string();
  }
  std::string entry = FindEntry(folder, file_name, error);
  struct stat info {};
  if (*error == kErrorSuccess && (lstat((folder + entry).c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
    *error = kErrorFileNotFound;
  }
  return *error == kErrorSuccess ? entry : std::string();
}

// Splits "A\\B\\C" into its names; false when one is unusable.
bool SplitKeyPath(std::u16string_view path, std::vector<std::string>* names) {
  while (!path.empty()) {
    const size_t separator = path.find(u'\\');
    const std::u16string_view part = path.substr(0, separator);
    if (!part.empty()) {
      std::string name = Component(part);
      if (name.empty()) {
        return false;
      }
      names->push_back(std::move(name));
    }
    path = separator == std::u16string_view::npos ? std::u16string_view() : path.substr(separator + 1);
  }
  return true;
}

// Resolves (and with `create`, makes) the key's folder.
uint32_t ResolveKey(RegistryHive hive, std::u16string_view path, bool create, std::string* folder) {
  std::vector<std::string> names;
  if (!SplitKeyPath(path, &names)) {
    return kErrorInvalidParameter;
  }
  std::string current = HiveFolder(hive);
  if (create && !EnsureFolder(current)) {
    return ErrorFromErrno(errno);
  }
  for (const std::string& name : names) {
    uint32_t error = kErrorSuccess;
    std::string entry = FindEntry(current, name, &error);
    if (error == kErrorFileNotFound && create) {
      if (mkdir((current + name).c_str(), 0755) != 0 && errno != EEXIST) {
        return ErrorFromErrno(errno);
      }
      entry = name;
    } else if (error != kErrorSuccess) {
      return error;
    }
    current += entry + "/";
  }
  struct stat info {};
  if (stat(current.c_str(), &info) != 0) {
    return errno == ENOENT ? kErrorFileNotFound : ErrorFromErrno(errno);
  }
  if (!S_ISDIR(info.st_mode)) {
    return kErrorFileNotFound;
  }
  *folder = current;
  return kErrorSuccess;
}

// Reads a value file into its type and data.
uint32_t ReadValueFile(const std::string& folder, std::u16string_view value_name, std::string* type,
                       std::string* data) {
  uint32_t error = kErrorSuccess;
  const std::string entry = FindValue(folder, value_name, &error);
  if (error != kErrorSuccess) {
    return error;
  }
  internal::UniqueFd fd(open((folder + entry).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    return ErrorFromErrno(errno);
  }
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return ErrorFromErrno(errno);
    }
    if (n == 0) {
      break;
    }
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > kMaxValueBytes) {
      return kErrorInvalidData;
    }
  }
  const size_t line_end = content.find('\n');
  if (line_end == std::string::npos) {
    return kErrorInvalidData;
  }
  *type = content.substr(0, line_end);
  if (!type->empty() && type->back() == '\r') {
    type->pop_back();
  }
  *data = content.substr(line_end + 1);
  // `echo` adds a line end that is not part of the value.
  if (!data->empty() && data->back() == '\n') {
    data->pop_back();
  }
  return kErrorSuccess;
}

uint32_t WriteValueFile(const std::string& folder, std::u16string_view value_name, std::string_view type,
                        std::string_view data) {
  const std::string file_name = ValueFileName(value_name);
  if (folder.empty() || file_name.empty()) {
    return kErrorInvalidParameter;
  }
  uint32_t error = kErrorSuccess;
  std::string entry = FindEntry(folder, file_name, &error);
  if (error == kErrorFileNotFound) {
    entry = file_name;
  } else if (error != kErrorSuccess) {
    return error;
  }
  std::string content(type);
  content += '\n';
  content += data;
  const std::string path = folder + entry;
  const std::string temporary = folder + "." + entry + ".tmp" + std::to_string(CurrentThreadId());
  internal::UniqueFd fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.Valid()) {
    return ErrorFromErrno(errno);
  }
  const bool written = write(fd.Get(), content.data(), content.size()) == static_cast<ssize_t>(content.size());
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    const uint32_t code = ErrorFromErrno(errno);
    unlink(temporary.c_str());
    return code;
  }
  return kErrorSuccess;
}

}  // namespace

uint32_t RegistryKey::Open(RegistryHive hive, std::u16string_view path, RegistryAccess access) {
  Close();
  std::string folder;
  const uint32_t error = ResolveKey(hive, path, false, &folder);
  if (error != kErrorSuccess) {
    return error;
  }
  const int wanted = access == RegistryAccess::kAllAccess ? R_OK | W_OK | X_OK : R_OK | X_OK;
  if (::access(folder.c_str(), wanted) != 0) {
    return ErrorFromErrno(errno);
  }
  folder_ = folder;
  access_ = access;
  return kErrorSuccess;
}

uint32_t RegistryKey::CreateKey(RegistryHive hive, std::u16string_view path) {
  Close();
  std::string folder;
  const uint32_t error = ResolveKey(hive, path, true, &folder);
  if (error != kErrorSuccess) {
    return error;
  }
  folder_ = folder;
  access_ = RegistryAccess::kAllAccess;
  return kErrorSuccess;
}

void RegistryKey::Close() {
  folder_.clear();
  access_ = RegistryAccess::kQuery;
}

uint32_t RegistryKey::ReadString(std::u16string_view value_name, std::u16string* value) const {
  if (value == nullptr) {
    return kErrorInvalidParameter;
  }
  std::string type;
  std::string data;
  const uint32_t error = ReadValueFile(folder_, value_name, &type, &data);
  if (error != kErrorSuccess) {
    return error;
  }
  if (type != kStringType && type != kExpandStringType) {
    return type == kDwordType ? kErrorUnsupportedType : kErrorInvalidData;
  }
  auto text = Utf8ToUtf16(data);
  if (!text) {
    return kErrorInvalidData;
  }
  *value = std::move(*text);
  return kErrorSuccess;
}

uint32_t RegistryKey::ReadDword(std::u16string_view value_name, uint32_t* value) const {
  if (value == nullptr) {
    return kErrorInvalidParameter;
  }
  std::string type;
  std::string data;
  const uint32_t error = ReadValueFile(folder_, value_name, &type, &data);
  if (error != kErrorSuccess) {
    return error;
  }
  if (type != kDwordType) {
    return type == kStringType || type == kExpandStringType ? kErrorUnsupportedType : kErrorInvalidData;
  }
  while (!data.empty() && (data.back() == ' ' || data.back() == '\r' || data.back() == '\n')) {
    data.pop_back();
  }
  const bool hex = data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X');
  const std::string_view digits = hex ? std::string_view(data).substr(2) : std::string_view(data);
  if (digits.empty() || digits.size() > 10) {
    return kErrorInvalidData;
  }
  uint64_t number = 0;
  for (const char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      return kErrorInvalidData;
    }
    number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
  }
  if (number > 0xFFFFFFFFu) {
    return kErrorInvalidData;
  }
  *value = static_cast<uint32_t>(number);
  return kErrorSuccess;
}

uint32_t RegistryKey::WriteString(std::u16string_view value_name, std::u16string_view value) {
  if (access_ != RegistryAccess::kAllAccess) {
    return IsOpen() ? kErrorAccessDenied : kErrorInvalidHandle;
  }
  const auto text = Utf16ToUtf8(value);
  if (!text) {
    return kErrorInvalidParameter;
  }
  return WriteValueFile(folder_, value_name, kStringType, *text);
}

uint32_t RegistryKey::WriteDword(std::u16string_view value_name, uint32_t value) {
  if (access_ != RegistryAccess::kAllAccess) {
    return IsOpen() ? kErrorAccessDenied : kErrorInvalidHandle;
  }
  return WriteValueFile(folder_, value_name, kDwordType, std::to_string(value));
}

uint32_t RegistryKey::DeleteValue(std::u16string_view value_name) {
  if (access_ != RegistryAccess::kAllAccess) {
    return IsOpen() ? kErrorAccessDenied : kErrorInvalidHandle;
  }
  uint32_t error = kErrorSuccess;
  const std::string entry = FindValue(folder_, value_name, &error);
  if (error != kErrorSuccess) {
    return error;
  }
  return unlink((folder_ + entry).c_str()) == 0 ? kErrorSuccess : ErrorFromErrno(errno);
}

}  // namespace platform
