// Every RP client operation against the simulator: what reaches the server
// (journal), what comes back to the core (ServerResponse), and the connection
// state reported after each exchange.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>

#include "transport_fixture.h"

namespace transport_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<uint32_t> ErrorCodes(const ServerResponse* response) {
  return std::vector<uint32_t>(response->pErrorCodes, response->pErrorCodes + response->dwErrorCount);
}

class TransportRpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(server_.Start({"--relay-intervals", "15,1440,20"}));
    client_ = MakeClient(environment_);
    const CSConnectionInfo info = MakeConnectionInfo("http://", server_.port(), server_.relay_port());
    ASSERT_EQ(client_->InitCSClient(&info), 1);
  }

  bool Heartbeat(ResponseHolder& holder) {
    const char* json = R"([{"payload":{"hb":1}}])";
    const ClientDataRecord record{2, 1, json};
    return client_->SetClientData(&record, 118, holder.slot(), 1) == 1;
  }

  Cssim server_;
  FakeEnvironment environment_;
  std::unique_ptr<agtransport::RpClient> client_;
};

TEST_F(TransportRpClientTest, RegisterDeliversTheMessageWithTheClientIdentityAndARefusalAsError101) {
  {
    ResponseHolder holder(*client_);
    ASSERT_EQ(client_->Register(R"([{"payload":{"os":"linux"}}])", holder.slot()), 1);
    EXPECT_EQ(holder->bSuccess, 1);
  }
  const std::vector<Json::Value> journal = server_.Journal("register");
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_TRUE(HasMembers(journal[0], R"({"service":"ClientSvc","listener":"direct","tenantId":"tenant-0042",
      "clientGuid":"3f2504e04f8911d39a0c0305e82c3301","payload":[{"payload":{"os":"linux"}}]})"));
  EXPECT_THAT(environment_.reported(), ElementsAre(agtransport::kConnectionDirect));

  server_.Post("/admin/registration", R"({"refuse":true})");
  ResponseHolder refused(*client_);
  ASSERT_EQ(client_->Register(R"([{"payload":{}}])", refused.slot()), 1);
  EXPECT_EQ(refused->bSuccess, 0);
  EXPECT_THAT(ErrorCodes(refused.response), ElementsAre(101u));
}

TEST_F(TransportRpClientTest, HeartbeatBringsQueuedCommandsInOrderOnce) {
  server_.QueueCommand(kClientGuid, 12, R"(,"guid":"cmd-guid-1","leading":7)");
  server_.QueueCommand(kClientGuid, 20);
  {
    ResponseHolder holder(*client_);
    ASSERT_TRUE(Heartbeat(holder));
    ASSERT_EQ(holder->dwCommandCount, 2u);
    const ServerCommandEntry& first = holder->pCommands[0];
    EXPECT_EQ(first.dwLeading, 7u);
    EXPECT_STREQ(first.pszCmdGuid, "cmd-guid-1");
    EXPECT_EQ(ParseJson(first.pszCommandJson)["cmd"]["id"], 12);
    EXPECT_EQ(ParseJson(holder->pCommands[1].pszCommandJson)["cmd"]["id"], 20);
  }
  ResponseHolder again(*client_);
  ASSERT_TRUE(Heartbeat(again));
  EXPECT_EQ(again->dwCommandCount, 0u);

  const std::vector<Json::Value> journal = server_.Journal("clientdata");
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_TRUE(HasMembers(journal[0], R"({"dataId":118,"dataType":2,"flag":1,"payload":[{"payload":{"hb":1}}]})"));
}

TEST_F(TransportRpClientTest, ClientDataGoesToTheServiceOfItsKind) {
  const std::vector<std::pair<uint32_t, std::string>> cases = {
      {4, "ClientSvc"}, {10, "PolicySvc"}, {3, "GeneralSvc"}};
  for (const auto& [kind, service] : cases) {
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

TEST_F(TransportRpClientTest, ServerErrorCodesReachTheCallerOfTheFaultedOperationOnly) {
  server_.Fail(R"({"count":1,"operation":"ack","errorCodes":[5]})");
  server_.Fail(R"({"count":1,"operation":"clientdata","errorCodes":[20016,20039]})");
  ResponseHolder holder(*client_);
  ASSERT_TRUE(Heartbeat(holder));
  EXPECT_EQ(holder->bSuccess, 0);
  EXPECT_THAT(ErrorCodes(holder.response), ElementsAre(20016u, 20039u));
  // The fault was for the acknowledgement's operation and one response only.
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
  EXPECT_THAT(environment_.reported(),
              ElementsAre(agtransport::kConnectionViaRelay, agtransport::kConnectionDirect));
  // Unregistering always goes to the relay and says what the server said.
  EXPECT_EQ(client_->UnRegisterFromRP(), 1);
  server_.Fail(R"({"count":1,"operation":"unregister","errorCodes":[20016]})");
  EXPECT_EQ(client_->UnRegisterFromRP(), 0);

  const std::vector<Json::Value> journal = server_.Journal();
  ASSERT_EQ(journal.size(), 4u);
  EXPECT_TRUE(HasMembers(journal[0], R"({"operation":"rpconfig","service":"RelaySvc","listener":"relay"})"));
  EXPECT_TRUE(HasMembers(journal[2], R"({"operation":"unregister","service":"RelaySvc","listener":"relay"})"));
}

TEST_F(TransportRpClientTest, RelayModeWithoutRelayAddressStaysDirect) {
  auto client = MakeClient(environment_);
  const CSConnectionInfo info = MakeConnectionInfo("http://", server_.port());
  ASSERT_EQ(client->InitCSClient(&info), 1);
  EXPECT_EQ(client->SetRPMode(1), 0);
  ResponseHolder holder(*client);
  ASSERT_EQ(client->GetRPConfig(holder.slot()), 1);
  EXPECT_EQ(server_.Journal("rpconfig").back()["listener"], "direct");
}

// Calls without a usable connection record or with a payload that is not
// JSON fail and send nothing.
TEST_F(TransportRpClientTest, RefusedCallsSendNothing) {
  ServerResponse* response = nullptr;
  auto uninitialised = MakeClient(environment_);
  EXPECT_EQ(uninitialised->Register("[]", &response), 0);
  CSConnectionInfo info = MakeConnectionInfo("http://", 0);
  EXPECT_EQ(uninitialised->InitCSClient(&info), 0);
  EXPECT_EQ(client_->SendNotification(28, 138, "{\"a\":", &response), 0);
  EXPECT_EQ(client_->DeInitializeRPClient(), 1);
  EXPECT_EQ(client_->GetRPConfig(&response), 0);
  EXPECT_EQ(response, nullptr);
  EXPECT_THAT(server_.Journal(), IsEmpty());
}

// A failed answer fails the call; the client stays usable for the next
// exchange. What the parser refuses is its own table.
TEST_F(TransportRpClientTest, FailedAnswerFailsTheCallOnly) {
  server_.Fail(R"({"count":1,"httpStatus":500})");
  {
    ResponseHolder holder(*client_);
    EXPECT_FALSE(Heartbeat(holder));
    EXPECT_EQ(holder.response, nullptr);
  }
  ResponseHolder holder(*client_);
  EXPECT_TRUE(Heartbeat(holder));
  EXPECT_THAT(environment_.reported(), ElementsAre(agtransport::kConnectionDirect));
}

}  // namespace
}  // namespace transport_test
