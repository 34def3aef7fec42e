// Run-time loading of shared libraries and look-up of their functions (the
// agent's LoadLibraryEx with the altered search path, and GetProcAddress).
//
// Search order: a name with a folder part is loaded from exactly there; a bare
// name is tried first in the folder of the running executable (ModuleFolder(),
// where the suite's libraries live) and then through the normal dynamic
// linker search. The suite's libraries carry RUNPATH $ORIGIN, so their own
// dependencies come from their folder, as with the altered search path.
// A Windows name "name.dll" (any case) is also tried as "libname.so" in the
// same place, so callers keep the library names the agent knows.
// Libraries are opened RTLD_NOW | RTLD_LOCAL so that a missing dependency or
// symbol fails at load time, not on first call.
//
// Ownership: the object owns the handle (dlclose in the destructor); movable,
// not copyable. Symbol() may be called from any thread; loading and the
// destructor are not synchronised with concurrent Symbol() calls on the same
// object.
#pragma once

#include <string>

#include "platform/export.h"

namespace platform {

class AG_PLATFORM_EXPORT DynamicLibrary {
 public:
  DynamicLibrary() = default;
  // Check IsLoaded(); on failure Error() tells why (the dynamic linker's text).
  static DynamicLibrary Load(const std::string& name_or_path);

  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  [[nodiscard]] bool IsLoaded() const { return handle_ != nullptr; }
  // Address of `name`, or null with `error` (optional) set.
  [[nodiscard]] void* Symbol(const char* name, std::string* error = nullptr) const;
  template <typename Function>
  [[nodiscard]] Function* Get(const char* name, std::string* error = nullptr) const {
    return reinterpret_cast<Function*>(Symbol(name, error));
  }
  // Why the last Load failed; empty when loaded.
  [[nodiscard]] const std::string& Error() const { return error_; }
  // Path the library was loaded from.
  [[nodiscard]] const std::string& Path() const { return path_; }
  void Unload();

 private:
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
};

}  // namespace platform
