// Plain-text building blocks of agentctl's human output: ages relative to
// now ("3 min ago") and label/value rows aligned on one column.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace agentctl {

// "just now", "42 s ago", "3 min ago", "5 h ago", "2 days ago"; a time after
// `now` (a clock set back) reads "in the future".
[[nodiscard]] std::string AgeText(int64_t then, int64_t now);
// "2026-12-05 20:31:02 UTC (3 min ago)".
[[nodiscard]] std::string TimeAndAge(int64_t then, int64_t now);

using Rows = std::vector<std::pair<std::string, std::string>>;
// One "label   value" line per row, values starting in the same column.
[[nodiscard]] std::string AlignedRows(const Rows& rows);
// A table with a header row; every column as wide as its widest cell.
[[nodiscard]] std::string AlignedTable(const std::vector<std::vector<std::string>>& lines);

}  // namespace agentctl
