// Test environment of the support library: a private agent root under a
// fresh temporary folder, and helpers shared by the test files.
// Single-threaded set-up and tear-down.
#pragma once

#include <agsuite/agmisc.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "store_pool.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace agmisc_test {

class AgentRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test_support::MakeScratchFolder("agmisc-") + "/";
    ASSERT_EQ(AGMiscSetAgentRoot(root_.c_str()), 1);
    agmisc::SetStoreBusyTimeoutMs(agmisc::kDefaultBusyTimeoutMs);
  }
  void TearDown() override {
    agmisc::DropIdleStores();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::string StorePath() const { return root_ + "data/agclient.db"; }
  std::string ConfigPath(const std::string& name) const { return root_ + "config/" + name; }

  std::string root_;
};

// A store handle closed at scope exit.
class OpenStore {
 public:
  OpenStore() { EXPECT_EQ(CLOpenDatabase(&db_), 1); }
  ~OpenStore() {
    if (db_ != nullptr) CLCloseDatabase(db_);
  }
  OpenStore(const OpenStore&) = delete;
  OpenStore& operator=(const OpenStore&) = delete;
  CLDBHANDLE get() const { return db_; }

 private:
  CLDBHANDLE db_ = nullptr;
};

// Leases every free record (at most `max_count`) with a fresh handle and
// returns {record id -> text}.
inline std::map<uint64_t, std::string> Lease(uint32_t max_count = UINT32_MAX) {
  OpenStore db;
  CLPendingTaskList* list = nullptr;
  EXPECT_EQ(max_count == UINT32_MAX ? CLGetPendingTasks(db.get(), &list)
                                    : CLGetPendingTasksUpTo(db.get(), max_count, &list),
            1);
  std::map<uint64_t, std::string> texts;
  for (uint32_t i = 0; list != nullptr && i < list->dwCount; ++i) {
    const CLPendingTask& task = list->pTasks[i];
    texts[task.qwRecordId] = std::string(reinterpret_cast<const char*>(task.pData), task.dwSize);
  }
  CLFreePendingTasks(list);
  return texts;
}

inline std::vector<std::string> Texts(const std::map<uint64_t, std::string>& leased) {
  std::vector<std::string> texts;
  for (const auto& [id, text] : leased) texts.push_back(text);
  return texts;
}

}  // namespace agmisc_test
