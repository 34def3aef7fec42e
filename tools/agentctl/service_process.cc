#include "service_process.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace agentctl {
namespace {

constexpr std::string_view kServiceName = "agentsvc";

// "/a/b/" and "/a/b" name the same folder; so do two paths to one inode.
bool SameFolder(const std::string& left, const std::string& right) {
  std::error_code ec;
  if (std::filesystem::equivalent(left, right, ec)) return true;
  return std::filesystem::path(left).lexically_normal() == std::filesystem::path(right).lexically_normal() ||
         std::filesystem::path(left + "/").lexically_normal() == std::filesystem::path(right + "/").lexically_normal();
}

std::vector<std::string> CommandLine(const std::filesystem::path& process) {
  std::ifstream in(process / "cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    args.emplace_back(raw, start, end - start);
    start = end + 1;
  }
  return args;
}

bool ServesRoot(const std::vector<std::string>& args, const std::string& agent_root) {
  if (args.empty() || std::filesystem::path(args[0]).filename() != kServiceName) return false;
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--root") return SameFolder(args[i + 1], agent_root);
  }
  return false;
}

}  // namespace

std::optional<int> FindServicePid(const std::string& proc, const std::string& agent_root) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(proc, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (ServesRoot(CommandLine(entry.path()), agent_root)) return std::stoi(name);
  }
  return std::nullopt;
}

}  // namespace agentctl
