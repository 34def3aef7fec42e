// The version and system libraries.
#include <agsuite/agsystem.h>
#include <agsuite/agvers.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(ProductVersion, IsTheBuildsOwnVersionForAnExistingFolder) {
  const std::u16string folder = u"/tmp";
  uint8_t parts[4] = {};
  ASSERT_EQ(GetProductVersion(folder.c_str(), parts), 1);
  EXPECT_EQ(parts[0], 10);
  EXPECT_EQ(parts[1], 14);
  EXPECT_EQ(parts[2], 0);
  EXPECT_EQ(parts[3], 1);
}

TEST(ProductVersion, FailsForAMissingFolderOrFile) {
  const auto file = std::filesystem::temp_directory_path() / ("agvers_test_" + std::to_string(::getpid()));
  { std::ofstream(file) << "x"; }
  const std::u16string file_text = file.u16string();
  uint8_t parts[4] = {9, 9, 9, 9};
  EXPECT_EQ(GetProductVersion(u"/no/such/agent/folder", parts), 0);
  EXPECT_EQ(GetProductVersion(file_text.c_str(), parts), 0);  // a file is no installation folder
  std::filesystem::remove(file);
  EXPECT_EQ(GetProductVersion(nullptr, parts), 0);
  EXPECT_EQ(GetProductVersion(u"/tmp", nullptr), 0);
  EXPECT_EQ(parts[0], 9);
}

TEST(SystemCleanUp, ReportsSuccessAndToleratesNoStatusWord) {
  uint32_t status = 0xDEADBEEF;
  SystemCleanUpCall(&status);
  EXPECT_EQ(status, 0u);
  SystemCleanUpCall(nullptr);
}

}  // namespace
