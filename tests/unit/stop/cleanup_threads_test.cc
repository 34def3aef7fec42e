// Clean-up leaves no thread of the core behind: not when a failed
// re-initialisation emptied the RP client slot, and not when the heartbeat
// thread is still setting up while clean-up runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "core/agcore/core_state.h"
#include "core/casupp/pending_records.h"
#include "tests/unit/lifecycle/lifecycle_env.h"
#include "tests/unit/mocks/gate.h"

namespace {

using ::testing::_;
using ::testing::Invoke;

class CleanUpThreadsTest : public ::testing::Test {
 protected:
  // Hands out the test's own RP client objects, round after round; `onInit`
  // runs whenever one is initialised.
  template <typename OnInit>
  void HandOutClients(OnInit onInit) {
    env.WriteTenantJson();
    for (auto& client : clients_) {
      ON_CALL(client, InitCSClient(_)).WillByDefault(Invoke([onInit, self = &client](const CSConnectionInfo*) {
        onInit(self);
        return uint8_t{1};
      }));
    }
    ON_CALL(env.transport, CreateRPClientObject(_, _, _, _))
        .WillByDefault(Invoke([this](ICSClient*, IRPClient** out, uint32_t*, uint8_t) {
          *out = &clients_[next_++ % clients_.size()];
          return uint8_t{1};
        }));
  }

  std::array<::testing::NiceMock<MockRpClient>, 8> clients_;
  std::atomic<size_t> next_{0};
  LifecycleEnv env;
};

size_t EntriesOf(const char* folder) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST_F(CleanUpThreadsTest, AnEmptyRpClientSlotDoesNotKeepThreadsRunning) {
  ASSERT_EQ(StartUpForTest(), 1);
  // What a re-initialisation whose CreateRPClientObject failed leaves behind.
  GetCoreState().rpClient.Exchange(nullptr);
  ASSERT_EQ(CleanUpForTest(), 1);
  EXPECT_FALSE(IsHeartbeatThreadRunning());
  EXPECT_EQ(GetRpTaskQueue(), nullptr);
}

TEST_F(CleanUpThreadsTest, TheHeartbeatThreadSettingUpDuringCleanUpDoesNotStartThePoolAgain) {
  Gate setUp;
  // Only the heartbeat thread initialises the object in the shared slot.
  HandOutClients([&setUp](IRPClient* self) {
    if (self == GetCoreState().rpClient.Peek()) setUp.Wait();
  });
  ASSERT_EQ(StartUpForTest(), 1);
  setUp.WaitForWaiting(1);
  std::thread cleanUp([] { CleanUpForTest(); });
  while (GetRpTaskQueue() != nullptr) std::this_thread::yield();
  setUp.Open();
  cleanUp.join();
  EXPECT_EQ(GetRpTaskQueue(), nullptr);
  EXPECT_FALSE(IsHeartbeatThreadRunning());
}

// Start-up and clean-up two hundred times, each clean-up after a random
// moment: right away (threads still setting up), during a cycle or while
// the threads rest. Afterwards the process has the threads, descriptors and
// store leases it had before.
TEST_F(CleanUpThreadsTest, TwoHundredStopsAtRandomMomentsLeaveNoThreadDescriptorOrLease) {
  HandOutClients([](IRPClient*) {});
  env.support.SetRegStatusValue(3, false);
  CmdAck ack{};
  ack.dwCmdId = 20;
  std::strcpy(ack.szCmdGuid, "round-guid");
  for (int i = 0; i < 3; ++i) env.support.AddPending(14, SerialisePendingCommandAck(ack));
  // Clean-up joins every thread the agent started, the consent thread too:
  // none may be left to meet the process's exit.
  const auto settled = [](size_t threads) { return EntriesOf("/proc/self/task") == threads; };
  // ThreadSanitizer starts a thread of its own at the first thread creation:
  // let that happen before counting.
  std::thread([] {}).join();
  const size_t threads = EntriesOf("/proc/self/task");
  // One round first: what the first start-up opens for the process's life
  // (log file, store) is not a leak.
  ASSERT_EQ(StartUpForTest(), 1);
  ASSERT_EQ(CleanUpForTest(), 1);
  ASSERT_TRUE(settled(threads));
  const size_t descriptors = EntriesOf("/proc/self/fd");

  // The moment is a busy wait of up to 2 ms, not a count of yields: on a
  // loaded machine every yield can hand the core to another process for a
  // whole time slice, and 200 rounds of that outlast any time limit.
  std::mt19937 random(13);
  std::uniform_int_distribution<int> micros(0, 2000);
  for (int round = 0; round < 200; ++round) {
    ASSERT_EQ(StartUpForTest(), 1) << "round " << round;
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(micros(random));
    while (std::chrono::steady_clock::now() < until) {
    }
    ASSERT_EQ(CleanUpForTest(), 1) << "round " << round;
  }
  EXPECT_TRUE(settled(threads)) << EntriesOf("/proc/self/task") << " threads, " << threads << " before";
  EXPECT_EQ(EntriesOf("/proc/self/fd"), descriptors);
  EXPECT_EQ(env.support.LeasedCount(), 0u);
  EXPECT_EQ(GetCoreState().rpClient.Peek(), nullptr);
}

}  // namespace
