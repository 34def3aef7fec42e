#include "pending_view.h"

#include <agsuite/agmisc.h>

#include "core/casupp/pending_records.h"
#include "text_layout.h"

namespace agentctl {
namespace {

struct RecordFacts {
  std::string list;      // "ack" or "notification"
  std::string kind;      // "command 49" or "kind 2, data 118"; "unreadable" when it does not parse
  std::optional<std::string> guid;
  std::optional<int> lease_pid;
  std::string lease_text;  // "pid 1234", "none", or the raw holder text
};

RecordFacts Describe(const StoredPending& record) {
  RecordFacts facts;
  if (record.list == CL_PENDING_LIST_COMMAND_ACK) {
    facts.list = "ack";
    if (const auto ack = ParsePendingCommandAck(record.bytes.data(), record.bytes.size())) {
      facts.kind = "command " + std::to_string(ack->cmdId) + ", status " + std::to_string(ack->status);
      if (!ack->guid.empty()) facts.guid = ack->guid;
    } else {
      facts.kind = "unreadable";
    }
  } else if (record.list == CL_PENDING_LIST_CLIENT_NOTIFICATION) {
    facts.list = "notification";
    if (const auto note = ParsePendingNotification(record.bytes.data(), record.bytes.size())) {
      facts.kind = "kind " + std::to_string(note->kind) + ", data " + std::to_string(note->dataId);
    } else {
      facts.kind = "unreadable";
    }
  } else {
    facts.list = "list " + std::to_string(record.list);
    facts.kind = "unknown";
  }
  // A holder is "<boot id>/<pid>/<start ticks>" (the support library's lease owner).
  facts.lease_text = "none";
  if (record.lease_owner) {
    facts.lease_text = *record.lease_owner;
    const size_t first = record.lease_owner->find('/');
    const size_t second = first == std::string::npos ? first : record.lease_owner->find('/', first + 1);
    if (second != std::string::npos) {
      const std::string pid = record.lease_owner->substr(first + 1, second - first - 1);
      if (!pid.empty() && pid.size() < 10 && pid.find_first_not_of("0123456789") == std::string::npos) {
        facts.lease_pid = std::stoi(pid);
        facts.lease_text = "pid " + pid;
      }
    }
  }
  return facts;
}

}  // namespace

PendingSummary SummariseList(const std::vector<StoredPending>& pending, uint32_t list) {
  PendingSummary summary;
  for (const auto& record : pending) {
    if (record.list != list) continue;
    ++summary.count;
    if (record.stored_at && (!summary.oldest_stored_at || *record.stored_at < *summary.oldest_stored_at)) {
      summary.oldest_stored_at = record.stored_at;
    }
  }
  return summary;
}

std::string SummaryText(const PendingSummary& summary, int64_t now) {
  if (summary.count == 0) return "none";
  std::string text = std::to_string(summary.count);
  if (summary.oldest_stored_at) text += " (oldest " + AgeText(*summary.oldest_stored_at, now) + ")";
  return text;
}

Json::Value SummaryJson(const PendingSummary& summary, int64_t now) {
  Json::Value out(Json::objectValue);
  out["count"] = Json::UInt64(summary.count);
  out["oldestStoredAt"] = summary.oldest_stored_at ? Json::Value(Json::Int64(*summary.oldest_stored_at)) : Json::Value();
  out["oldestAgeSeconds"] =
      summary.oldest_stored_at ? Json::Value(Json::Int64(now - *summary.oldest_stored_at)) : Json::Value();
  return out;
}

std::string PendingText(const std::vector<StoredPending>& pending, int64_t now) {
  if (pending.empty()) return "No pending records.\n";
  std::vector<std::vector<std::string>> lines{{"LIST", "ID", "KIND", "GUID", "AGE", "LEASE"}};
  for (const auto& record : pending) {
    const RecordFacts facts = Describe(record);
    lines.push_back({facts.list, std::to_string(record.record_id), facts.kind, facts.guid.value_or("-"),
                     record.stored_at ? AgeText(*record.stored_at, now) : "unknown", facts.lease_text});
  }
  return AlignedTable(lines);
}

Json::Value PendingJson(const std::vector<StoredPending>& pending, int64_t now) {
  Json::Value out(Json::arrayValue);
  for (const auto& record : pending) {
    const RecordFacts facts = Describe(record);
    Json::Value item(Json::objectValue);
    item["list"] = facts.list;
    item["listNumber"] = record.list;
    item["id"] = Json::UInt64(record.record_id);
    item["kind"] = facts.kind;
    item["guid"] = facts.guid ? Json::Value(*facts.guid) : Json::Value();
    item["storedAt"] = record.stored_at ? Json::Value(Json::Int64(*record.stored_at)) : Json::Value();
    item["ageSeconds"] = record.stored_at ? Json::Value(Json::Int64(now - *record.stored_at)) : Json::Value();
    item["leaseOwner"] = record.lease_owner ? Json::Value(*record.lease_owner) : Json::Value();
    item["leasePid"] = facts.lease_pid ? Json::Value(*facts.lease_pid) : Json::Value();
    out.append(item);
  }
  return out;
}

}  // namespace agentctl
