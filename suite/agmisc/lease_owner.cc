#include "lease_owner.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>

namespace agmisc {
namespace {

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string BootId() {
  // Read once: it does not change while the machine runs.
  static const std::string* boot_id = new std::string(ReadFirstLine("/proc/sys/kernel/random/boot_id"));
  return *boot_id;
}

struct ProcessStart {
  bool exists = false;
  bool zombie = false;
  std::string start_ticks;
};

// Field 3 (state) and field 22 (start time) of /proc/<pid>/stat. The command
// name in field 2 may hold blanks and parentheses, so parsing starts after
// its last ')'.
ProcessStart ReadProcessStart(const std::string& pid) {
  ProcessStart result;
  const std::string stat = ReadFirstLine("/proc/" + pid + "/stat");
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return result;
  std::istringstream fields(stat.substr(name_end + 1));
  std::string field;
  for (int index = 3; index <= 22 && (fields >> field); ++index) {
    if (index == 3) result.zombie = (field == "Z" || field == "X");
    if (index == 22) {
      result.exists = true;
      result.start_ticks = field;
    }
  }
  return result;
}

bool IsDecimal(std::string_view text) {
  if (text.empty()) return false;
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string CurrentLeaseOwner() {
  // Cached per process id: a forked child recomputes its own. Never
  // destroyed, like the store pool that uses it during process exit.
  struct Cache {
    std::mutex lock;
    pid_t pid = 0;       // guarded by lock
    std::string owner;   // guarded by lock
  };
  static Cache* cache = new Cache;
  std::lock_guard<std::mutex> guard(cache->lock);
  if (cache->pid != ::getpid()) {
    cache->pid = ::getpid();
    const std::string pid = std::to_string(cache->pid);
    cache->owner = BootId() + "/" + pid + "/" + ReadProcessStart(pid).start_ticks;
  }
  return cache->owner;
}

bool IsLeaseOwnerAlive(const std::string& owner) {
  const size_t first = owner.find('/');
  const size_t second = first == std::string::npos ? first : owner.find('/', first + 1);
  if (second == std::string::npos) return false;
  if (owner.substr(0, first) != BootId()) return false;
  const std::string pid = owner.substr(first + 1, second - first - 1);
  if (!IsDecimal(pid)) return false;
  const ProcessStart start = ReadProcessStart(pid);
  return start.exists && !start.zombie && start.start_ticks == owner.substr(second + 1);
}

}  // namespace agmisc
