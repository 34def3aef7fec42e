// The message parser: turns the JSON text of one server command,
//   {"cmd": {"id": N, "type": K, "context": ..., "data": ...}},
// into a CSPRequest for the response generator.
//
// One parser holds at most one open message. The CSPRequest records it hands
// out own their texts and go back through FreeRequestMsg; they stay valid after
// CloseMsg. A parser is used by one thread at a time (each command processing
// creates its own).
#pragma once

#include <agsuite/agmsg.h>

#include <cstddef>
#include <optional>
#include <string>

namespace agmsgparse {

// Larger command texts are refused unread: no server command comes near this,
// and it bounds what a broken or hostile response can make us allocate.
inline constexpr size_t kMaxCommandBytes = 1024 * 1024;

// The command "type" whose acknowledgement carries a payload.
inline constexpr uint32_t kAckPayloadType = 4;

struct ParsedCommand {
  uint32_t id = 0;
  uint32_t type = 0;
  std::string context;  // compact JSON, empty when absent
  std::string data;     // compact JSON, empty when absent
};

// Parses and checks one command text; nullopt (with a log line) when it is not
// a well-formed command.
[[nodiscard]] std::optional<ParsedCommand> ParseCommandText(const char* text);

class CommandParser final : public ICSPMsgParser {
 public:
  CommandParser() = default;
  ~CommandParser() override = default;
  CommandParser(const CommandParser&) = delete;
  CommandParser& operator=(const CommandParser&) = delete;

  uint8_t OpenMsg(const char* pszJson) override;
  uint8_t ParseRequestMsg(CSPRequest** ppRequest) override;
  uint8_t FreeRequestMsg(CSPRequest* pRequest) override;
  uint8_t CloseMsg() override;

 private:
  std::optional<ParsedCommand> open_;
};

}  // namespace agmsgparse
