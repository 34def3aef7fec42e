#include <fstream>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/process.h"
#include "temp_folder.h"

namespace platform {
namespace {

using platform_test::TempFolder;

// Reports and the pre-install library start programs through ShellStart.
TEST(PlatformProcess, ShellStartReturnsTheExitCodeHonoursTheFolderAndReportsAMissingProgram) {
  TempFolder folder;
  const ShellStartResult result =
      ShellStart("sh", nullptr, "-c \"pwd > where; exit 7\"", true, true, folder.Path().c_str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.exit_code, 7u);
  std::string where;
  std::getline(std::ifstream(folder.Path() + "where"), where);
  EXPECT_EQ(where + "/", folder.Path());
  const ShellStartResult missing = ShellStart("/no/such/program", "open", nullptr, true, false, nullptr);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, kErrorFileNotFound);
}

}  // namespace
}  // namespace platform
