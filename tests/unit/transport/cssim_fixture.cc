#include "cssim_fixture.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <json/json.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace transport_test {

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) ADD_FAILURE() << "not JSON: " << text;
  return value;
}

namespace {

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  // The record is zeroed, so a cut text stays terminated.
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

std::unique_ptr<httplib::Client> AdminClient(int port, bool tls, const std::string& ca_file) {
  auto client = std::make_unique<httplib::Client>((tls ? "https://127.0.0.1:" : "http://127.0.0.1:") +
                                                  std::to_string(port));
  if (tls) client->set_ca_cert_path(ca_file.c_str());
  client->set_connection_timeout(5);
  client->set_read_timeout(10);
  return client;
}

// The port printed after `prefix` in cssim's start-up lines.
std::optional<int> PortAfter(const std::string& output, const std::string& prefix) {
  const size_t at = output.find(prefix);
  if (at == std::string::npos) return std::nullopt;
  int port = 0;
  const char* begin = output.data() + at + prefix.size();
  const auto [end, ec] = std::from_chars(begin, output.data() + output.size(), port);
  if (ec != std::errc() || end == begin) return std::nullopt;
  return port;
}

}  // namespace

void Cssim::Start(const std::vector<std::string>& extra, bool with_relay) {
  std::vector<std::string> argv = {CSSIM_PATH, "--listen", "127.0.0.1:0", "--journal",
                                   folder_.path() + "/journal.jsonl"};
  if (with_relay) {
    argv.push_back("--relay-listen");
    argv.push_back("127.0.0.1:0");
  }
  argv.insert(argv.end(), extra.begin(), extra.end());
  for (const std::string& arg : extra) tls_ = tls_ || arg == "--tls-cert";
  ASSERT_TRUE(process_.Start(argv));
  ASSERT_TRUE(process_.WaitForOutput("cssim: ready", std::chrono::seconds(20))) << process_.output();
  const std::optional<int> port = PortAfter(process_.output(), "cssim: listening on 127.0.0.1:");
  ASSERT_TRUE(port.has_value()) << process_.output();
  port_ = *port;
  if (with_relay) {
    const std::optional<int> relay_port = PortAfter(process_.output(), "cssim: relay listening on 127.0.0.1:");
    ASSERT_TRUE(relay_port.has_value()) << process_.output();
    relay_port_ = *relay_port;
  }
}

Json::Value Cssim::Post(const std::string& path, const std::string& json) {
  auto client = AdminClient(port_, tls_, ca_file);
  const httplib::Result result = client->Post(path.c_str(), json, "application/json");
  if (!result || result->status != 200) {
    ADD_FAILURE() << "admin POST " << path << " failed: " << (result ? result->body : httplib::to_string(result.error()));
    return {};
  }
  return ParseJson(result->body);
}

Json::Value Cssim::Get(const std::string& path) {
  auto client = AdminClient(port_, tls_, ca_file);
  const httplib::Result result = client->Get(path.c_str());
  if (!result || result->status != 200) {
    ADD_FAILURE() << "admin GET " << path << " failed";
    return {};
  }
  return ParseJson(result->body);
}

std::vector<Json::Value> Cssim::Journal(const std::string& operation) {
  const Json::Value answer = Get("/admin/journal" + (operation.empty() ? "" : "?operation=" + operation));
  std::vector<Json::Value> entries;
  for (const Json::Value& entry : answer["entries"]) entries.push_back(entry);
  return entries;
}

void Cssim::QueueCommand(const std::string& client, uint32_t id, const std::string& extra_members) {
  Post("/admin/commands", R"({"client":")" + client + R"(","command":{"cmd":{"id":)" + std::to_string(id) +
                              R"(,"type":1,"context":{},"data":{}}})" + extra_members + "}");
}

CSConnectionInfo MakeConnectionInfo(const std::string& scheme, int port, int relay_port, const std::string& host) {
  CSConnectionInfo info{};
  Put(info.szTenantId, kTenantId);
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
