// A fresh scratch folder for one test, removed with its contents at the
// end; optionally installed as the machine root for the test's duration.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/folders.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace platform_test {

class TempFolder {
 public:
  explicit TempFolder(bool as_machine_root = false) : as_machine_root_(as_machine_root) {
    path_ = test_support::MakeScratchFolder("agplatform-") + "/";
    if (as_machine_root_) {
      platform::SetMachineRoot(path_);
    }
  }
  ~TempFolder() {
    if (as_machine_root_) {
      platform::SetMachineRoot("/");
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // With trailing '/'.
  const std::string& Path() const { return path_; }

 private:
  bool as_machine_root_;
  std::string path_;
};

}  // namespace platform_test
