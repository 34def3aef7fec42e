// Test surroundings for the core's server-communication routines: a
// temporary agent root with a tenant file, the in-memory support library, and
// messaging-library mocks wired so that a request built by the core turns
// into a chosen protocol JSON text. Every request the core builds is recorded
// (id, category, action, payload) at the moment the response generator sees
// it. One per test, created and destroyed on the test thread.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "core/config/tenant_info.h"
#include "platform/utf.h"
#include "tests/unit/mocks/fake_support_library.h"
#include "tests/unit/mocks/log_capture.h"
#include "tests/unit/mocks/scratch_folder.h"
#include "tests/unit/mocks/sibling_mocks.h"

// A tenant file naming every server part, with a heartbeat every 60 minutes.
inline constexpr const char* kFullTenantJson = R"({"tenantId":"T-1","locale":"en-US","csUrl":"cs.example.test",
  "csAppNm":"app","csSrvCl":"cl","csSrvRp":"rp","csSrvNe":"ne","csSrvPo":"po","csSrvGn":"gn","csPrtNo":443,
  "clientDefaultHeartBeatInterval":60})";

struct RecordedRequest {
  uint32_t id;
  uint32_t category;
  uint32_t action;
  std::string payload;  // empty when the entry had none
  bool hasPayload;
};

class MessagingEnv {
 public:
  MessagingEnv() : siblings_(MakeSet(this)) {
    base_ = test_support::MakeScratchFolder("agcomm-");
    root_ = base_ + "/";
    support.SetRootDir(*platform::Utf8ToUtf16(root_));
    support.SetGuid("0123456789abcdef0123456789abcdef");

    using ::testing::_;
    using ::testing::DoAll;
    using ::testing::Invoke;
    using ::testing::Return;
    using ::testing::SetArgPointee;
    ON_CALL(resp, CreateCAResponseGenObjNew(_, _))
        .WillByDefault(DoAll(SetArgPointee<0>(&respGen), Return(1)));
    ON_CALL(resp, DeleteCAResponseGenObj(_)).WillByDefault(Return(1));
    ON_CALL(respGen, Init()).WillByDefault(Return(1));
    ON_CALL(respGen, Deinit()).WillByDefault(Return(1));
    ON_CALL(respGen, FreeResponse(_)).WillByDefault(Return(1));
    ON_CALL(respGen, CreateResponse(::testing::Matcher<const RequestList*>(_), _))
        .WillByDefault(Invoke([this](const RequestList* list, CAResponse*) {
          Record(list);
          return uint8_t{1};
        }));
    ON_CALL(msggen, CreateICSPMsgGenObj(_)).WillByDefault(DoAll(SetArgPointee<0>(&msgGen), Return(1)));
    ON_CALL(msggen, DeleteICSPMsgGenObj(_)).WillByDefault(Return(1));
    ON_CALL(msgGen, CreateResponseMsg(_, _)).WillByDefault(Invoke([this](const CAResponse*, char** text) {
      std::lock_guard<std::mutex> lock(mutex_);
      *text = message_.empty() ? nullptr : message_.data();
      return uint8_t{1};
    }));
    ON_CALL(msgGen, FreeResponseMsg(_)).WillByDefault(Return(1));
    ON_CALL(version, GetProductVersion(_, _)).WillByDefault(Invoke([](const char16_t*, uint8_t parts[4]) {
      parts[0] = 4;
      parts[1] = 2;
      parts[2] = 0;
      parts[3] = 7;
      return uint8_t{1};
    }));
    ON_CALL(rpClient, FreeServerResponse(_)).WillByDefault(Return(1));
    ON_CALL(rpClient, SetRPMode(_)).WillByDefault(Return(1));
    SetMessage(R"([{"payload":{"state":1}}])");
  }
  ~MessagingEnv() {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
  MessagingEnv(const MessagingEnv&) = delete;
  MessagingEnv& operator=(const MessagingEnv&) = delete;

  // The protocol JSON the message generator produces for every request.
  void SetMessage(const std::string& json) {
    std::lock_guard<std::mutex> lock(mutex_);
    message_ = json;
  }

  void WriteTenantJson(const std::string& json = kFullTenantJson) const {
    std::ofstream(root_ + "clagnt.dat", std::ios::binary | std::ios::trunc) << EncodeTenantFile(json);
  }

  std::vector<RecordedRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  size_t CountRequests(uint32_t id) const {
    size_t n = 0;
    for (const auto& r : Requests()) n += r.id == id ? 1 : 0;
    return n;
  }

  InMemorySupportLibrary support;
  ::testing::NiceMock<MockMessageGeneratorLibrary> msggen;
  ::testing::NiceMock<MockResponseGeneratorLibrary> resp;
  ::testing::NiceMock<MockTransportLibrary> transport;
  ::testing::NiceMock<MockPreInstallLibrary> preinst;
  ::testing::NiceMock<MockVersionLibrary> version;
  ::testing::NiceMock<MockResponseGen> respGen;
  ::testing::NiceMock<MockMsgGen> msgGen;
  ::testing::NiceMock<MockRpClient> rpClient;
  LogCapture log;

 private:
  static SiblingSet MakeSet(MessagingEnv* env) {
    SiblingSet set;
    set.support = &env->support;
    set.msggen = &env->msggen;
    set.resp = &env->resp;
    set.transport = &env->transport;
    set.preinst = &env->preinst;
    set.version = &env->version;
    return set;
  }

  void Record(const RequestList* list) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const RequestDetails* e = list->pRequestDetailsList; e != nullptr; e = e->next) {
      requests_.push_back({e->id, e->category, e->action, e->payload ? e->payload : "", e->payload != nullptr});
    }
  }

  mutable std::mutex mutex_;
  std::string message_;                  // guarded by mutex_
  std::vector<RecordedRequest> requests_;  // guarded by mutex_
  ScopedSiblings siblings_;
  std::string base_;
  std::string root_;
};

// A server response whose success byte and error codes a test chooses.
struct TestServerResponse {
  explicit TestServerResponse(bool success, std::vector<uint32_t> codes = {}) : errors(std::move(codes)) {
    response.bSuccess = success ? 1 : 0;
    response.dwErrorCount = static_cast<uint32_t>(errors.size());
    response.pErrorCodes = errors.empty() ? nullptr : errors.data();
    response.pCommands = nullptr;
    response.dwCommandCount = 0;
  }
  std::vector<uint32_t> errors;
  ServerResponse response{};
};
