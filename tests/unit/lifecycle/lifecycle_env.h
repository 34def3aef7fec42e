// Surroundings for the lifecycle tests: the messaging environment (agent
// root, tenant file, in-memory support library, messaging mocks, log capture)
// plus a machine root of the test's own (registry, named events), the system
// library mock, and a transport that hands out RP client objects of its own so
// a test can tell start-up's object from the task performers'.
//
// The clock is the real one: the threads start-up creates only wait on their
// events until clean-up stops them, and no test waits for a time-out.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/agcore/core_state.h"
#include "core/agcore/entry_points.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/task_pool.h"
#include "tests/unit/mocks/messaging_env.h"
#include "tests/unit/platform/temp_folder.h"

class FakeCsClient final : public ICSClient {};

class LifecycleEnv : public MessagingEnv {
 public:
  LifecycleEnv() : systemScope_(SiblingSet{.system = &system}) {
    using ::testing::_;
    using ::testing::DoAll;
    using ::testing::Invoke;
    using ::testing::Return;
    using ::testing::SetArgPointee;
    WriteTenantJson(R"({"tenantId":"tenant-1","proxyServer":"proxy.example","proxyPort":3128,)"
                    R"("proxyUserName":"user","proxyPassword":"secret"})");
    support.SetGuid("");

    ON_CALL(transport, CreateCSClientObject(_, _)).WillByDefault(DoAll(SetArgPointee<0>(&csClient), Return(1)));
    ON_CALL(transport, CreateRPClientObject(_, _, _, _))
        .WillByDefault(Invoke([this](ICSClient*, IRPClient** out, uint32_t*, uint8_t) {
          std::lock_guard<std::mutex> lock(mutex_);
          if (next_ == clients_.size()) return uint8_t{0};
          *out = &clients_[next_++];
          return uint8_t{1};
        }));
    ON_CALL(transport, FreeRPClientObject(_, _)).WillByDefault(Invoke([this](IRPClient* client, uint32_t*) {
      std::lock_guard<std::mutex> lock(mutex_);
      freed_.push_back(client);
      return uint8_t{1};
    }));
    ON_CALL(resp, HandleClientAgentCoreStartup(_)).WillByDefault(Return(1));
    ON_CALL(resp, StopAvMessageHandlerThread()).WillByDefault(Return(1));
  }

  ~LifecycleEnv() {
    // Whatever a test left running (a refused start-up keeps its task pool, a
    // clean-up told to keep the connection keeps pool and heartbeat) is
    // stopped before the fakes it uses go away. A test of clean-up itself
    // checks that pool and heartbeat are gone before this runs.
    StopRpTaskPerformerThreadPool();
    StopClientHeartBeatThread(GetCoreState().rpClient.Exchange(nullptr));
  }

  size_t FreeCount(IRPClient* client) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count(freed_.begin(), freed_.end(), client));
  }

  // Position of the first record of `routine` whose message is exactly
  // `message`; records.size() when there is none.
  size_t IndexOf(const std::string& routine, const std::string& message) const {
    const auto records = log.Records();
    for (size_t i = 0; i < records.size(); ++i) {
      if (records[i].routine == routine && records[i].message == message) return i;
    }
    return records.size();
  }

  platform_test::TempFolder machine{true};
  FakeCsClient csClient;
  ::testing::NiceMock<MockSystemLibrary> system;

 private:
  mutable std::mutex mutex_;
  std::array<::testing::NiceMock<MockRpClient>, 160> clients_;  // handed out in order
  size_t next_ = 0;                                            // guarded by mutex_
  std::vector<IRPClient*> freed_;                              // guarded by mutex_
  ScopedSiblings systemScope_;
};

// Start-up with arguments that pass every check (connection type 0).
inline uint8_t StartUpForTest(uint32_t connectionType = 0, const char* cert = nullptr, const char* key = nullptr,
                              const char16_t* wide = u"wide", const char* text = "text") {
  return ClientAgentCoreStartUp(cert, key, wide, text, 1, 2, 3, 4, 0, 5, 6, 7, 8, 9, connectionType);
}

inline uint8_t CleanUpForTest(uint8_t notifyOffline = 0) {
  int context[4] = {};
  return ClientAgentCoreCleanUp(&context[0], &context[1], &context[2], &context[3], 0, 0, 0, 0, 0, notifyOffline);
}
