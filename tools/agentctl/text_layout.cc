#include "text_layout.h"

#include <algorithm>
#include <ctime>

namespace agentctl {

std::string AgeText(int64_t then, int64_t now) {
  if (then > now) return "in the future";
  const int64_t seconds = now - then;
  if (seconds < 5) return "just now";
  if (seconds < 60) return std::to_string(seconds) + " s ago";
  if (seconds < 3600) return std::to_string(seconds / 60) + " min ago";
  if (seconds < 2 * 86400) return std::to_string(seconds / 3600) + " h ago";
  return std::to_string(seconds / 86400) + " days ago";
}

std::string TimeAndAge(int64_t then, int64_t now) {
  const std::time_t time = static_cast<std::time_t>(then);
  std::tm utc{};
  char text[32] = "?";
  if (gmtime_r(&time, &utc) != nullptr) std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &utc);
  return std::string(text) + " (" + AgeText(then, now) + ")";
}

std::string AlignedRows(const Rows& rows) {
  size_t width = 0;
  for (const auto& [label, value] : rows) width = std::max(width, label.size());
  std::string out;
  for (const auto& [label, value] : rows) out += label + std::string(width - label.size() + 2, ' ') + value + "\n";
  return out;
}

std::string AlignedTable(const std::vector<std::vector<std::string>>& lines) {
  std::vector<size_t> widths;
  for (const auto& line : lines) {
    if (widths.size() < line.size()) widths.resize(line.size(), 0);
    for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  std::string out;
  for (const auto& line : lines) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
      text += line[i];
      if (i + 1 < line.size()) text += std::string(widths[i] - line[i].size() + 2, ' ');
    }
    out += text + "\n";
  }
  return out;
}

}  // namespace agentctl
