// Report uploads through the suite's own response generator and report
// database: what reaches the server, in which order, and what stays behind.
#include <gtest/gtest.h>

#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/reports.h"
#include "suite_env.h"

namespace {

class ReportUploadTest : public SuiteEnv {
 protected:
  std::string CopyPath() const { return agentRoot_ + "temp/carpt.db"; }
};

TEST_F(ReportUploadTest, RecordCountFromTheStoreAndZeroMeansHundred) {
  struct Case {
    uint32_t stored;
    size_t chunks;
  };
  for (const Case& c : {Case{0u, 3}, Case{7u, 36}}) {
    SCOPED_TRACE(c.stored);
    ASSERT_TRUE(SetClientBlobData(DB_ID_REPORT_RECORD_COUNT, sizeof(c.stored), &c.stored));
    AddReports(250);
    rpClient_.sent.clear();
    ASSERT_TRUE(SendClientReports(&rpClient_));
    EXPECT_EQ(rpClient_.ReportChunks(), c.chunks);
    EXPECT_EQ(rpClient_.ReportIds().size(), 250u);
  }
}

TEST_F(ReportUploadTest, FailedThirdChunkKeepsTheCopyAndTheNextTaskSendsTheRestFirst) {
  AddReports(1050);
  rpClient_.failCall = 3;
  ASSERT_TRUE(SendClientReports(&rpClient_));
  EXPECT_EQ(rpClient_.ReportIds(), IdRange(1, 200));
  EXPECT_EQ(rpClient_.sent[0].type, 3u);

  AddReports(5, "fresh");  // the product's database was reset: these are new
  rpClient_.calls = rpClient_.failCall = 0;
  rpClient_.sent.clear();
  ASSERT_TRUE(SendClientReports(&rpClient_));
  // Nothing lost, nothing twice: the rest of the old copy in chunks of a
  // hundred, then the new copy, which stays behind.
  EXPECT_EQ(rpClient_.ReportIds(), IdRange(201, 1055));
  EXPECT_EQ(rpClient_.ReportChunks(), 10u);
  EXPECT_TRUE(std::filesystem::exists(CopyPath()));
  rpClient_.sent.clear();
  ASSERT_TRUE(SendClientReports(&rpClient_));
  EXPECT_TRUE(rpClient_.ReportIds().empty());
}

// A copy left by a failed upload is sent first for a day; from then on it is
// replaced by a fresh copy before anything is sent.
TEST_F(ReportUploadTest, CopyOlderThanADayIsReplacedBeforeAnythingIsSent) {
  for (const int64_t age : {kReportCopyExpirySeconds - 1, kReportCopyExpirySeconds}) {
    SCOPED_TRACE(age);
    std::filesystem::remove(CopyPath());
    std::filesystem::remove(ProductDb());
    rpClient_.sent.clear();
    AddReports(3, "old");
    rpClient_.calls = 0;
    rpClient_.failCall = 1;
    ASSERT_TRUE(SendClientReports(&rpClient_));  // copy made, nothing sent
    AddReports(2, "new");
    clock_.AdvanceMs(age * 1000);
    rpClient_.calls = rpClient_.failCall = 0;
    ASSERT_TRUE(SendClientReports(&rpClient_));
    EXPECT_EQ(rpClient_.ReportIds(), age < kReportCopyExpirySeconds ? IdRange(1, 5) : IdRange(4, 5));
  }
}

// A second upload asked for while one runs (here from inside the first
// one's exchange) is refused at once; an unregistration posted between two
// chunks stops the upload.
TEST_F(ReportUploadTest, SecondUploadIsRefusedAndAnUnregistrationStopsTheUpload) {
  ASSERT_TRUE(RpRegisterThreadForPassiveNotification(nullptr));
  AddReports(500);
  bool second = true;
  rpClient_.beforeCall = [&] {
    rpClient_.beforeCall = nullptr;
    second = SendClientReports(&rpClient_);
    const uint32_t unregister = CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER;
    RpUpdatePassiveNotificationForAllThreads(&unregister, false);
  };
  ASSERT_TRUE(SendClientReports(&rpClient_));
  EXPECT_FALSE(second);
  EXPECT_EQ(rpClient_.ReportChunks(), 1u);
  RpResetPassiveNotificationRegistry();
  // The lock went with the first upload: the next one runs.
  EXPECT_TRUE(SendClientReports(&rpClient_));
  EXPECT_GT(rpClient_.ReportChunks(), 1u);
}

// The recovery report says whether something went; whether it did is
// written into the product's section.ini, and only when that file exists.
TEST_F(ReportUploadTest, RecoveryReportSaysWhetherSomethingWentAndTheProductLearnsIt) {
  bool sent = false;
  AddReports(2, "recovery");
  ASSERT_TRUE(SendClientRecoveryReport(&rpClient_, &sent));
  EXPECT_TRUE(sent);
  EXPECT_EQ(rpClient_.ReportIds(), IdRange(1, 2));
  const std::string ini = productFolder_ + "section.ini";
  SetSendingRecoveryReportStatus(true);
  EXPECT_FALSE(std::filesystem::exists(ini));
  for (const bool went : {true, false}) {
    WriteProductFile("section.ini", "[NATIVE_ENCRYPTION]\n");
    SetSendingRecoveryReportStatus(went);
    EXPECT_NE(ReadFile(ini).find(std::string("recovery_key_sent=") + (went ? "1" : "0")), std::string::npos);
  }
}

}  // namespace
