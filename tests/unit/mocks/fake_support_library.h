// In-memory stand-in for the support library: a numbered store, the pending
// lists 14 and 15 with leases, the event table, INI-held records, identities,
// folders and the settings the core reads. Tests install it with
// ScopedSiblings and inspect or preset its state through the public helpers.
//
// Failures are switched on per operation with Fail(op). All methods take the
// one internal mutex, so core threads and the test thread may use it at once.
#pragma once

#include <agsuite/agmisc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/siblings/support_library.h"

class InMemorySupportLibrary : public ISupportLibrary {
 public:
  enum class Op { kOpen, kSet, kSetPending, kGetGuid, kGetUdi };

  struct PendingRecord {
    uint64_t id;
    uint32_t list;
    std::vector<uint8_t> data;
    bool leased;
  };

  // --- test controls ------------------------------------------------------
  void Fail(Op op, bool fail = true) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fail) {
      failing_.insert(op);
    } else {
      failing_.erase(op);
    }
  }
  // Stores of this one id fail; other ids are stored.
  void FailSetOf(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_ids_.insert(id);
  }

  void PutBlob(uint32_t id, const void* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_[id] = Bytes(data, size);
  }
  template <typename T>
  void PutValue(uint32_t id, const T& value) {
    PutBlob(id, &value, sizeof(T));
  }
  std::optional<std::vector<uint8_t>> Blob(uint32_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = store_.find(id);
    if (it == store_.end()) return std::nullopt;
    return it->second;
  }
  template <typename T>
  std::optional<T> Value(uint32_t id) const {
    auto blob = Blob(id);
    if (!blob || blob->size() < sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, blob->data(), sizeof(T));
    return value;
  }
  bool HasBlob(uint32_t id) const { return Blob(id).has_value(); }

  // Every pending record still stored (leased or not), oldest first.
  std::vector<PendingRecord> Pending() const { return ReadValue(pending_); }
  std::vector<PendingRecord> PendingInList(uint32_t list) const {
    std::vector<PendingRecord> out;
    for (const auto& r : Pending()) {
      if (r.list == list) out.push_back(r);
    }
    return out;
  }
  uint64_t AddPending(uint32_t list, const std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    return AddPendingLocked(list, data, false);
  }

  // The numbered entries and pending records as a SIGKILL at this moment
  // leaves them: every lease ends with the process.
  struct StoreImage {
    std::map<uint32_t, std::vector<uint8_t>> entries;
    std::vector<PendingRecord> pending;
  };
  StoreImage ImageAtKill() const {
    std::lock_guard<std::mutex> lock(mutex_);
    StoreImage image{store_, pending_};
    for (auto& r : image.pending) r.leased = false;
    return image;
  }
  void RestartFrom(const StoreImage& image) {
    std::lock_guard<std::mutex> lock(mutex_);
    store_ = image.entries;
    pending_ = image.pending;
  }

  void SetGuid(const std::string& guid) { Write(guid_, guid); }
  std::string Guid() const { return ReadValue(guid_); }
  void SetUdi(const std::string& udi) { Write(udi_, udi); }
  void SetRootDir(const std::u16string& dir) { Write(root_dir_, dir); }
  void SetRegStatusValue(uint32_t status, bool relay) { Write(reg_status_[relay ? 1 : 0], status); }
  uint32_t RegStatusValue(bool relay) const { return ReadValue(reg_status_[relay ? 1 : 0]); }
  uint64_t LastConnectedTime() const { return ReadValue(last_connected_); }
  std::optional<AgProxySettings> Proxy() const { return ReadValue(proxy_); }
  void SetPtpEnabled(uint8_t v) { Write(ptp_enabled_, v); }
  void SetWebServerInstalled(uint8_t v) { Write(web_server_installed_, v); }
  void SetAvDownloadUrlSrc(uint32_t v) { Write(av_download_url_src_, v); }
  void SetReducedHb(uint32_t max_count, uint32_t value) {
    Write(reduced_hb_max_count_, max_count);
    Write(reduced_hb_value_, value);
  }
  uint32_t UpgradeType() const { return ReadValue(upgrade_type_); }
  uint32_t AutoUpgrade() const { return ReadValue(auto_upgrade_); }

  // --- client data store ----------------------------------------------------
  uint8_t CLOpenDatabase(CLDBHANDLE* phDb) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (phDb == nullptr || failing_.count(Op::kOpen)) return 0;
    *phDb = reinterpret_cast<CLDBHANDLE>(this);
    return 1;
  }
  uint8_t CLCloseDatabase(CLDBHANDLE) override { return 1; }
  uint8_t CLGetDataByType(CLDBHANDLE, uint32_t id, uint32_t, uint32_t size, void* buffer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = store_.find(id);
    if (it == store_.end() || it->second.size() > size || buffer == nullptr) return 0;
    std::memset(buffer, 0, size);
    if (!it->second.empty()) std::memcpy(buffer, it->second.data(), it->second.size());
    return 1;
  }
  uint8_t CLSetDataByType(CLDBHANDLE, uint32_t id, uint32_t, uint32_t size, const void* buffer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failing_.count(Op::kSet) || failing_ids_.count(id)) return 0;
    store_[id] = Bytes(buffer, size);
    return 1;
  }
  uint8_t CLDeleteDataById(CLDBHANDLE, uint32_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    store_.erase(id);
    return 1;
  }
  uint8_t CLSetPendingCommand(CLDBHANDLE, uint32_t list, uint32_t, uint32_t size, const void* record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failing_.count(Op::kSetPending) || record == nullptr) return 0;
    AddPendingLocked(list, Bytes(record, size), false);
    return 1;
  }
  uint8_t CLGetPendingTasksUpTo(CLDBHANDLE, uint32_t maxCount, CLPendingTaskList** ppList) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ppList == nullptr) return 0;
    std::vector<PendingRecord*> handed;
    for (auto& r : pending_) {
      if (!r.leased && handed.size() < maxCount) handed.push_back(&r);
    }
    auto* list = new CLPendingTaskList{static_cast<uint32_t>(handed.size()), nullptr};
    if (!handed.empty()) list->pTasks = new CLPendingTask[handed.size()];
    for (size_t i = 0; i < handed.size(); ++i) {
      handed[i]->leased = true;
      auto& t = list->pTasks[i];
      t.dwList = handed[i]->list;
      t.qwRecordId = handed[i]->id;
      t.dwSize = static_cast<uint32_t>(handed[i]->data.size());
      t.pData = new uint8_t[t.dwSize ? t.dwSize : 1];
      if (t.dwSize) std::memcpy(t.pData, handed[i]->data.data(), t.dwSize);
    }
    *ppList = list;
    return 1;
  }
  uint8_t CLFreePendingTasks(CLPendingTaskList* pList) override {
    if (pList == nullptr) return 0;
    for (uint32_t i = 0; i < pList->dwCount; ++i) delete[] pList->pTasks[i].pData;
    delete[] pList->pTasks;
    delete pList;
    return 1;
  }
  uint8_t CLCompletePendingTask(CLDBHANDLE, uint64_t recordId) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& r) { return r.id == recordId; });
    if (it == pending_.end()) return 0;
    pending_.erase(it);
    return 1;
  }
  uint8_t CLReturnPendingTask(CLDBHANDLE, uint64_t recordId) override {
    std::lock_guard<std::mutex> lock(mutex_);
    PendingRecord* r = FindPending(recordId);
    if (r == nullptr) return 0;
    r->leased = false;
    return 1;
  }
  uint8_t CLSetDataWithLeasedPending(CLDBHANDLE, uint32_t id, uint32_t, uint32_t size, const void* buffer,
                                     uint32_t list, uint32_t recordSize, const void* record,
                                     uint64_t* pRecordId) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failing_.count(Op::kSet) || failing_ids_.count(id) || buffer == nullptr || record == nullptr) return 0;
    store_[id] = Bytes(buffer, size);
    *pRecordId = AddPendingLocked(list, Bytes(record, recordSize), true);
    return 1;
  }
  uint8_t CLUpdatePendingTask(CLDBHANDLE, uint64_t recordId, uint32_t size, const void* record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    PendingRecord* r = FindPending(recordId);
    if (r == nullptr || !r->leased) return 0;
    r->data = Bytes(record, size);
    return 1;
  }
  uint8_t CLGetDataByEvtID(CLDBHANDLE, uint32_t eventId, int32_t* pFrequency, int64_t* pLastSync) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = events_.find(eventId);
    if (it == events_.end()) return 0;
    if (pFrequency) *pFrequency = it->second.first;
    if (pLastSync) *pLastSync = it->second.second;
    return 1;
  }
  uint8_t CLAddEventLastSync(CLDBHANDLE, uint32_t eventId, int32_t frequency, int64_t lastSync) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_[eventId] = {frequency, lastSync};
    return 1;
  }

  // --- identities -------------------------------------------------------------
  uint8_t GetClientGUID(char* buffer, uint32_t size) override { return CopyText(guid_, Op::kGetGuid, buffer, size); }
  uint8_t SetClientGUID(const char* guid) override { return Write(guid_, std::string(guid ? guid : "")); }
  uint8_t GetClientGUIDText(char* buffer, uint32_t size) override { return CopyText(guid_, {}, buffer, size); }
  uint8_t GetClientUDI(char* buffer, uint32_t size) override { return CopyText(udi_, Op::kGetUdi, buffer, size); }
  uint8_t SetClientUDI(const char* udi) override { return Write(udi_, std::string(udi ? udi : "")); }
  uint8_t EncryptTenantId(const char* tenantId, char* buffer, uint32_t size) override {
    if (tenantId == nullptr) return 0;
    return CopyText(std::string("enc:") + tenantId, {}, buffer, size);
  }
  uint8_t GetProductIDForXUA(char* buffer, uint32_t size) override {
    return CopyText(std::string("PRODUCT-ID"), {}, buffer, size);
  }

  // --- folders ------------------------------------------------------------------
  uint8_t GetClientAgentRootDir(char16_t* buffer, uint32_t sizeUnits) override { return CopyDir(u"", buffer, sizeUnits); }
  uint8_t GetClientAgentConfigDir(char16_t* buffer, uint32_t sizeUnits) override {
    return CopyDir(u"config/", buffer, sizeUnits);
  }
  uint8_t GetClientAgentTempDir(char16_t* buffer, uint32_t sizeUnits) override {
    return CopyDir(u"temp/", buffer, sizeUnits);
  }
  uint8_t GetModulePathW(char16_t* buffer, uint32_t sizeUnits) override { return CopyDir(u"", buffer, sizeUnits); }

  uint8_t WriteProxySettings(const AgProxySettings* settings) override {
    return settings != nullptr && Write(proxy_, std::optional<AgProxySettings>(*settings));
  }

  // --- INI-held records -------------------------------------------------------
  uint32_t GetClientAgentGlobalInfoFromINI(uint32_t, const char16_t* section, uint32_t size, void* record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (section == nullptr || record == nullptr) return 0;
    auto it = ini_.find(section);
    if (it == ini_.end()) return 0;
    if (size == AG_UPGRADE_DATA_WHOLE) size = static_cast<uint32_t>(it->second.size());
    std::memset(record, 0, size);
    std::memcpy(record, it->second.data(), std::min<size_t>(size, it->second.size()));
    return 1;
  }
  uint32_t SetClientAgentGlobalInfoToINI(uint32_t, const char16_t* section, uint32_t size,
                                         const void* record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (section == nullptr || record == nullptr) return 0;
    if (size == AG_UPGRADE_DATA_WHOLE) size = AG_UPGRADE_DATA_SIZE;
    auto& slot = ini_[section];
    if (slot.size() < size) slot.resize(size);
    std::memcpy(slot.data(), record, size);
    return 1;
  }
  uint8_t GetUpgrdCmdInfoFromINI(uint32_t which, AgUpgradeCmdRecord* record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = upgrade_cmds_.find(which);
    if (it == upgrade_cmds_.end() || record == nullptr) return 0;
    *record = it->second;
    return 1;
  }
  uint8_t SetUpgrdCmdInfoToINI(uint32_t which, const AgUpgradeCmdRecord* record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (record == nullptr) return 0;
    upgrade_cmds_[which] = *record;
    return 1;
  }
  uint8_t GetClientUpgradeType(uint32_t* type) override { return Read(upgrade_type_, type); }
  uint8_t SetClientUpgradeType(uint32_t type) override { return Write(upgrade_type_, type); }
  uint8_t SetClientAutoUpgrade(uint32_t consent) override { return Write(auto_upgrade_, consent); }
  uint8_t GetAVUpgradeStatus(uint32_t* status) override { return Read(av_upgrade_status_, status); }

  // --- registration and connection state ----------------------------------------
  uint8_t GetClientRegStatus(uint32_t* status, uint8_t relay) override {
    return Read(reg_status_[relay ? 1 : 0], status);
  }
  uint8_t SetClientRegStatus(uint32_t status, uint8_t relay) override {
    return Write(reg_status_[relay ? 1 : 0], status);
  }
  uint8_t GetClientConnectionStatus(uint32_t* state) override { return Read(connection_status_, state); }
  uint8_t SetLastConnectedTime(uint64_t secondsSince1970) override { return Write(last_connected_, secondsSince1970); }

  // --- feature flags ---------------------------------------------------------------
  uint8_t GetPTPStatus(uint8_t* enabled) override { return Read(ptp_enabled_, enabled); }
  uint8_t GetIsWebServerInstalled(uint8_t* installed) override { return Read(web_server_installed_, installed); }
  uint8_t GetgetURLReducedClientHBMaxCount(uint32_t* value) override { return Read(reduced_hb_max_count_, value); }
  uint8_t GetgetURLReducedClientHBValue(uint32_t* value) override { return Read(reduced_hb_value_, value); }
  uint8_t GetAVDownloadUrlSrc(uint32_t* value) override { return Read(av_download_url_src_, value); }
  uint8_t GetOrSetAssetTagName(char* buffer, uint32_t size, uint8_t* flag, uint32_t mode) override {
    if (mode == 2) return Write(asset_tag_changed_, uint8_t{0});
    if (flag) *flag = ReadValue(asset_tag_changed_);
    return CopyText(asset_tag_, {}, buffer, size);
  }

 private:
  static std::vector<uint8_t> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    return p ? std::vector<uint8_t>(p, p + size) : std::vector<uint8_t>();
  }
  // Callers hold mutex_.
  uint64_t AddPendingLocked(uint32_t list, std::vector<uint8_t> data, bool leased) {
    pending_.push_back({next_record_id_, list, std::move(data), leased});
    return next_record_id_++;
  }
  PendingRecord* FindPending(uint64_t recordId) {
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& r) { return r.id == recordId; });
    return it == pending_.end() ? nullptr : &*it;
  }
  // Copies `text` (read under mutex_) unless `failure` is switched on.
  uint8_t CopyText(const std::string& text, std::optional<Op> failure, char* buffer, uint32_t size) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((failure && failing_.count(*failure)) || buffer == nullptr || size == 0 || text.size() >= size) return 0;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 1;
  }
  uint8_t CopyDir(const std::u16string& leaf, char16_t* buffer, uint32_t sizeUnits) const {
    const std::u16string dir = ReadValue(root_dir_) + leaf;
    if (buffer == nullptr || dir.size() >= sizeUnits) return 0;
    std::copy(dir.begin(), dir.end(), buffer);
    buffer[dir.size()] = 0;
    return 1;
  }
  template <typename T>
  uint8_t Read(const T& field, T* out) const {
    if (out == nullptr) return 0;
    *out = ReadValue(field);
    return 1;
  }
  template <typename T>
  T ReadValue(const T& field) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return field;
  }
  template <typename T>
  uint8_t Write(T& field, T value) {
    std::lock_guard<std::mutex> lock(mutex_);
    field = std::move(value);
    return 1;
  }

  mutable std::mutex mutex_;
  std::set<Op> failing_;
  std::set<uint32_t> failing_ids_;
  std::map<uint32_t, std::vector<uint8_t>> store_;
  std::vector<PendingRecord> pending_;
  uint64_t next_record_id_ = 1;
  std::map<uint32_t, std::pair<int32_t, int64_t>> events_;
  std::map<std::u16string, std::vector<uint8_t>> ini_;
  std::map<uint32_t, AgUpgradeCmdRecord> upgrade_cmds_;
  std::optional<AgProxySettings> proxy_;
  std::string guid_;
  std::string udi_;
  std::u16string root_dir_ = (std::filesystem::temp_directory_path() / "agroot/").u16string();  // never made
  std::string asset_tag_;
  uint8_t asset_tag_changed_ = 0;
  uint32_t reg_status_[2] = {0, 0};
  uint32_t connection_status_ = 0;
  uint64_t last_connected_ = 0;
  uint32_t upgrade_type_ = 0;
  uint32_t auto_upgrade_ = 0;
  uint32_t av_upgrade_status_ = 0;
  uint8_t ptp_enabled_ = 0;
  uint8_t web_server_installed_ = 0;
  uint32_t reduced_hb_max_count_ = 0;
  uint32_t reduced_hb_value_ = 0;
  uint32_t av_download_url_src_ = 0;
};
