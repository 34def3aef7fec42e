#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/dynlib.h"
#include "platform/error.h"
#include "platform/folders.h"
#include "platform/os_version.h"
#include "platform/process.h"
#include "temp_folder.h"

namespace platform {
namespace {

using platform_test::TempFolder;

// What the core asks of the version record: Windows 10 or not (the data
// folder layout; later releases still report 10.0), the NT generation and the
// 2000 family (global event names, the logged-on user).
TEST(PlatformOsVersion, AnswersTheQuestionsTheCoreAsks) {
  const struct {
    uint32_t major, minor, platform_id;
    bool windows10;
    NtGeneration generation;
    bool windows2000Family;
  } kCases[] = {
      {10, 0, kPlatformNt, true, NtGeneration::kOther, false},
      {6, 3, kPlatformNt, false, NtGeneration::kOther, false},
      {5, 1, kPlatformNt, false, NtGeneration::kXp, false},
      {5, 0, kPlatformNt, false, NtGeneration::kWindows2000, true},
      {4, 0, kPlatformNt, false, NtGeneration::kNt4, false},
      {4, 10, kPlatformWin32Windows, false, NtGeneration::kOther, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
    OsVersionRecord record;
    record.major = c.major;
    record.minor = c.minor;
    record.platform_id = c.platform_id;
    bool windows10 = !c.windows10;
    ASSERT_TRUE(IsOsVersionEqual(&record, 9, &windows10));
    EXPECT_EQ(windows10, c.windows10);
    EXPECT_EQ(GetNtGeneration(&record), c.generation);
    EXPECT_EQ(IsWindows2000Family(&record), c.windows2000Family);
    EXPECT_EQ(IsNtPlatform(&record), c.platform_id == kPlatformNt);
  }
  bool equal = false;
  EXPECT_FALSE(IsOsVersionEqual(nullptr, 9, &equal));
  EXPECT_FALSE(IsWindows2000Family(nullptr));
}

TEST(PlatformOsVersion, SourceDefaultsToWindowsTenAndCanBeReplaced) {
  ASSERT_TRUE(CurrentOsVersion().has_value());
  EXPECT_EQ(CurrentOsVersion()->build, 19045u);
  {
    ScopedOsVersionRecord unreadable(std::nullopt);
    EXPECT_FALSE(CurrentOsVersion().has_value());
  }
  EXPECT_EQ(CurrentOsVersion()->major, 10u);
}

std::string OwnExecutableName() {
  return std::filesystem::read_symlink("/proc/self/exe").filename().string();
}

TEST(PlatformProcess, FindsProcessByNameIgnoringCaseAndExtension) {
  std::string upper = OwnExecutableName();
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  uint32_t pid = 0;
  uint32_t error = 77;
  ASSERT_TRUE(FindProcessByName((upper + ".EXE").c_str(), &pid, &error));
  EXPECT_EQ(error, 0u);
  // Another instance of this test program may run beside us: the match is
  // any process with our image name.
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe").filename(), OwnExecutableName());
  EXPECT_FALSE(FindProcessByName("no-such-process-name.exe", &pid, &error));
  EXPECT_EQ(error, kFindProcessNotFound);
  EXPECT_FALSE(FindProcessByName(nullptr, &pid, &error));
  EXPECT_EQ(error, kFindProcessBadArgument);
}

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
  EXPECT_EQ(ShellStart(nullptr, nullptr, nullptr, true, false, nullptr).error, kErrorInvalidParameter);
}

TEST(PlatformFolders, RootsEndInASlashAndEnsureFolderCreatesParents) {
  TempFolder folder;
  SetMachineRoot(folder.Path() + "root");
  EXPECT_EQ(MachineRoot(), folder.Path() + "root/");
  SetMachineRoot("/");
  EXPECT_TRUE(EnsureFolder(folder.Path() + "a/b/c/"));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path() + "a/b/c"));
  std::ofstream(folder.Path() + "file") << "x";
  EXPECT_FALSE(EnsureFolder(folder.Path() + "file/sub"));
  EXPECT_TRUE(std::filesystem::exists(ModuleFolder() + OwnExecutableName()));
}

TEST(PlatformDynamicLibrary, LoadsFromTheModuleFolderByItsWindowsNameAndFindsSymbols) {
  DynamicLibrary by_dll_name = DynamicLibrary::Load("agplatform.DLL");
  ASSERT_TRUE(by_dll_name.IsLoaded()) << by_dll_name.Error();
  EXPECT_EQ(by_dll_name.Path(), ModuleFolder() + "libagplatform.so");
  EXPECT_FALSE(DynamicLibrary::Load("AgPlatform.DLL").IsLoaded());  // only the extension ignores case

  DynamicLibrary libc = DynamicLibrary::Load("libc.so.6");
  ASSERT_TRUE(libc.IsLoaded()) << libc.Error();
  auto* get_pid = libc.Get<pid_t()>("getpid");
  ASSERT_NE(get_pid, nullptr);
  EXPECT_EQ(get_pid(), getpid());
  std::string error;
  EXPECT_EQ(libc.Symbol("NoSuchFunctionAnywhere", &error), nullptr);
  EXPECT_NE(error.find("NoSuchFunctionAnywhere"), std::string::npos);

  DynamicLibrary missing = DynamicLibrary::Load("libagnosuchlib.so");
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_NE(missing.Error().find("libagnosuchlib.so"), std::string::npos);
  EXPECT_EQ(missing.Symbol("anything"), nullptr);
}

}  // namespace
}  // namespace platform
