#include "cssim_fixture.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace transport_test {

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  if (!Json::Reader().parse(text, value)) ADD_FAILURE() << "not JSON: " << text;
  return value;
}

namespace {

bool Holds(const Json::Value& value, const Json::Value& part) {
  if (!part.isObject()) return value == part;
  if (!value.isObject()) return false;
  for (const std::string& name : part.getMemberNames()) {
    if (!value.isMember(name) || !Holds(value[name], part[name])) return false;
  }
  return true;
}

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  // The record is zeroed, so a cut text stays terminated.
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// The port printed after `prefix` in cssim's start-up lines, 0 when missing.
int PortAfter(const std::string& output, const std::string& prefix) {
  const size_t at = output.find(prefix);
  return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + prefix.size());
}

}  // namespace

::testing::AssertionResult HasMembers(const Json::Value& value, const std::string& expected) {
  const Json::Value part = ParseJson(expected);
  if (Holds(value, part)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << value.toStyledString() << "does not hold " << expected;
}

void Cssim::Start(const std::vector<std::string>& extra, bool with_relay) {
  std::vector<std::string> argv = {CSSIM_PATH, "--listen", "127.0.0.1:0", "--journal",
                                   folder_.path() + "/journal.jsonl"};
  if (with_relay) argv.insert(argv.end(), {"--relay-listen", "127.0.0.1:0"});
  argv.insert(argv.end(), extra.begin(), extra.end());
  tls_ = std::find(extra.begin(), extra.end(), "--tls-cert") != extra.end();
  ASSERT_TRUE(process_.Start(argv));
  ASSERT_TRUE(process_.WaitForOutput("cssim: ready", std::chrono::seconds(20))) << process_.output();
  port_ = PortAfter(process_.output(), "cssim: listening on 127.0.0.1:");
  relay_port_ = with_relay ? PortAfter(process_.output(), "cssim: relay listening on 127.0.0.1:") : 0;
  ASSERT_TRUE(port_ > 0 && (relay_port_ > 0 || !with_relay)) << process_.output();
}

Json::Value Cssim::Admin(const std::string& path, const std::string& json) {
  httplib::Client client((tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_));
  if (tls_) client.set_ca_cert_path(ca_file.c_str());
  client.set_connection_timeout(5);
  client.set_read_timeout(10);
  const httplib::Result result =
      json.empty() ? client.Get(path.c_str()) : client.Post(path.c_str(), json, "application/json");
  if (!result || result->status != 200) {
    ADD_FAILURE() << "admin request " << path << " failed: " << (result ? result->body : "no answer");
    return {};
  }
  return ParseJson(result->body);
}

std::vector<Json::Value> Cssim::Journal(const std::string& operation) {
  const Json::Value answer = Admin("/admin/journal" + (operation.empty() ? "" : "?operation=" + operation));
  return std::vector<Json::Value>(answer["entries"].begin(), answer["entries"].end());
}

CSConnectionInfo MakeConnectionInfo(const std::string& scheme, int port, int relay_port, const std::string& host) {
  CSConnectionInfo info{};
  Put(info.szTenantId, "tenant-0042");
  Put(info.szClientGuid, kClientGuid);
  Put(info.szClientVersion, "10.14.0.1");
  Put(info.szLocale, "en-US");
  Put(info.szServerUrl, scheme + host);
  Put(info.szServerAppName, "agsrv");
  Put(info.szClientService, "ClientSvc");
  Put(info.szRpService, "RelaySvc");
  Put(info.szNotificationService, "NotifySvc");
  Put(info.szPolicyService, "PolicySvc");
  Put(info.szGeneralService, "GeneralSvc");
  info.wServerPort = static_cast<uint16_t>(port);
  if (relay_port != 0) {
    Put(info.szRelayAddress, host);
    info.wRelayPort = static_cast<uint16_t>(relay_port);
  }
  return info;
}

}  // namespace transport_test
