// The pre-install library under a machine root and an agent root of the
// test's own: the product counts as installed when its folder exists. Starting
// the build downloader runs for real in the demo's installation.
#include <agsuite/agmisc.h>
#include <agsuite/agpreinst.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/registry.h"
#include "tests/unit/mocks/scratch_folder.h"
#include "tests/unit/platform/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class PreInstallTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(AGMiscSetAgentRoot(agent_.path().c_str()), 1); }

  void RegisterProductPath(const std::string& folder) {
    platform::RegistryKey key;
    ASSERT_EQ(key.CreateKey(platform::RegistryHive::kLocalMachine,
                            u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\avscan.exe"),
              0u);
    ASSERT_EQ(key.WriteString(u"Path", std::u16string(folder.begin(), folder.end())), 0u);
  }
  std::u16string InstallationPath() {
    char16_t buffer[260] = {};
    EXPECT_EQ(AGPreInstGetAvInstallationPath(buffer, 260), 1);
    return buffer;
  }

  platform_test::TempFolder machine_{true};
  const std::string root_ = machine_.Path();
  test_support::ScratchFolder agent_{"preinst-agent-"};
};

TEST_F(PreInstallTest, InstallationPathIsTheRegisteredFolderOrTheDefault) {
  EXPECT_EQ(InstallationPath(), fs::path(root_ + "opt/vornex/").u16string());
  RegisterProductPath(root_ + "Program Files/Vornex");
  EXPECT_EQ(InstallationPath(), fs::path(root_ + "Program Files/Vornex/").u16string());
}

TEST_F(PreInstallTest, UninstallRemovesTheProductFolderOnlyAndNeverOutsideTheMachineRoot) {
  fs::create_directories(root_ + "opt/vornex");
  std::ofstream(root_ + "opt/other") << "keep";
  EXPECT_EQ(AGPreInstUninstall(), 1);
  EXPECT_FALSE(fs::exists(root_ + "opt/vornex"));
  EXPECT_TRUE(fs::exists(root_ + "opt/other"));
  EXPECT_EQ(AGPreInstIsAvInstalled(), 0);
  EXPECT_EQ(AGPreInstUninstall(), 1);  // nothing installed: nothing to do, and that is no failure

  const test_support::ScratchFolder outside("preinst-elsewhere-");
  RegisterProductPath(outside.path());
  EXPECT_EQ(AGPreInstIsAvInstalled(), 1);
  EXPECT_EQ(AGPreInstUninstall(), 0);
  EXPECT_TRUE(fs::is_directory(outside.path()));
  RegisterProductPath(root_.substr(0, root_.size() - 1));  // the machine root itself
  EXPECT_EQ(AGPreInstUninstall(), 0);
  EXPECT_TRUE(fs::is_directory(root_));
}

}  // namespace
