#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dynlib.h"
#include "platform/folders.h"

namespace platform {
namespace {

std::string LastDlError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown dynamic linker error";
}

// The file names to try for `name_or_path`, in order.
std::vector<std::string> Candidates(const std::string& name_or_path) {
  const size_t slash = name_or_path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : name_or_path.substr(0, slash + 1);
  const std::string file = name_or_path.substr(folder.size());
  std::vector<std::string> files = {file};
  std::string lower = file;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  constexpr std::string_view kDll = ".dll";
  if (lower.size() > kDll.size() && lower.ends_with(kDll)) {
    files.push_back("lib" + file.substr(0, file.size() - kDll.size()) + ".so");
  }
  std::vector<std::string> candidates;
  if (folder.empty()) {
    const std::string module_folder = ModuleFolder();
    for (const std::string& name : files) {
      candidates.push_back(module_folder + name);
    }
  }
  for (const std::string& name : files) {
    candidates.push_back(folder + name);
  }
  return candidates;
}

}  // namespace

DynamicLibrary DynamicLibrary::Load(const std::string& name_or_path) {
  DynamicLibrary library;
  if (name_or_path.empty() || name_or_path.back() == '/') {
    library.error_ = "no library name in \"" + name_or_path + "\"";
    return library;
  }
  for (const std::string& candidate : Candidates(name_or_path)) {
    // RTLD_NODELETE: a library's code stays mapped after the last close,
    // because threads it started may outlive the handle (the core's consent
    // thread is detached and ends on its own after clean-up returns).
    if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
      library.handle_ = handle;
      library.path_ = candidate;
      library.error_.clear();
      return library;
    }
    library.error_ += (library.error_.empty() ? "" : "; ") + LastDlError();
  }
  return library;
}

DynamicLibrary::~DynamicLibrary() { Unload(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

void* DynamicLibrary::Symbol(const char* name, std::string* error) const {
  if (handle_ == nullptr || name == nullptr) {
    if (error != nullptr) {
      *error = handle_ == nullptr ? "library not loaded" : "null symbol name";
    }
    return nullptr;
  }
  // dlsym may legitimately return null, so success is judged by dlerror().
  dlerror();
  void* address = dlsym(handle_, name);
  if (const char* text = dlerror(); text != nullptr || address == nullptr) {
    if (error != nullptr) {
      *error = text != nullptr ? text : std::string("symbol ") + name + " is null";
    }
    return nullptr;
  }
  return address;
}

void DynamicLibrary::Unload() {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
  }
  path_.clear();
}

}  // namespace platform
