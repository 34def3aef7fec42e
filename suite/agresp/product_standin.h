// The protection product as this suite sees it: its installation folder
// (AGPreInstGetAvInstallationPath; a missing folder means "not installed") and
// the small files in it through which the product and the agent meet:
//   status.json           product status object (read for status item 9)
//   policy.json           {"version": text, "features": {"<id>": text}}
//   reports.db            report database, one JSON object per line
//   product_events.jsonl  journal of everything the agent tells the product,
//                         one compact JSON object per line (appended here)
// The product owns the first three; the agent only reads them, except that a
// policy command rewrites policy.json and a report reset empties reports.db.
// Safe from any thread: journal lines are appended with one write each.
#pragma once

#include <json/json.h>

#include <optional>
#include <string>

namespace agresp {

inline constexpr char kProductStatusFile[] = "status.json";
inline constexpr char kProductPolicyFile[] = "policy.json";
inline constexpr char kProductReportDbFile[] = "reports.db";
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
  // Empties the report database (the product starts a fresh one).
  [[nodiscard]] bool ResetReportDb() const;

 private:
  std::optional<std::string> folder_;
};

}  // namespace agresp
