#include <dlfcn.h>

#include <utility>

#include "platform/dynlib.h"
#include "platform/folders.h"

namespace platform {
namespace {

std::string LastDlError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown dynamic linker error";
}

}  // namespace

DynamicLibrary DynamicLibrary::Load(const std::string& name_or_path) {
  DynamicLibrary library;
  if (name_or_path.empty()) {
    library.error_ = "empty library name";
    return library;
  }
  std::string tried;
  if (name_or_path.find('/') == std::string::npos) {
    const std::string beside = ModuleFolder() + name_or_path;
    if (void* handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      library.handle_ = handle;
      library.path_ = beside;
      return library;
    }
    tried = LastDlError() + "; ";
  }
  if (void* handle = dlopen(name_or_path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    library.handle_ = handle;
    library.path_ = name_or_path;
    return library;
  }
  library.error_ = tried + LastDlError();
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
