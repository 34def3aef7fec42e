// Every RP client operation against the simulator: what reaches the server
// (journal), what comes back to the core (ServerResponse), and the connection
// state reported after each exchange.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>

#include "cssim_fixture.h"

namespace transport_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TransportRpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(server_.Start({"--relay-intervals", "15,1440,20"}));
    client_ = MakeClient(environment_);
    const CSConnectionInfo info = MakeConnectionInfo("http://", server_.port(), server_.relay_port());
    ASSERT_EQ(client_->InitCSClient(&info), 1);
  }

  bool Heartbeat(ResponseHolder& holder) {
    const ClientDataRecord record{2, 1, R"([{"payload":{"hb":1}}])"};
    return client_->SetClientData(&record, 118, holder.slot(), 1) == 1;
  }

  Cssim server_;
  FakeEnvironment environment_;
  std::unique_ptr<agtransport::RpClient> client_;
};

TEST_F(TransportRpClientTest, RegisterDeliversTheMessageWithTheClientIdentity) {
  {
    ResponseHolder holder(*client_);
    ASSERT_EQ(client_->Register(R"([{"payload":{"os":"linux"}}])", holder.slot()), 1);
    EXPECT_EQ(holder->bSuccess, 1);
  }
  const std::vector<Json::Value> journal = server_.Journal("register");
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_TRUE(HasMembers(journal[0], R"({"service":"ClientSvc","listener":"direct","tenantId":"tenant-0042",
      "clientGuid":"3f2504e04f8911d39a0c0305e82c3301","payload":[{"payload":{"os":"linux"}}]})"));
  EXPECT_THAT(environment_.reported, ElementsAre(agtransport::kConnectionDirect));
}

