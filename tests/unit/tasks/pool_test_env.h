// Surroundings for tests that run the task-performer pool: the messaging
// environment with a tenant file, a transport that hands every performer the
// same RP client mock, a clean passive-notification registry, and helpers to
// wait for the pool to go idle without sleeping.
#pragma once

#include <gmock/gmock.h>

#include <thread>

#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "tests/unit/mocks/messaging_env.h"

struct FakeCsClientObject : ICSClient {};

class PoolTest : public ::testing::Test {
 protected:
  PoolTest() {
    using ::testing::_;
    using ::testing::DoAll;
    using ::testing::Return;
    using ::testing::SetArgPointee;
    RpResetPassiveNotificationRegistry();
    env.WriteTenantJson();
    ON_CALL(env.transport, CreateCSClientObject(_, _)).WillByDefault(DoAll(SetArgPointee<0>(&csClient), Return(1)));
    ON_CALL(env.transport, CreateRPClientObject(_, _, _, _))
        .WillByDefault(DoAll(SetArgPointee<1>(&env.rpClient), Return(1)));
    ON_CALL(env.transport, FreeRPClientObject(_, _)).WillByDefault(Return(1));
    ON_CALL(env.rpClient, InitCSClient(_)).WillByDefault(Return(1));
  }
  ~PoolTest() override {
    StopRpTaskPerformerThreadPool();
    RpResetPassiveNotificationRegistry();
  }

  // Both performers are back in their wait with nothing queued: every task
  // taken so far has been performed.
  static void WaitUntilIdle() {
    CTaskQueue* queue = GetRpTaskQueue();
    while (queue->count() != 0 || queue->waiterCount() != 2) std::this_thread::yield();
  }

  FakeCsClientObject csClient;
  MessagingEnv env;
};
