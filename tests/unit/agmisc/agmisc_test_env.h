// Test environment of the support library: a private agent root under a
// fresh temporary folder, capture of the library's log lines, and helpers
// shared by the test files. Single-threaded set-up and tear-down.
#pragma once

#include <agsuite/agevtlog.h>
#include <agsuite/agmisc.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "store_pool.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace agmisc_test {

class LogCapture {
 public:
  LogCapture() { sink_id_ = AgEvtLogAddSink(&LogCapture::Receive, this); }
  ~LogCapture() { AgEvtLogRemoveSink(sink_id_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // True when a line of the library at `level` contains `text`.
  bool Contains(uint32_t level, const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [line_level, line] : lines_) {
      if (line_level == level && line.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  static void Receive(void* context, const AgEvtLogRecord* record) {
    auto* self = static_cast<LogCapture*>(context);
    if (std::string(record->module) != "agmisc.so") return;
    std::lock_guard<std::mutex> guard(self->lock_);
    self->lines_.emplace_back(record->level, record->message);
  }

  int sink_id_ = 0;
  std::mutex lock_;
  std::vector<std::pair<uint32_t, std::string>> lines_;
};

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
  LogCapture log_;
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

}  // namespace agmisc_test
