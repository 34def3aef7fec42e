// Messages on one thread while another ends the subscription or unloads the
// library: every message either reaches the unified agent inside a
// subscription or fails cleanly, and the library is never freed under a call
// (the TSan build checks the shared handle and flag).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "xua_env.h"

namespace {

TEST(XuaConcurrency, MessagesAndUnloadsOnTwoThreadsNeverMeetAFreedLibrary) {
  XuaEnv env;
  InstallUnifiedAgent();
  constexpr int kRounds = 40;
  std::atomic<int> sent{0};
  std::thread sender([&] {
    for (int i = 0; i < kRounds; ++i) sent += SendDataToXUA() ? 1 : 0;
  });
  std::thread unloader([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (i % 2 == 0) {
        UnloadUaintLibrary();
      } else {
        UnsubcribeCommnWithXUA();
      }
    }
  });
  sender.join();
  unloader.join();

  EXPECT_EQ(sent.load(), kRounds);
  // A message outside a subscription is journalled with a failed status.
  int delivered = 0;
  for (const auto& call : JournalledCalls()) {
    delivered += call["call"].asString() == "SendData" && call["status"].asInt() == 0 ? 1 : 0;
  }
  EXPECT_EQ(delivered, kRounds);
}

}  // namespace
