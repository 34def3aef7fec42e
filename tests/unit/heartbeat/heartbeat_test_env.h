// Surroundings for the heartbeat tests: the messaging environment with a
// command parser stand-in, a response generator that carries out every
// command unless told to fail it, an RP client that records every
// acknowledgement, and a manual clock.
//
// Command texts understood by the parser stand-in: "<id>" parses to that
// command id, and a text starting with "bad" is refused by OpenMsg.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/siblings/client_store.h"
#include "platform/clock.h"
#include "tests/unit/mocks/messaging_env.h"

class FakeCommandParser final : public ICSPMsgParser {
 public:
  ~FakeCommandParser() override = default;
  uint8_t OpenMsg(const char* json) override {
    text_ = json != nullptr ? json : "";
    return text_.rfind("bad", 0) == 0 ? 0 : 1;
  }
  uint8_t ParseRequestMsg(CSPRequest** request) override {
    auto* parsed = new CSPRequest{};
    parsed->commandId = static_cast<uint32_t>(std::strtoul(text_.c_str(), nullptr, 10));
    *request = parsed;
    return 1;
  }
  uint8_t FreeRequestMsg(CSPRequest* request) override {
    delete request;
    return 1;
  }
  uint8_t CloseMsg() override { return 1; }

 private:
  std::string text_;
};

class FakeParserLibrary final : public IMessageParserLibrary {
 public:
  uint8_t CreateICSPMsgParserObj(ICSPMsgParser** parser) override {
    if (handsOutNoObject) {  // says yes without making a parser
      *parser = nullptr;
      return 1;
    }
    *parser = new FakeCommandParser();
    ++live;
    return 1;
  }
  uint8_t DeleteICSPMsgParserObj(ICSPMsgParser* parser) override {
    delete static_cast<FakeCommandParser*>(parser);
    --live;
    return 1;
  }
  std::atomic<int> live{0};
  bool handsOutNoObject = false;
};

struct SentAck {
  uint32_t id;
  std::string guid;
  uint32_t status;
  uint8_t retry;
  uint8_t leading;
  std::string payload;
};

class HeartbeatEnv : public MessagingEnv {
 public:
  HeartbeatEnv() : parserScope_(ParserSet(&parser)), clockScope_(&clock) {
    using ::testing::_;
    using ::testing::Invoke;
    ON_CALL(respGen, CreateResponse(::testing::Matcher<const CSPRequest*>(_), _))
        .WillByDefault(Invoke([this](const CSPRequest* request, CAResponse*) {
          std::lock_guard<std::mutex> lock(mutex_);
          processed_.push_back(request->commandId);
          return static_cast<uint8_t>(failing_.count(request->commandId) == 0 ? 1 : 0);
        }));
    ON_CALL(rpClient, SendCommandAck(_, _)).WillByDefault(Invoke([this](const CmdAck* ack, ServerResponse** out) {
      std::lock_guard<std::mutex> lock(mutex_);
      acks_.push_back({ack->dwCmdId, ack->szCmdGuid, ack->dwStatus, ack->byRetry, ack->byLeading,
                       ack->pszAckPayload != nullptr ? ack->pszAckPayload : ""});
      *out = ackReply_;
      return ackResult_;
    }));
  }

  void FailCommand(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_.insert(id);
  }
  // What the RP client answers every acknowledgement with.
  void SetAckResult(uint8_t result, ServerResponse* reply = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    ackResult_ = result;
    ackReply_ = reply;
  }
  std::vector<uint32_t> Processed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return processed_;
  }
  std::vector<SentAck> Acks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return acks_;
  }
  void StoreLastGuid(uint32_t commandId, const std::string& guid) {
    support.PutBlob(DB_ID_LAST_COMMAND_GUID_BASE + commandId, guid.data(), guid.size());
  }
  std::string LastGuid(uint32_t commandId) const {
    const auto blob = support.Blob(DB_ID_LAST_COMMAND_GUID_BASE + commandId);
    return blob ? std::string(blob->begin(), blob->end()) : std::string();
  }

  FakeParserLibrary parser;
  platform::ManualClock clock;

 private:
  static SiblingSet ParserSet(FakeParserLibrary* parser) {
    SiblingSet set;
    set.msgparse = parser;
    return set;
  }

  mutable std::mutex mutex_;
  std::set<uint32_t> failing_;
  std::vector<uint32_t> processed_;
  std::vector<SentAck> acks_;
  uint8_t ackResult_ = 1;
  ServerResponse* ackReply_ = nullptr;
  ScopedSiblings parserScope_;
  platform::ScopedClock clockScope_;
};

// A list of command entries laid out as the RP client hands them out; the
// texts live in the list (a deque never moves them).
class TestCommandList {
 public:
  void Add(const std::string& text, const std::string& guid, uint32_t leading = 0) {
    ServerCommandEntry entry{};
    entry.dwLeading = leading;
    entry.pszCmdGuid = texts_.emplace_back(guid).data();
    entry.pszCommandJson = texts_.emplace_back(text).data();
    entries_.push_back(entry);
  }
  ServerCommandEntry* Entries() { return entries_.data(); }
  uint32_t Count() const { return static_cast<uint32_t>(entries_.size()); }

 private:
  std::deque<std::string> texts_;
  std::vector<ServerCommandEntry> entries_;
};
