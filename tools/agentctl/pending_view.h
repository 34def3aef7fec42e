// Pending records as an operator reads them: which list, what they carry,
// how long they have waited and which process holds their lease.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store_snapshot.h"

namespace agentctl {

struct PendingSummary {
  size_t count = 0;
  std::optional<int64_t> oldest_stored_at;
};

// Summary of one list (CL_PENDING_LIST_COMMAND_ACK or ..._CLIENT_NOTIFICATION).
[[nodiscard]] PendingSummary SummariseList(const std::vector<StoredPending>& pending, uint32_t list);
// "2 (oldest 3 min ago)", "none".
[[nodiscard]] std::string SummaryText(const PendingSummary& summary, int64_t now);
[[nodiscard]] Json::Value SummaryJson(const PendingSummary& summary, int64_t now);

// `agentctl pending`: one line per record, or the JSON array.
[[nodiscard]] std::string PendingText(const std::vector<StoredPending>& pending, int64_t now);
[[nodiscard]] Json::Value PendingJson(const std::vector<StoredPending>& pending, int64_t now);

}  // namespace agentctl
