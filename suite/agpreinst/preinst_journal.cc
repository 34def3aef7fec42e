#include "preinst_journal.h"

#include <agsuite/agevtlog.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/clock.h"
#include "platform/folders.h"
#include "product_folder.h"

namespace agpreinst {
namespace {

constexpr const char* kJournalName = "agpreinst.log";
constexpr const char* kModuleName = "agpreinst.dll";

std::string TimeStamp() {
  const time_t now = static_cast<time_t>(platform::GetClock().NowSeconds());
  struct tm utc {};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

void Record(const std::string& line) {
  AgEvtLogWrite(AG_LOG_PROGRESS, kModuleName, "Record", __FILE__, __LINE__, "%s", line.c_str());
  // The product folder is only a fall-back when it exists: creating it for
  // the journal would make the product look installed.
  const auto temp = AgentTempFolder();
  std::error_code ec;
  if (!temp && !std::filesystem::is_directory(ProductFolder(), ec)) return;
  const std::string folder = temp ? *temp : ProductFolder();
  if (!platform::EnsureFolder(folder)) return;
  static std::mutex journal_mutex;
  std::lock_guard lock(journal_mutex);
  std::ofstream journal(folder + kJournalName, std::ios::app);
  journal << TimeStamp() << ' ' << line << '\n';
}

}  // namespace agpreinst
