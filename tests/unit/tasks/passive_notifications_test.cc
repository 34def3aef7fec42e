// The per-thread passive-notification registry.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/rpclcore/passive_notifications.h"
#include "tests/unit/mocks/log_capture.h"

namespace {

class PassiveNotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override { RpResetPassiveNotificationRegistry(); }
  void TearDown() override { RpResetPassiveNotificationRegistry(); }
  LogCapture log;
};

}  // namespace

TEST_F(PassiveNotificationsTest, EmptyRegistryAndUnregisteredThread) {
  const uint32_t reactivate = CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT;
  EXPECT_TRUE(RpUpdatePassiveNotificationForAllThreads(&reactivate, false));
  uint32_t bits = 0;
  EXPECT_FALSE(RpGetThreadPassiveNotification(&bits));
  void* context = &bits;
  EXPECT_FALSE(RpGetThreadContext(&context));
  EXPECT_EQ(context, nullptr);
  EXPECT_FALSE(RpUpdateThreadPassiveNotification(&reactivate, false));
  EXPECT_FALSE(RpGetThreadPassiveNotification(nullptr));
  EXPECT_TRUE(log.Contains("Invalid input to function."));
}

TEST_F(PassiveNotificationsTest, RegisteringTwiceKeepsTheFirstContext) {
  int first = 0;
  int second = 0;
  EXPECT_TRUE(RpRegisterThreadForPassiveNotification(&first));
  EXPECT_TRUE(RpRegisterThreadForPassiveNotification(&second));
  void* context = nullptr;
  ASSERT_TRUE(RpGetThreadContext(&context));
  EXPECT_EQ(context, &first);
}

TEST_F(PassiveNotificationsTest, SetAndClearIndividualBits) {
  ASSERT_TRUE(RpRegisterThreadForPassiveNotification(nullptr));
  const uint32_t unregister = CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER;
  const uint32_t reactivate = CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT;
  EXPECT_TRUE(RpUpdateThreadPassiveNotification(&unregister, false));
  EXPECT_TRUE(RpUpdateThreadPassiveNotification(&reactivate, false));
  EXPECT_TRUE(RpUpdateThreadPassiveNotification(&unregister, true));
  uint32_t bits = 0;
  ASSERT_TRUE(RpGetThreadPassiveNotification(&bits));
  EXPECT_EQ(bits, reactivate);
}

TEST_F(PassiveNotificationsTest, PostingToAllReachesEveryRegisteredThread) {
  ASSERT_TRUE(RpRegisterThreadForPassiveNotification(nullptr));
  uint32_t otherBits = 0;
  bool registered = false;
  bool posted = false;
  std::mutex m;
  std::condition_variable cv;
  std::thread other([&] {
    RpRegisterThreadForPassiveNotification(nullptr);
    std::unique_lock<std::mutex> lock(m);
    registered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return posted; });
    RpGetThreadPassiveNotification(&otherBits);
  });
  const uint32_t interval = CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED;
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return registered; });
    EXPECT_TRUE(RpUpdatePassiveNotificationForAllThreads(&interval, false));
    posted = true;
  }
  cv.notify_all();
  other.join();
  uint32_t bits = 0;
  ASSERT_TRUE(RpGetThreadPassiveNotification(&bits));
  EXPECT_EQ(bits, interval);
  EXPECT_EQ(otherBits, interval);
}
