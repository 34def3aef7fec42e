// The consent thread starts the build downloader at a user's logon only for a
// major upgrade the user consented to, and only when there is a URL to fetch.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/agcore/consent_thread.h"
#include "platform/clock.h"
#include "platform/session_events.h"
#include "tests/unit/mocks/messaging_env.h"

namespace {

// The thread sleeps after each event it handled: the sleep tells the test
// that the event's decision is made, so the test never races the thread.
class HandledEventsClock final : public platform::Clock {
 public:
  int64_t NowSeconds() override { return manual_.NowSeconds(); }
  int64_t NowMilliseconds() override { return manual_.NowMilliseconds(); }
  int WaitAny(std::span<platform::Waitable* const> handles, uint32_t timeout_ms) override {
    return manual_.WaitAny(handles, timeout_ms);
  }
  void SleepMs(uint32_t) override {
    std::lock_guard lock(mutex_);
    ++handled_;
    changed_.notify_all();
  }
  // A guard against a hang, not a time the test depends on.
  bool WaitHandled(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return handled_ >= count; });
  }

 private:
  platform::ManualClock manual_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int handled_ = 0;
};

struct ConsentCase {
  const char* name;
  uint32_t upgradeType;
  uint32_t consent;
  std::u16string firstUrl;
  std::u16string secondUrl;
  std::string launchedFirst;  // as the launcher receives it: each unit's low byte; with
                              // an empty second URL, "" means nothing is launched
};

void PrintTo(const ConsentCase& c, std::ostream* out) { *out << c.name; }

const ConsentCase kCases[] = {
    {"ConsentOneUnitsBeyondAsciiNarrowToTheirLowByte", 2, 1, u"http://h/\u0141", u"", "http://h/A"},
    {"ConsentTwoSecondUrlOnly", 2, 2, u"", u"http://mirror.example/b", ""},
    {"NoConsent", 2, 0, u"http://builds.example/a", u"", ""},
    {"UnknownConsentValue", 2, 3, u"http://builds.example/a", u"", ""},
    {"MinorUpgrade", 1, 1, u"http://builds.example/a", u"", ""},
    {"NoUrl", 2, 1, u"", u"", ""},
};

class ConsentThreadTest : public ::testing::TestWithParam<ConsentCase> {
 protected:
  ConsentThreadTest() {
    // No login on this machine may reach the thread: utmp is one of the test's.
    platform::SetUtmpPath(std::string(::testing::TempDir()) + "ag-consent-no-utmp/utmp");
  }
  ~ConsentThreadTest() override { platform::SetUtmpPath(""); }

  MessagingEnv env_;
  HandledEventsClock clock_;
  platform::ScopedClock clockScope_{&clock_};
};

TEST_P(ConsentThreadTest, LogonLaunchesTheBuildDownloaderOnlyWithConsent) {
  const ConsentCase& c = GetParam();
  std::vector<uint8_t> record(AG_UPGRADE_DATA_SIZE, 0);
  std::memcpy(record.data() + 100, &c.upgradeType, sizeof c.upgradeType);
  std::memcpy(record.data() + 104, &c.consent, sizeof c.consent);
  std::memcpy(record.data() + 5316, c.firstUrl.data(), c.firstUrl.size() * sizeof(char16_t));
  std::memcpy(record.data() + 5836, c.secondUrl.data(), c.secondUrl.size() * sizeof(char16_t));
  ASSERT_EQ(env_.support.SetClientAgentGlobalInfoToINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, record.data()),
            1u);
  std::vector<std::pair<std::string, std::string>> launches;
  ON_CALL(env_.preinst, LaunchBuildDownloader(::testing::_, ::testing::_))
      .WillByDefault([&](const char* first, const char* second) {
        launches.emplace_back(first, second);
        return uint8_t{1};
      });

  std::thread thread([] { EXPECT_EQ(LaunchConsentDlgThread(), 1u); });
  platform::InjectSessionEvent(platform::kSessionEventLogon);
  const bool handled = clock_.WaitHandled(1);
  platform::FlushSessionEventWaits();
  thread.join();
  ASSERT_TRUE(handled) << env_.log.Dump();

  decltype(launches) expected;
  const std::string second(c.secondUrl.begin(), c.secondUrl.end());
  if (!c.launchedFirst.empty() || !second.empty()) expected.emplace_back(c.launchedFirst, second);
  EXPECT_EQ(launches, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConsentThreadTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
