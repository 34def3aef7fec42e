// The pre-install library under a machine root and an agent root of the
// test's own: the product counts as installed when its folder exists, and
// every action leaves a journal line.
#include <agsuite/agmisc.h>
#include <agsuite/agpreinst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/folders.h"
#include "platform/registry.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

std::string Contents(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class PreInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(machine_);
    fs::create_directories(base_ / "agent");
    platform::SetMachineRoot(machine_.string() + "/");
    ASSERT_EQ(AGMiscSetAgentRoot((base_ / "agent").c_str()), 1);
  }
  void TearDown() override { platform::SetMachineRoot("/"); }

  std::string Journal() const { return Contents(base_ / "agent" / "temp" / "agpreinst.log"); }
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

  test_support::ScratchFolder scratch_{"preinst-"};
  fs::path base_ = scratch_.path();
  fs::path machine_ = base_ / "machine";
};

// agbldn (beside the library) gets each location as one argument, however
// it is written; nothing answers on port 1, so it ends with a failed
// download and the product stays uninstalled.
TEST_F(PreInstallTest, InstallStartsTheBuildDownloaderWithEachLocationWhole) {
  const std::string location = "http://127.0.0.1:1/a b\" --kind 1";
  EXPECT_EQ(AGPreInstIsAvInstalled(), 0);
  EXPECT_EQ(AGPreInstInstall(location.c_str(), "", 0), 1);
  EXPECT_NE(Journal().find("install kind=0 url1=\"" + location + "\" url2=\"\""), std::string::npos) << Journal();
  const fs::path log = base_ / "agent" / "temp" / "agbldn.log";
  const auto finished = [&] { return Contents(log).find("exit 3") != std::string::npos; };
  for (int i = 0; i < 1500 && !finished(); ++i) usleep(20'000);  // agbldn is another process
  ASSERT_TRUE(finished());
  EXPECT_NE(Contents(log).find("location1=\"" + location + "\""), std::string::npos) << Contents(log);
  EXPECT_EQ(AGPreInstIsAvInstalled(), 0);
}

TEST_F(PreInstallTest, InstallationPathIsTheRegisteredFolderOrTheDefault) {
  EXPECT_EQ(InstallationPath(), fs::path(machine_.string() + "/opt/vornex/").u16string());
  RegisterProductPath(machine_.string() + "/Program Files/Vornex");
  EXPECT_EQ(InstallationPath(), fs::path(machine_.string() + "/Program Files/Vornex/").u16string());
}

TEST_F(PreInstallTest, UninstallRemovesTheProductFolderOnlyAndNeverOutsideTheMachineRoot) {
  const fs::path product = machine_ / "opt" / "vornex";
  fs::create_directories(product);
  std::ofstream(machine_ / "opt" / "other") << "keep";
  EXPECT_EQ(AGPreInstUninstall(), 1);
  EXPECT_FALSE(fs::exists(product));
  EXPECT_TRUE(fs::exists(machine_ / "opt" / "other"));
  EXPECT_EQ(AGPreInstIsAvInstalled(), 0);
  EXPECT_EQ(AGPreInstUninstall(), 1);  // nothing installed: nothing to do, and that is no failure

  const fs::path outside = base_ / "elsewhere";
  fs::create_directories(outside);
  RegisterProductPath(outside.string());
  EXPECT_EQ(AGPreInstIsAvInstalled(), 1);
  EXPECT_EQ(AGPreInstUninstall(), 0);
  EXPECT_TRUE(fs::is_directory(outside));
  RegisterProductPath(machine_.string());  // the machine root itself
  EXPECT_EQ(AGPreInstUninstall(), 0);
  EXPECT_TRUE(fs::is_directory(machine_));
}

TEST_F(PreInstallTest, CleanUpCheckFollowsTheInPlaceMarker) {
  EXPECT_EQ(PreInstallCleanUpCheck(), 0);
  fs::create_directories(base_ / "agent" / "temp");
  std::ofstream(base_ / "agent" / "temp" / "preinst_inplace") << "";
  EXPECT_EQ(PreInstallCleanUpCheck(), 1);
}

}  // namespace
