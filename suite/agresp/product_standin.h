// The protection product as this suite sees it: its installation folder
// (AGPreInstGetAvInstallationPath; a missing folder means "not installed") and
// the small files in it through which the product and the agent meet:
//   status.json           product status object (read for status item 9)
//   policy.json           {"version": text, "features": {"<id>": text}}
//   reports.db            report database (SQLite, see report_chunks.h)
//   product_events.jsonl  journal of everything the agent tells the product,
//                         one compact JSON object per line (appended here)
// The product owns the first three; the agent only reads them, except that a
// policy command rewrites policy.json and a report reset empties the report
// table of reports.db.
// Safe from any thread: journal lines are appended with one write each.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>

namespace agresp {

inline constexpr char kProductStatusFile[] = "status.json";
inline constexpr char kProductPolicyFile[] = "policy.json";
inline constexpr char kProductReportDbFile[] = "reports.db";
inline constexpr char kProductReportExportFile[] = "reports_export.db";
inline constexpr char kProductJournalFile[] = "product_events.jsonl";

class ProtectionProduct {
 public:
  // The product as installed now; IsInstalled() is false when its folder is missing.
  static ProtectionProduct Locate();

  [[nodiscard]] bool IsInstalled() const { return folder_.has_value(); }
  // Folder with a trailing '/', empty when not installed.
  [[nodiscard]] std::string Folder() const { return folder_.value_or(std::string()); }
  [[nodiscard]] std::string PathOf(const char* file) const { return Folder() + file; }

  // The object held in `file`; null when missing, unreadable or not an object.
  [[nodiscard]] Json::Value ReadObject(const char* file) const;
  // Replaces `file` atomically with the compact text of `value`.
  [[nodiscard]] bool WriteObject(const char* file, const Json::Value& value) const;
  // Adds "time" and appends the entry to the journal. False when not installed.
  [[nodiscard]] bool Tell(Json::Value entry) const;
  // Hands out a snapshot of the report database (reports_export.db); false
  // when there is no database. *last_id: newest record in the snapshot.
  [[nodiscard]] bool ExportReportDb(int64_t* last_id) const;
  // Deletes the records up to `up_to` (all without it) from the report
  // database (created empty when missing).
  [[nodiscard]] bool ResetReportDb(std::optional<int64_t> up_to) const;

 private:
  std::optional<std::string> folder_;
};

}  // namespace agresp
