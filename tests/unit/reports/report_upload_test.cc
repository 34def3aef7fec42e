// Report uploads through the suite's own response generator and report
// database: what reaches the server, in which order, and what stays behind.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/reports.h"
#include "suite_env.h"

namespace {

class ReportUploadTest : public SuiteEnv {
 protected:
  std::string CopyPath() const { return agentRoot_ + "temp/carpt.db"; }
};

TEST_F(ReportUploadTest, ThousandFiftyRecordsGoOutInElevenChunksInOrder) {
  AddReports(1050);
  ASSERT_TRUE(SendClientReports(&rpClient_));
  EXPECT_EQ(rpClient_.ReportChunks(), 11u);
  EXPECT_EQ(rpClient_.ReportIds(), IdRange(1, 1050));
  EXPECT_EQ(rpClient_.sent[0].type, 3u);
  // The product was told to start a fresh database; the copy stays behind.
  EXPECT_TRUE(std::filesystem::exists(CopyPath()));
  rpClient_.sent.clear();
  ASSERT_TRUE(SendClientReports(&rpClient_));
  EXPECT_TRUE(rpClient_.ReportIds().empty());
}

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

  AddReports(5, "fresh");  // the product's database was reset: these are new
  rpClient_.ResetCalls();
  ASSERT_TRUE(SendClientReports(&rpClient_));
  // Nothing lost, nothing twice: the rest of the old copy, then the new copy.
  std::vector<int64_t> expected = IdRange(1, 1050);
  for (int64_t id = 1051; id <= 1055; ++id) expected.push_back(id);
  EXPECT_EQ(rpClient_.ReportIds(), expected);
}

TEST_F(ReportUploadTest, CopyOlderThanADayIsReplacedBeforeAnythingIsSent) {
  struct Case {
    int64_t ageSeconds;
    bool oldCopySent;
  };
  for (const Case& c : {Case{kReportCopyExpirySeconds - 1, true}, Case{kReportCopyExpirySeconds, false}}) {
    SCOPED_TRACE(c.ageSeconds);
    std::filesystem::remove(CopyPath());
    std::filesystem::remove(ProductDb());
    rpClient_.sent.clear();
    rpClient_.ResetCalls();
    AddReports(3, "old");
    rpClient_.failCall = 1;
    ASSERT_TRUE(SendClientReports(&rpClient_));  // copy made, nothing sent
    ASSERT_TRUE(rpClient_.ReportIds().empty());
    AddReports(2, "new");
    clock_.AdvanceMs(c.ageSeconds * 1000);
    rpClient_.ResetCalls();
    ASSERT_TRUE(SendClientReports(&rpClient_));
    EXPECT_EQ(log_.Contains("CA DB has expired reports"), !c.oldCopySent);
    EXPECT_EQ(rpClient_.ReportIds(), c.oldCopySent ? IdRange(1, 5) : IdRange(4, 5));
  }
}

TEST_F(ReportUploadTest, UnregisterPostedBetweenChunksStopsTheUpload) {
  ASSERT_TRUE(RpRegisterThreadForPassiveNotification(nullptr));
  AddReports(500);
  rpClient_.beforeCall = [] {
    const uint32_t unregister = CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER;
    RpUpdatePassiveNotificationForAllThreads(&unregister, false);
  };
  ASSERT_TRUE(SendClientReports(&rpClient_));
  EXPECT_EQ(rpClient_.ReportChunks(), 1u);
  RpResetPassiveNotificationRegistry();
}

TEST_F(ReportUploadTest, SecondUploadWhileOneRunsIsRefusedAtOnce) {
  AddReports(300);
  rpClient_.stallCall = 1;
  auto first = std::async(std::launch::async, [this] { return SendClientReports(&rpClient_); });
  rpClient_.WaitUntilStalled();
  bool sent = true;
  EXPECT_FALSE(SendClientReports(&rpClient_));
  EXPECT_FALSE(SendClientRecoveryReport(&rpClient_, &sent));
  EXPECT_FALSE(sent);
  rpClient_.ReleaseStall();
  EXPECT_TRUE(first.get());
  EXPECT_EQ(rpClient_.ReportIds(), IdRange(1, 300));
  // The lock went with the first upload: the next one runs.
  EXPECT_TRUE(SendClientReports(&rpClient_));
}

TEST_F(ReportUploadTest, RecoveryReportSaysWhetherSomethingWent) {
  bool sent = false;
  AddReports(2, "recovery");
  ASSERT_TRUE(SendClientRecoveryReport(&rpClient_, &sent));
  EXPECT_TRUE(sent);
  EXPECT_EQ(rpClient_.ReportIds(), IdRange(1, 2));
}

TEST_F(ReportUploadTest, RecoveryStatusIsWrittenOnlyIntoAnExistingSectionIni) {
  const std::string ini = productFolder_ + "section.ini";
  SetSendingRecoveryReportStatus(true);
  EXPECT_FALSE(std::filesystem::exists(ini));
  for (const bool sent : {true, false}) {
    WriteProductFile("section.ini", "[NATIVE_ENCRYPTION]\n");
    SetSendingRecoveryReportStatus(sent);
    EXPECT_NE(ReadFile(ini).find(std::string("recovery_key_sent=") + (sent ? "1" : "0")), std::string::npos);
  }
}

}  // namespace
