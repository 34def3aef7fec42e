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

OsVersionRecord Version(uint32_t major, uint32_t minor, uint8_t product = kProductWorkstation) {
  OsVersionRecord record;
  record.major = major;
  record.minor = minor;
  record.product_type = product;
  return record;
}

TEST(PlatformOsVersion, EqualityTestSelectsTheVersionById) {
  bool equal = false;
  OsVersionRecord ten = Version(10, 0);
  ten.build = 26100;  // later releases still report 10.0
  ASSERT_TRUE(IsOsVersionEqual(&ten, 9, &equal));
  EXPECT_TRUE(equal);
  const OsVersionRecord eight_one = Version(6, 3);
  equal = true;
  ASSERT_TRUE(IsOsVersionEqual(&eight_one, 9, &equal));
  EXPECT_FALSE(equal);
  ASSERT_TRUE(IsOsVersionEqual(&eight_one, 7, &equal));
  EXPECT_TRUE(equal);
  // Id 2 is 5.2 on a 64-bit processor and 5.1 otherwise.
  OsVersionRecord xp = Version(5, 1);
  xp.processor_architecture = kProcessorArchitectureIntel;
  ASSERT_TRUE(IsOsVersionEqual(&xp, 2, &equal));
  EXPECT_TRUE(equal);
  xp.processor_architecture = kProcessorArchitectureAmd64;
  ASSERT_TRUE(IsOsVersionEqual(&xp, 2, &equal));
  EXPECT_FALSE(equal);
  EXPECT_FALSE(IsOsVersionEqual(nullptr, 9, &equal));
  EXPECT_FALSE(IsOsVersionEqual(&ten, 9, nullptr));
}

TEST(PlatformOsVersion, FamilyPlatformAndGenerationTests) {
  for (uint8_t product : {kProductWorkstation, kProductDomainController, kProductServer}) {
    OsVersionRecord w2k = Version(5, 0, product);
    w2k.suite_mask = 0xFFFF;
    EXPECT_TRUE(IsWindows2000Family(&w2k));
    EXPECT_EQ(GetNtGeneration(&w2k), NtGeneration::kWindows2000);
  }
  const OsVersionRecord xp = Version(5, 1);
  EXPECT_FALSE(IsWindows2000Family(&xp));
  EXPECT_EQ(GetNtGeneration(&xp), NtGeneration::kXp);
  EXPECT_FALSE(IsWindows2000Family(nullptr));
  EXPECT_EQ(GetNtGeneration(nullptr), NtGeneration::kOther);
  const OsVersionRecord nt4 = Version(4, 0);
  EXPECT_EQ(GetNtGeneration(&nt4), NtGeneration::kNt4);
  OsVersionRecord nine_x = Version(4, 10);
  nine_x.platform_id = kPlatformWin32Windows;
  EXPECT_FALSE(IsNtPlatform(&nine_x));
  EXPECT_EQ(GetNtGeneration(&nine_x), NtGeneration::kOther);
  const OsVersionRecord ten = Version(10, 0);
  EXPECT_TRUE(IsNtPlatform(&ten));
  EXPECT_EQ(GetNtGeneration(&ten), NtGeneration::kOther);
  OsVersionRecord arm = ten;
  arm.processor_architecture = kProcessorArchitectureArm64;
  EXPECT_FALSE(Is64BitProcessor(&arm));
  EXPECT_TRUE(Is64BitProcessor(&ten));
}

TEST(PlatformOsVersion, SourceDefaultsToWindowsTenAndCanBeReplaced) {
  const auto current = CurrentOsVersion();
  ASSERT_TRUE(current.has_value());
  EXPECT_EQ(current->major, 10u);
  EXPECT_EQ(current->build, 19045u);
  {
    ScopedOsVersionRecord unreadable(std::nullopt);
    EXPECT_FALSE(CurrentOsVersion().has_value());
    ScopedOsVersionRecord eight_one(Version(6, 3));
    EXPECT_EQ(CurrentOsVersion()->minor, 3u);
  }
  EXPECT_EQ(CurrentOsVersion()->major, 10u);
}

std::string OwnExecutableName() {
  return std::filesystem::read_symlink("/proc/self/exe").filename().string();
}

TEST(PlatformProcess, FindsProcessByNameIgnoringCase) {
  std::string upper = OwnExecutableName();
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  uint32_t pid = 0;
  uint32_t error = 77;
  ASSERT_TRUE(FindProcessByName(upper.c_str(), &pid, &error));
  EXPECT_EQ(error, 0u);
  // Another instance of this test program may run beside us: the match is
  // any process with our image name.
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe").filename(), OwnExecutableName());
  // A Windows-style name with ".exe" finds the program without it.
  ASSERT_TRUE(FindProcessByName((upper + ".EXE").c_str(), &pid, &error));
}

