// libFuzzer target for a whole heartbeat answer: the body goes through the
// transport's parser, then the skip step and the processing of every command
// left, with the real command parser, a faked server (RP client) and a faked
// client data store. Whatever the answer: no crash, one skip mark per
// command, and no store entry outside the command-GUID range (1000 and up)
// is ever written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <agsuite/agevtlog.h>

#include "core/rpclcore/command_processing.h"
#include "core/rpclcore/command_skipping.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "suite/agtransport/server_response.h"
#include "tests/unit/mocks/fake_support_library.h"

namespace {

// Every exchange succeeds without an answer to process.
class FakeServer final : public IRPClient {
 public:
  uint8_t InitCSClient(const CSConnectionInfo*) override { return 1; }
  uint8_t DeInitializeRPClient() override { return 1; }
  uint8_t Register(const char*, ServerResponse** out) override { return Answer(out); }
  uint8_t SendCommandAck(const CmdAck*, ServerResponse** out) override { return Answer(out); }
  uint8_t SetClientData(const ClientDataRecord*, uint32_t, ServerResponse** out, uint8_t) override {
    return Answer(out);
  }
  uint8_t SendNotification(uint32_t, uint32_t, const char*, ServerResponse** out) override { return Answer(out); }
  uint8_t FreeServerResponse(ServerResponse*) override { return 1; }
  uint8_t GetRPConfig(ServerResponse** out) override { return Answer(out); }
  uint8_t SetRPMode(uint8_t) override { return 1; }
  uint8_t UnRegisterFromRP() override { return 1; }

 private:
  static uint8_t Answer(ServerResponse** out) {
    if (out != nullptr) *out = nullptr;
    return 1;
  }
};

// Carries out every command with nothing to send back.
class FakeResponseGen final : public ICAResponseGen {
 public:
  uint8_t Init() override { return 1; }
  uint8_t Deinit() override { return 1; }
  uint8_t CreateResponse(const RequestList*, CAResponse* response) override { return Empty(response); }
  uint8_t CreateResponse(const CSPRequest*, CAResponse* response) override { return Empty(response); }
  uint8_t FreeResponse(CAResponse*) override { return 1; }

 private:
  static uint8_t Empty(CAResponse* response) {
    *response = CAResponse{};
    return 1;
  }
};

bool WritesOutsideTheGuidRange(const InMemorySupportLibrary& store) {
  for (uint32_t id = 0; id < DB_ID_LAST_COMMAND_GUID_BASE; ++id) {
    if (store.HasBlob(id)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    AgEvtLogSetMaxLevel(0);
    return true;
  }();
  (void)quiet;
  std::string error;
  ServerResponse* response =
      agtransport::ParseServerResponse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  if (response == nullptr) return 0;

  InMemorySupportLibrary store;
  store.SetRegStatusValue(3, false);
  SiblingSet fakes;
  fakes.support = &store;
  const ScopedSiblings scope(fakes);
  FakeServer server;
  FakeResponseGen respGen;

  std::vector<bool> skip;
  RPMarkCommandsToSkip(response->pCommands, response->dwCommandCount, &server, &skip);
  if (skip.size() != response->dwCommandCount) std::abort();
  for (uint32_t i = 0; i < response->dwCommandCount; ++i) {
    if (skip[i]) continue;
    const ServerCommandEntry& entry = response->pCommands[i];
    uint32_t id = 0;
    uint32_t status = 0;
    char* payload = nullptr;
    RpReceiveAndProcessCommand(entry.pszCommandJson, &server, &id, &status, &respGen, entry.pszCmdGuid, &payload);
    std::free(payload);
  }
  if (WritesOutsideTheGuidRange(store)) std::abort();
  agtransport::ReleaseServerResponse(response);
  return 0;
}
