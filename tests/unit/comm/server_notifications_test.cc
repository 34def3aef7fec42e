// Pushes to the server: the stored-for-later fallback, the response check
// with its uninstall codes, the status items; and the notifications to the
// product.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/siblings/client_store.h"
#include "tests/unit/mocks/messaging_env.h"

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrEq;

namespace {

class ServerNotificationsTest : public ::testing::Test {
 protected:
  MessagingEnv env;
};

}  // namespace

TEST_F(ServerNotificationsTest, SentNotificationCarriesThePayloadAndAnUnsentOneIsStored) {
  TestServerResponse ok(true);
  EXPECT_CALL(env.rpClient, SendNotification(28, 137, StrEq("{\"state\":1}\n"), _))
      .WillOnce(DoAll(SetArgPointee<3>(&ok.response), Return(1)));
  EXPECT_CALL(env.rpClient, FreeServerResponse(&ok.response)).Times(1);
  EXPECT_TRUE(SendNotificationToServer(137, 1, 1, 28, &env.rpClient));
  EXPECT_TRUE(env.support.Pending().empty());

  // Unsent: stored for the task performers and counted as done.
  EXPECT_CALL(env.rpClient, SendNotification(_, 139, _, _)).Times(2).WillRepeatedly(Return(0));
  EXPECT_TRUE(SendNotificationToServer(139, 1, 1, 28, &env.rpClient));
  const auto stored = env.support.PendingInList(15);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(ParsePendingNotification(stored[0].data.data(), stored[0].data.size())->dataId, 139u);
  env.support.Fail(InMemorySupportLibrary::Op::kSetPending);
  EXPECT_FALSE(SendNotificationToServer(139, 1, 1, 28, &env.rpClient));
  // A message without payload sends nothing (one more send would exceed the
  // expectations) and stores nothing.
  env.support.Fail(InMemorySupportLibrary::Op::kSetPending, false);
  env.SetMessage(R"([{"dataId":137}])");
  EXPECT_FALSE(SendNotificationToServer(137, 1, 1, 28, &env.rpClient));
  EXPECT_EQ(env.support.Pending().size(), 1u);
}

TEST_F(ServerNotificationsTest, BothUnknownClientCodesUninstallTwice) {
  TestServerResponse failed(false, {5, kServerErrorClientUnknown, 7, kServerErrorClientUnknown2});
  EXPECT_CALL(env.preinst, AGPreInstUninstall()).WillOnce(Return(0)).WillOnce(Return(1));
  EXPECT_TRUE(HandleErrorCodes(&failed.response));  // result of the last attempt
  TestServerResponse other(false, {1, 2});
  EXPECT_CALL(env.preinst, AGPreInstUninstall()).Times(0);
  EXPECT_FALSE(HandleErrorCodes(&other.response));
}

TEST_F(ServerNotificationsTest, StatusFailureResetsTheDigest) {
  const uint8_t oldDigest[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  env.support.PutBlob(18, oldDigest, sizeof(oldDigest));
  EXPECT_CALL(env.rpClient, SetClientData(_, 101, _, 1)).WillOnce(Return(0));
  bool urlSent = false;
  EXPECT_TRUE(GenerateAndSendStatusForReq(101, 1, 1, &env.rpClient, &env.respGen, &urlSent));
  ASSERT_TRUE(env.support.Blob(17));
  EXPECT_EQ(*env.support.Blob(17), std::vector<uint8_t>(oldDigest, oldDigest + 16));
  EXPECT_TRUE(urlSent);

  // A refused status (success byte clear) also resets, here slot 19 to zeros.
  TestServerResponse refused(false);
  EXPECT_CALL(env.rpClient, SetClientData(_, 102, _, 1))
      .WillOnce(DoAll(SetArgPointee<2>(&refused.response), Return(1)));
  EXPECT_TRUE(GenerateAndSendStatusForReq(102, 1, 1, &env.rpClient, &env.respGen, &urlSent));
  EXPECT_EQ(*env.support.Blob(19), std::vector<uint8_t>(16, 0));
}

// Peer-to-peer status needs the web server. Unsent peer-to-peer data is
// written back to the store instead of a digest reset; a failed store of one
// value keeps the others.
TEST_F(ServerNotificationsTest, FailedStoreOfTheServerIpUrlKeepsTheOtherRestoredValues) {
  EXPECT_CALL(env.rpClient, SetClientData(_, 131, _, 1)).WillOnce(Return(0));
  EXPECT_FALSE(GenerateAndSendStatusForReq(131, 1, 1, &env.rpClient, &env.respGen, nullptr));
  env.support.SetWebServerInstalled(1);
  env.support.FailSetOf(58);  // "srvipurl"
  env.SetMessage(R"([{"payload":{"sbnet":"10.1.0.0/16","osv":"",
      "srvurls":{"srvipurl":"http://10.1.0.5","srvhosturl":"http://h"}}}])");
  EXPECT_TRUE(GenerateAndSendStatusForReq(131, 1, 1, &env.rpClient, &env.respGen, nullptr));
  EXPECT_FALSE(env.support.HasBlob(58));
  EXPECT_FALSE(env.support.HasBlob(62));  // empty values are not written
  EXPECT_STREQ(reinterpret_cast<const char*>(env.support.Blob(60)->data()), "10.1.0.0/16");
  ASSERT_TRUE(env.support.Blob(59));
  EXPECT_STREQ(reinterpret_cast<const char*>(env.support.Blob(59)->data()), "http://h");
  EXPECT_TRUE(env.support.HasBlob(61));  // offered again by the next cycle
}

