// Test environment of the messaging libraries: a private agent root (client
// data store) and machine root (protection-product folder), a generator and
// parser through the exported factories, and a recording core callback.
#pragma once

#include <agsuite/agmsg.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace messaging_test {

// Events seen by RecordingCallback, in order.
std::vector<std::pair<int32_t, int64_t>>& RecordedEvents();
// Result RecordingCallback gives (true unless a test says otherwise).
void SetCallbackResult(bool result);
uint8_t RecordingCallback(int32_t eventId, int64_t param);

Json::Value ParseOrNull(const std::string& text);

class MessagingEnv : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void InstallProduct();
  void WriteProductFile(const std::string& name, const std::string& text);
  [[nodiscard]] std::string ReadProductFile(const std::string& name) const;

  // Payload texts per entry for one request list (null text -> "").
  std::vector<std::string> Respond(const std::vector<RequestDetails>& entries);
  std::string RespondOne(uint32_t id, uint32_t category, uint32_t action, const char* payload = nullptr);

  // Parses `command` and carries it out; the response stays for inspection
  // until the next call or TearDown.
  bool Command(const std::string& command);

  // Client data store access.
  std::optional<std::vector<uint8_t>> ReadStore(uint32_t id, uint32_t size);
  void WriteStore(uint32_t id, const std::vector<uint8_t>& bytes);

  std::string root_;
  std::string product_folder_;
  ICAResponseGen* gen_ = nullptr;
  CAResponse last_response_{};
  CSPRequest* last_request_ = nullptr;
  ICSPMsgParser* parser_ = nullptr;
};

}  // namespace messaging_test
