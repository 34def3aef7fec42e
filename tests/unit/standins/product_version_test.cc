// The version library: the version the agent reports for the installed product.
#include <agsuite/agvers.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/unit/mocks/scratch_folder.h"

namespace {

TEST(ProductVersion, IsTheBuildsOwnVersionForAnExistingFolderOnly) {
  const test_support::ScratchFolder scratch("agvers-");
  uint8_t parts[4] = {};
  ASSERT_EQ(GetProductVersion(std::filesystem::path(scratch.path()).u16string().c_str(), parts), 1);
  EXPECT_EQ(std::vector<uint8_t>(parts, parts + 4), (std::vector<uint8_t>{10, 14, 0, 1}));
  const auto file = std::filesystem::path(scratch.path()) / "not-a-folder";
  std::ofstream(file) << "x";
  EXPECT_EQ(GetProductVersion(u"/no/such/agent/folder", parts), 0);
  EXPECT_EQ(GetProductVersion(file.u16string().c_str(), parts), 0);  // a file is no installation folder
}

}  // namespace
