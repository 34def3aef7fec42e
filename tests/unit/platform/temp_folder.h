// A fresh scratch folder for one test, removed with its contents at the
// end; optionally installed as the machine root for the test's duration.
#pragma once

#include <string>

#include "platform/folders.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace platform_test {

class TempFolder {
 public:
  explicit TempFolder(bool as_machine_root = false) : as_machine_root_(as_machine_root) {
    if (as_machine_root_) platform::SetMachineRoot(path_);
  }
  ~TempFolder() {
    if (as_machine_root_) platform::SetMachineRoot("/");
  }

  // With trailing '/'.
  const std::string& Path() const { return path_; }

 private:
  test_support::ScratchFolder folder_{"agplatform-"};
  std::string path_ = folder_.path() + "/";
  bool as_machine_root_;
};

}  // namespace platform_test
