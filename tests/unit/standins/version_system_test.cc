// The version and system libraries.
#include <agsuite/agsystem.h>
#include <agsuite/agvers.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/unit/mocks/scratch_folder.h"

namespace {

TEST(ProductVersion, IsTheBuildsOwnVersionForAnExistingFolder) {
  const std::u16string folder = std::filesystem::temp_directory_path().u16string();
  uint8_t parts[4] = {};
  ASSERT_EQ(GetProductVersion(folder.c_str(), parts), 1);
  EXPECT_EQ(parts[0], 10);
  EXPECT_EQ(parts[1], 14);
  EXPECT_EQ(parts[2], 0);
  EXPECT_EQ(parts[3], 1);
}

TEST(ProductVersion, FailsForAMissingFolderOrFile) {
  const test_support::ScratchFolder scratch("agvers-");
  const auto file = std::filesystem::path(scratch.path()) / "not-a-folder";
  { std::ofstream(file) << "x"; }
  const std::u16string file_text = file.u16string();
  const std::u16string folder_text = file.parent_path().u16string();
  uint8_t parts[4] = {9, 9, 9, 9};
  EXPECT_EQ(GetProductVersion(u"/no/such/agent/folder", parts), 0);
  EXPECT_EQ(GetProductVersion(file_text.c_str(), parts), 0);  // a file is no installation folder
  EXPECT_EQ(GetProductVersion(nullptr, parts), 0);
  EXPECT_EQ(GetProductVersion(folder_text.c_str(), nullptr), 0);
  EXPECT_EQ(parts[0], 9);
}

TEST(SystemCleanUp, ReportsSuccessAndToleratesNoStatusWord) {
  uint32_t status = 0xDEADBEEF;
  SystemCleanUpCall(&status);
  EXPECT_EQ(status, 0u);
  SystemCleanUpCall(nullptr);
}

}  // namespace
