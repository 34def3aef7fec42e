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

// What the core asks of the version record: Windows 10 or not (the data
// folder layout; later releases still report 10.0), 8.1 and XP by id, the NT
// generation and the 2000 family (global event names, the logged-on user).
struct OsCase {
  const char* name;
  OsVersionRecord record;
  bool ids[3];  // IsOsVersionEqual for ids 9 (10.0), 7 (8.1), 2 (5.1, or 5.2 on a 64-bit processor)
  NtGeneration generation;
  bool windows2000Family;
  bool is64Bit;
};

OsVersionRecord With(OsVersionRecord record, uint32_t build, uint16_t architecture, uint32_t platform_id) {
  record.build = build;
  record.processor_architecture = architecture;
  record.platform_id = platform_id;
  return record;
}

TEST(PlatformOsVersion, AnswersTheQuestionsTheCoreAsks) {
  constexpr uint16_t kX64 = kProcessorArchitectureAmd64;
  const OsCase cases[] = {
      {"ten, later build", With(Version(10, 0), 26100, kX64, kPlatformNt), {true, false, false}, NtGeneration::kOther, false, true},
      {"ten on arm", With(Version(10, 0), 19045, kProcessorArchitectureArm64, kPlatformNt), {true, false, false}, NtGeneration::kOther, false, false},
      {"eight one", Version(6, 3), {false, true, false}, NtGeneration::kOther, false, true},
      {"xp 32-bit", With(Version(5, 1), 2600, kProcessorArchitectureIntel, kPlatformNt), {false, false, true}, NtGeneration::kXp, false, false},
      {"xp 64-bit", Version(5, 1), {false, false, false}, NtGeneration::kXp, false, true},
      {"2000 workstation", Version(5, 0), {false, false, false}, NtGeneration::kWindows2000, true, true},
      {"2000 domain controller", Version(5, 0, kProductDomainController), {false, false, false}, NtGeneration::kWindows2000, true, true},
      {"2000 server", Version(5, 0, kProductServer), {false, false, false}, NtGeneration::kWindows2000, true, true},
      {"nt4", Version(4, 0), {false, false, false}, NtGeneration::kNt4, false, true},
      {"98", With(Version(4, 10), 1998, kX64, kPlatformWin32Windows), {false, false, false}, NtGeneration::kOther, false, true},
  };
  for (const OsCase& c : cases) {
    const int ids[3] = {9, 7, 2};
    for (int i = 0; i < 3; ++i) {
      bool equal = !c.ids[i];
      ASSERT_TRUE(IsOsVersionEqual(&c.record, ids[i], &equal)) << c.name;
      EXPECT_EQ(equal, c.ids[i]) << c.name << ", id " << ids[i];
    }
    EXPECT_EQ(GetNtGeneration(&c.record), c.generation) << c.name;
    EXPECT_EQ(IsWindows2000Family(&c.record), c.windows2000Family) << c.name;
    EXPECT_EQ(IsNtPlatform(&c.record), c.record.platform_id == kPlatformNt) << c.name;
    EXPECT_EQ(Is64BitProcessor(&c.record), c.is64Bit) << c.name;
  }
  bool equal = false;
  EXPECT_FALSE(IsOsVersionEqual(nullptr, 9, &equal));
  EXPECT_FALSE(IsOsVersionEqual(&cases[0].record, 9, nullptr));
  EXPECT_FALSE(IsWindows2000Family(nullptr));
  EXPECT_EQ(GetNtGeneration(nullptr), NtGeneration::kOther);
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