TEST_F(TransportRpClientTest, HeartbeatBringsQueuedCommandsInOrderOnce) {
  const std::string client = std::string(R"({"client":")") + kClientGuid + R"(","command":{"cmd":{"id":)";
  server_.Admin("/admin/commands", client + R"(12}},"guid":"cmd-guid-1","leading":7})");
  server_.Admin("/admin/commands", client + "20}}}");
  {
    ResponseHolder holder(*client_);
    ASSERT_TRUE(Heartbeat(holder));
    ASSERT_EQ(holder->dwCommandCount, 2u);
    EXPECT_EQ(holder->pCommands[0].dwLeading, 7u);
    EXPECT_STREQ(holder->pCommands[0].pszCmdGuid, "cmd-guid-1");
    EXPECT_EQ(ParseJson(holder->pCommands[0].pszCommandJson)["cmd"]["id"], 12);
    EXPECT_EQ(ParseJson(holder->pCommands[1].pszCommandJson)["cmd"]["id"], 20);
  }
  ResponseHolder again(*client_);
  ASSERT_TRUE(Heartbeat(again));
  EXPECT_EQ(again->dwCommandCount, 0u);
  EXPECT_TRUE(HasMembers(server_.Journal("clientdata").at(0),
                         R"({"dataId":118,"dataType":2,"flag":1,"payload":[{"payload":{"hb":1}}]})"));
}

TEST_F(TransportRpClientTest, ClientDataGoesToTheServiceOfItsKind) {
  for (const auto& [kind, service] : {std::pair<uint32_t, const char*>{4, "ClientSvc"}, {10, "PolicySvc"},
                                      {3, "GeneralSvc"}}) {
    const ClientDataRecord record{kind, 1, R"([{"payload":{}}])"};
    ResponseHolder holder(*client_);
    ASSERT_EQ(client_->SetClientData(&record, 104, holder.slot(), 0), 1) << kind;
    EXPECT_EQ(server_.Journal("clientdata").back()["service"], service) << kind;
  }
}

TEST_F(TransportRpClientTest, AcknowledgementAndNotificationGoToTheNotificationService) {
  CmdAck ack{};
  ack.dwCmdId = 12;
  std::memset(ack.szCmdGuid, 'g', sizeof(ack.szCmdGuid));  // no terminator inside the field
  ack.dwStatus = kCmdAckFailed;
  ack.byRetry = 2;
  ack.byLeading = 7;
  char payload[] = R"({"result":"done"})";
  ack.pszAckPayload = payload;
  ResponseHolder holder(*client_);
  ASSERT_EQ(client_->SendCommandAck(&ack, holder.slot()), 1);
  EXPECT_EQ(holder->bSuccess, 1);
  ResponseHolder notified(*client_);
  ASSERT_EQ(client_->SendNotification(24, 112, "", notified.slot()), 1);

  const std::vector<Json::Value> journal = server_.Journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_TRUE(HasMembers(journal[0], R"({"operation":"ack","service":"NotifySvc","cmdId":12,"status":2,"retry":2,
      "leading":7,"payload":{"result":"done"}})"));
  EXPECT_EQ(journal[0]["cmdGuid"], std::string(99, 'g'));
  // A notification without text goes with a null payload.
  EXPECT_TRUE(HasMembers(journal[1], R"({"operation":"notification","service":"NotifySvc","kind":24,"dataId":112,
      "payload":null})"));
}

// Error codes reach the caller; a failed answer fails that call only and the
// client stays usable.
TEST_F(TransportRpClientTest, ServerFaultsFailOnlyTheExchangeTheyHit) {
  server_.Fail(R"({"count":1,"operation":"clientdata","errorCodes":[20016,20039]})");
  ResponseHolder codes(*client_);
  ASSERT_TRUE(Heartbeat(codes));
  EXPECT_EQ(codes->bSuccess, 0);
  EXPECT_THAT(std::vector<uint32_t>(codes->pErrorCodes, codes->pErrorCodes + codes->dwErrorCount),
              ElementsAre(20016u, 20039u));
  server_.Fail(R"({"count":1,"httpStatus":500})");
  ResponseHolder failed(*client_);
  EXPECT_FALSE(Heartbeat(failed));
  EXPECT_EQ(failed.response, nullptr);
  ResponseHolder next(*client_);
  ASSERT_TRUE(Heartbeat(next));
  EXPECT_EQ(next->bSuccess, 1);
}

TEST_F(TransportRpClientTest, RelayModeSendsThroughTheRelayAndBack) {
  ASSERT_EQ(client_->SetRPMode(1), 1);
  {
    ResponseHolder holder(*client_);
    ASSERT_EQ(client_->GetRPConfig(holder.slot()), 1);
    ASSERT_EQ(holder->dwCommandCount, 1u);
    EXPECT_TRUE(HasMembers(ParseJson(holder->pCommands[0].pszCommandJson),
                           R"({"cmd":{"id":57,"data":{"rpHb":15,"rpFcfg":1440,"rpReg":20}}})"));
  }
  ASSERT_EQ(client_->SetRPMode(0), 1);
  ResponseHolder holder(*client_);
  ASSERT_TRUE(Heartbeat(holder));
  EXPECT_THAT(environment_.reported, ElementsAre(agtransport::kConnectionViaRelay, agtransport::kConnectionDirect));
  // Unregistering always goes to the relay and says what the server said.
  EXPECT_EQ(client_->UnRegisterFromRP(), 1);
  server_.Fail(R"({"count":1,"operation":"unregister","errorCodes":[20016]})");
  EXPECT_EQ(client_->UnRegisterFromRP(), 0);

  const std::vector<Json::Value> journal = server_.Journal();
  ASSERT_EQ(journal.size(), 4u);
  EXPECT_TRUE(HasMembers(journal[0], R"({"operation":"rpconfig","service":"RelaySvc","listener":"relay"})"));
  EXPECT_TRUE(HasMembers(journal[2], R"({"operation":"unregister","service":"RelaySvc","listener":"relay"})"));

  // Without a relay address the client refuses relay mode and stays direct.
  auto direct = MakeClient(environment_);
  const CSConnectionInfo info = MakeConnectionInfo("http://", server_.port());
  ASSERT_EQ(direct->InitCSClient(&info), 1);
  EXPECT_EQ(direct->SetRPMode(1), 0);
  ResponseHolder config(*direct);
  ASSERT_EQ(direct->GetRPConfig(config.slot()), 1);
  EXPECT_EQ(server_.Journal("rpconfig").back()["listener"], "direct");
}

// Clean-up de-initialises the client while other threads may still call it.
TEST_F(TransportRpClientTest, CallsAfterDeInitialisingFailAndSendNothing) {
  ServerResponse* response = nullptr;
  EXPECT_EQ(client_->DeInitializeRPClient(), 1);
  EXPECT_EQ(client_->GetRPConfig(&response), 0);
  EXPECT_EQ(response, nullptr);
  EXPECT_THAT(server_.Journal(), IsEmpty());
}

}  // namespace
}  // namespace transport_test
