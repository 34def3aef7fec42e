#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

// Blank-separated words; double quotes group blanks into one word.
std::vector<std::string> SplitParameters(const char* parameters) {
  std::vector<std::string> words;
  if (parameters == nullptr) {
    return words;
  }
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (const char* p = parameters; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((*p == ' ' || *p == '\t') && !quoted) {
      if (in_word) {
        words.push_back(std::move(word));
        word.clear();
        in_word = false;
      }
    } else {
      word.push_back(*p);
      in_word = true;
    }
  }
  if (in_word) {
    words.push_back(std::move(word));
  }
  return words;
}

uint32_t WaitForExit(pid_t pid, bool* ok) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  *ok = result == pid;
  if (!*ok) {
    return 0;
  }
  return WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                           : 128u + static_cast<uint32_t>(WTERMSIG(status));
}

std::string BaseName(std::string path) {
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) {
    path.resize(path.size() - kDeleted.size());
  }
  return path.substr(path.rfind('/') + 1);
}

// Base name of the process's executable; empty for kernel threads and
// processes that vanished.
std::string ImageName(const std::string& pid) {
  const std::string proc = "/proc/" + pid;
  char target[4096];
  const ssize_t length = readlink((proc + "/exe").c_str(), target, sizeof target);
  if (length > 0 && static_cast<size_t>(length) < sizeof target) {
    return BaseName(std::string(target, static_cast<size_t>(length)));
  }
  std::ifstream cmdline(proc + "/cmdline", std::ios::binary);
  std::string argv0;
  std::getline(cmdline, argv0, '\0');
  return argv0.empty() ? std::string() : BaseName(argv0);
}

bool NameMatches(std::string_view image, std::string_view wanted) {
  if (EqualsIgnoringCase(image, wanted)) {
    return true;
  }
  constexpr std::string_view kExe = ".exe";
  return wanted.size() > kExe.size() && EqualsIgnoringCase(wanted.substr(wanted.size() - kExe.size()), kExe) &&
         EqualsIgnoringCase(image, wanted.substr(0, wanted.size() - kExe.size()));
}

}  // namespace

std::string SystemLibraryPath(std::string_view name) { return SystemFolder() + std::string(name); }

ShellStartResult ShellStart(const char* file, const char* /*verb: every verb opens*/, const char* parameters,
                            bool wait, bool /*show: no desktop*/, const char* folder) {
  return StartProgram(file, SplitParameters(parameters), wait, folder);
}

ShellStartResult StartProgram(const char* file, const std::vector<std::string>& arguments, bool wait,
                              const char* folder) {
  ShellStartResult result;
  if (file == nullptr || *file == '\0') {
    result.error = kErrorInvalidParameter;
    return result;
  }
  std::vector<std::string> words = arguments;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(file));
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (folder != nullptr && *folder != '\0') {
    posix_spawn_file_actions_addchdir_np(&actions, folder);
  }
  pid_t pid = 0;
  const bool search = std::string_view(file).find('/') == std::string_view::npos;
  const int spawn_error = search ? posix_spawnp(&pid, file, &actions, nullptr, argv.data(), environ)
                                 : posix_spawn(&pid, file, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) {
    result.error = ErrorFromErrno(spawn_error);
    return result;
  }
  if (!wait) {
    // Nobody else waits for this child; collecting it keeps it from
    // lingering as a zombie for the life of the service.
    std::thread([pid] {
      bool ignored = false;
      WaitForExit(pid, &ignored);
    }).detach();
    result.ok = true;
    return result;
  }
  result.exit_code = WaitForExit(pid, &result.ok);
  if (!result.ok) {
    result.error = ErrorFromErrno(errno);
  }
  return result;
}

bool FindProcessByName(const char* name, uint32_t* process_id, uint32_t* error) {
  const auto fail = [error](uint32_t code) {
    if (error != nullptr) {
      *error = code;
    }
    return false;
  };
  if (name == nullptr || process_id == nullptr || error == nullptr) {
    return fail(kFindProcessBadArgument);
  }
  if (access("/proc/self", F_OK) != 0) {
    return fail(kFindProcessNoProcfs);
  }
  if (ImageName("self").empty()) {
    return fail(kFindProcessNoImageInfo);
  }
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return fail(kFindProcessListFailed);
  }
  bool found = false;
  uint32_t lowest = 0;
  while (const dirent* entry = readdir(proc)) {
    const std::string_view pid_text = entry->d_name;
    if (pid_text.empty() || !std::all_of(pid_text.begin(), pid_text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const auto pid = static_cast<uint32_t>(std::stoul(std::string(pid_text)));
    if ((!found || pid < lowest) && NameMatches(ImageName(std::string(pid_text)), name)) {
      found = true;
      lowest = pid;
    }
  }
  closedir(proc);
  if (!found) {
    return fail(kFindProcessNotFound);
  }
  *process_id = lowest;
  *error = 0;
  return true;
}

bool EveryoneSecurityAttributes::Build(uint32_t access_mask, const SecurityAttributes** out) {
  if (out == nullptr) {
    return false;
  }
  attributes_.everyone_access = access_mask;
  *out = &attributes_;
  return true;
}

void EveryoneSecurityAttributes::Release() {
  attributes_ = SecurityAttributes{};
}

}  // namespace platform