TEST(PlatformProcess, FindProcessErrors) {
  uint32_t pid = 0;
  uint32_t error = 0;
  EXPECT_FALSE(FindProcessByName("no-such-process-name.exe", &pid, &error));
  EXPECT_EQ(error, kFindProcessNotFound);
  EXPECT_FALSE(FindProcessByName(nullptr, &pid, &error));
  EXPECT_EQ(error, kFindProcessBadArgument);
  EXPECT_FALSE(FindProcessByName("x", nullptr, &error));
  EXPECT_EQ(error, kFindProcessBadArgument);
}

TEST(PlatformProcess, ShellStartWithWaitReturnsTheExitCodeAndHonoursTheFolder) {
  TempFolder folder;
  const ShellStartResult result =
      ShellStart("sh", nullptr, "-c \"pwd > where; exit 7\"", true, true, folder.Path().c_str());
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.exit_code, 7u);
  std::string where;
  std::getline(std::ifstream(folder.Path() + "where"), where);
  EXPECT_EQ(where + "/", folder.Path());
}

TEST(PlatformProcess, ShellStartFailuresAndStartWithoutWait) {
  EXPECT_EQ(ShellStart(nullptr, nullptr, nullptr, true, false, nullptr).error, kErrorInvalidParameter);
  const ShellStartResult missing = ShellStart("/no/such/program", "open", nullptr, true, false, nullptr);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, kErrorFileNotFound);
  // Returns once the child exists; the child is reaped in the background.
  EXPECT_TRUE(ShellStart("true", nullptr, nullptr, false, false, nullptr).ok);
}

TEST(PlatformFolders, RootsEndInASlashAndEnsureFolderCreatesParents) {
  TempFolder folder;
  SetMachineRoot(folder.Path() + "root");
  EXPECT_EQ(MachineRoot(), folder.Path() + "root/");
  SetMachineRoot("/");
  EXPECT_EQ(MachineRoot(), "/");
  EXPECT_TRUE(EnsureFolder(folder.Path() + "a/b/c/"));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path() + "a/b/c"));
  std::ofstream(folder.Path() + "file") << "x";
  EXPECT_FALSE(EnsureFolder(folder.Path() + "file/sub"));
  EXPECT_FALSE(EnsureFolder(""));
  const std::string module = ModuleFolder();
  ASSERT_FALSE(module.empty());
  EXPECT_EQ(module.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(module + OwnExecutableName()));
}

TEST(PlatformDynamicLibrary, LoadsFromTheModuleFolderFirstAndFindsSymbols) {
  DynamicLibrary own = DynamicLibrary::Load("libagplatform.so");
  ASSERT_TRUE(own.IsLoaded()) << own.Error();
  EXPECT_EQ(own.Path(), ModuleFolder() + "libagplatform.so");

  // The Windows name of a suite library finds lib<name>.so.
  DynamicLibrary by_windows_name = DynamicLibrary::Load("AgPlatform.DLL");
  EXPECT_FALSE(by_windows_name.IsLoaded());  // names are case-sensitive here; only the extension is not
  DynamicLibrary by_dll_name = DynamicLibrary::Load("agplatform.DLL");
  ASSERT_TRUE(by_dll_name.IsLoaded()) << by_dll_name.Error();
  EXPECT_EQ(by_dll_name.Path(), ModuleFolder() + "libagplatform.so");

  DynamicLibrary libc = DynamicLibrary::Load("libc.so.6");
  ASSERT_TRUE(libc.IsLoaded()) << libc.Error();
  auto* get_pid = libc.Get<pid_t()>("getpid");
  ASSERT_NE(get_pid, nullptr);
  EXPECT_EQ(get_pid(), getpid());

  std::string error;
  EXPECT_EQ(libc.Symbol("NoSuchFunctionAnywhere", &error), nullptr);
  EXPECT_NE(error.find("NoSuchFunctionAnywhere"), std::string::npos);

  DynamicLibrary moved = std::move(libc);
  EXPECT_FALSE(libc.IsLoaded());  // NOLINT(bugprone-use-after-move): the move is what is tested
  EXPECT_NE(moved.Symbol("getpid"), nullptr);
}

TEST(PlatformDynamicLibrary, MissingLibraryFailsWithAReason) {
  DynamicLibrary missing = DynamicLibrary::Load("libagnosuchlib.so");
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_NE(missing.Error().find("libagnosuchlib.so"), std::string::npos);
  EXPECT_EQ(missing.Symbol("anything"), nullptr);
  EXPECT_FALSE(DynamicLibrary::Load("").IsLoaded());
  EXPECT_FALSE(DynamicLibrary::Load("/no/such/folder/lib.so").IsLoaded());
}

}  // namespace
}  // namespace platform
