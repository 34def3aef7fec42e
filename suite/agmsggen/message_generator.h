// The message generator: turns a CAResponse built by the response generator
// into the protocol message text, a JSON array with one object per response
// entry that has a payload:
//   [{"dataId": <id>, "payload": {...}}, ...]
// Entries whose payload text is null or empty are left out: that is how the
// response generator says "nothing to send for this id" (an unchanged status
// item). When no entry is left the message is the empty text, which callers
// treat as nothing to send.
//
// The generator owns every text it hands out until FreeResponseMsg; texts not
// given back are released with the generator. One thread at a time.
#pragma once

#include <agsuite/agmsg.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace agmsggen {

// Builds the message text for the list starting at `first`; entries whose
// payload is not valid JSON are left out with a log line.
[[nodiscard]] std::string BuildMessageText(const ResponseDetails* first);

class MessageGenerator final : public ICSPMsgGen {
 public:
  MessageGenerator() = default;
  ~MessageGenerator() override = default;
  MessageGenerator(const MessageGenerator&) = delete;
  MessageGenerator& operator=(const MessageGenerator&) = delete;

  uint8_t CreateResponseMsg(const CAResponse* response, char** ppszMsg) override;
  uint8_t FreeResponseMsg(char* pszMsg) override;

 private:
  // Handed-out texts by address.
  std::unordered_map<const char*, std::unique_ptr<char[]>> texts_;
};

}  // namespace agmsggen
