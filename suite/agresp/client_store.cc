#include "client_store.h"

#include <algorithm>
#include <cstring>

#include "resp_log.h"

namespace agresp {

ClientStore::ClientStore() {
  if (CLOpenDatabase(&db_) == 0) {
    RESPLOG(AG_LOG_FAILURE, "CLOpenDatabase failed");
    db_ = nullptr;
  }
}

ClientStore::~ClientStore() {
  if (db_ != nullptr && CLCloseDatabase(db_) == 0) RESPLOG(AG_LOG_PASSED_OVER, "CLCloseDatabase failed");
}

bool ClientStore::Read(uint32_t id, uint32_t size, void* buffer) {
  return db_ != nullptr && CLGetDataByType(db_, id, CL_DATA_TYPE_BLOB, size, buffer) != 0;
}

bool ClientStore::Write(uint32_t id, uint32_t size, const void* buffer) {
  if (db_ == nullptr || CLSetDataByType(db_, id, CL_DATA_TYPE_BLOB, size, buffer) == 0) {
    RESPLOG(AG_LOG_FAILURE, "CLSetDataByType failed for %u", id);
    return false;
  }
  return true;
}

std::optional<std::string> ClientStore::ReadText(uint32_t id) {
  char buffer[kStoreTextMax] = {};
  if (!Read(id, sizeof(buffer), buffer)) return std::nullopt;
  return std::string(buffer, strnlen(buffer, sizeof(buffer)));
}

bool ClientStore::WriteText(uint32_t id, const std::string& text) {
  const std::string bounded = text.substr(0, kStoreTextMax - 1);
  return Write(id, static_cast<uint32_t>(bounded.size() + 1), bounded.c_str());
}

std::vector<char> ClientStore::ReadLocations(uint32_t id) {
  std::vector<char> record(kLocationRecordSize, '\0');
  if (!Read(id, kLocationRecordSize, record.data())) std::fill(record.begin(), record.end(), '\0');
  return record;
}

std::string LocationSlot(const std::vector<char>& record, uint32_t offset) {
  if (record.size() < offset + kLocationSlotSize) return {};
  const char* slot = record.data() + offset;
  return std::string(slot, strnlen(slot, kLocationSlotSize));
}

void SetLocationSlot(std::vector<char>& record, uint32_t offset, const std::string& text) {
  if (record.size() < offset + kLocationSlotSize) return;
  const size_t length = std::min<size_t>(text.size(), kLocationSlotSize - 1);
  std::memset(record.data() + offset, 0, kLocationSlotSize);
  std::memcpy(record.data() + offset, text.data(), length);
}

}  // namespace agresp