TEST_F(ServerNotificationsTest, PushDataToCsSendsOnlyTheFirst104) {
  ResponseDetails third{104, 1, 1, 0, 0, nullptr, nullptr};
  ResponseDetails second{104, 1, 1, 0, 0, nullptr, &third};
  ResponseDetails first{103, 1, 1, 0, 0, nullptr, &second};
  EXPECT_CALL(env.rpClient, SetClientData(_, 104, _, 1)).WillOnce(Return(0));
  EXPECT_FALSE(PushDataToCS(&env.rpClient, &first));
  EXPECT_TRUE(PushDataToCS(&env.rpClient, nullptr));
  ResponseDetails no104{103, 1, 1, 0, 0, nullptr, nullptr};
  EXPECT_TRUE(PushDataToCS(&env.rpClient, &no104));
}

TEST_F(ServerNotificationsTest, UninstallNotificationAtCleanUp) {
  EXPECT_FALSE(CheckAndSendUninstallNotification());
  env.support.PutValue<uint32_t>(DB_ID_CLIENT_UNINSTALL_NOTIFICATION, 1);
  // Without a shared RP client object the notification is kept for later.
  EXPECT_TRUE(CheckAndSendUninstallNotification());
  EXPECT_EQ(env.CountRequests(138), 1u);
  EXPECT_EQ(env.support.PendingInList(15).size(), 1u);
  EXPECT_FALSE(env.support.HasBlob(DB_ID_CLIENT_UNINSTALL_NOTIFICATION));
}

TEST_F(ServerNotificationsTest, ProductNotifications) {
  EXPECT_FALSE(NotifyDataChangeToAV(AIAV_ACTION_SET_ROAMING_STATUS, nullptr, nullptr));
  ASSERT_TRUE(NotifyDataChangeToAV(AIAV_ACTION_SET_CLIENT_GUID, nullptr, nullptr));
  EXPECT_EQ(env.Requests().back().payload, "{\"guid\":\"0123456789abcdef0123456789abcdef\"}\n");
  ASSERT_TRUE(NotifyDataChangeToAV(AIAV_ACTION_SET_EDR_TENANT_ID, "tid-x", "g-1"));
  EXPECT_EQ(env.Requests().back().payload, "{\"guid\":\"g-1\",\"tid\":\"tid-x\"}\n");
  // Without values: the stored tenant, encrypted, and the client's own GUID.
  env.WriteTenantJson(R"({"tenantId":"T-9"})");
  ASSERT_TRUE(NotifyDataChangeToAV(AIAV_ACTION_SET_EDR_TENANT_ID, nullptr, nullptr));
  EXPECT_EQ(env.Requests().back().payload, "{\"guid\":\"0123456789abcdef0123456789abcdef\",\"tid\":\"enc:T-9\"}\n");

  ASSERT_TRUE(RegisterUnregisterCACallBackForAVEmergency(true));
  EXPECT_EQ(env.Requests().back().id, 135u);
  EXPECT_EQ(env.Requests().back().action, 3u);

  // PTP on but web-server value 0: nothing to start, still success.
  size_t before = env.Requests().size();
  env.support.SetPtpEnabled(1);
  EXPECT_TRUE(StartPTPWebServer());
  EXPECT_EQ(env.Requests().size(), before);
  env.support.SetWebServerInstalled(1);
  EXPECT_TRUE(StartPTPWebServer());
  EXPECT_EQ(env.Requests().back().id, CSP_CMD_ID_SET_CLIENT_START_WEB_SERVER);
  EXPECT_EQ(env.Requests().back().payload, "{\"fromClient\":1}\n");
}
