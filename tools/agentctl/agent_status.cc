#include "agent_status.h"

#include <agsuite/agpreinst.h>

#include <fstream>
#include <iterator>

#include "agent_ini.h"
#include "client_store.h"
#include "core/config/tenant_codec.h"
#include "platform/folders.h"
#include "platform/ini.h"
#include "platform/utf.h"
#include "service_process.h"

namespace agentctl {
namespace {

std::string Folder(const std::string& root) { return root.ends_with('/') ? root : root + '/'; }

std::optional<std::string> TenantText(const Json::Value& tenant, const char* key) {
  const Json::Value& value = tenant.get(key, Json::Value());
  if (value.isString() && !value.asString().empty()) return value.asString();
  if (value.isIntegral()) return value.asString();
  return std::nullopt;
}

uint32_t ReadUpgradeType(const std::string& agent_root) {
  const auto ini = platform::Utf8ToUtf16(Folder(agent_root) + "config/" + "agadv.ini");
  if (!ini) return static_cast<uint32_t>(agmisc::kUpgradeType.default_value);
  return platform::GetPrivateProfileIntW(agmisc::kUpgradeType.section, agmisc::kUpgradeType.key,
                                         agmisc::kUpgradeType.default_value, ini->c_str());
}

}  // namespace

std::string StorePathOf(const std::string& agent_root) {
  return Folder(agent_root) + "data/" + agmisc::kClientStoreFileName;
}

std::string TenantPathOf(const std::string& agent_root) { return Folder(agent_root) + "clagnt.dat"; }

TenantView ReadTenant(const std::string& path) {
  TenantView view;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    view.problem = "no tenant file at " + path;
    return view;
  }
  view.present = true;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto plain = DecodeTenantFile(bytes);
  if (!plain) {
    view.problem = path + " is not a tenant file (bad Base64, length or padding)";
    return view;
  }
  if (!ParseTenantJson(*plain, &view.root)) {
    view.problem = path + " decrypts, but not to a JSON object";
    view.root = Json::Value();
    return view;
  }
  view.readable = true;
  return view;
}

AgentStatus CollectStatus(const StatusSources& sources) {
  AgentStatus status;
  status.agent_root = sources.agent_root;
  status.store_path = StorePathOf(sources.agent_root);
  status.store = ReadStore(status.store_path);
  status.tenant = ReadTenant(TenantPathOf(sources.agent_root));
  if (status.tenant.readable) {
    const Json::Value& tenant = status.tenant.root;
    status.tenant_id = TenantText(tenant, "tenantId");
    const auto host = TenantText(tenant, "csUrl");
    const auto port = TenantText(tenant, "csPrtNo");
    const auto app = TenantText(tenant, "csAppNm");
    if (host) status.server_address = *host + (port ? ":" + *port : "") + (app ? "/" + *app : "");
    const auto relay = TenantText(tenant, "rpIP");
    const auto relay_port = TenantText(tenant, "rpPrtNo");
    if (relay) status.relay_address = *relay + (relay_port ? ":" + *relay_port : "");
  }
  platform::SetMachineRoot(sources.machine_root);
  status.product_installed = AGPreInstIsAvInstalled() != 0;
  status.upgrade_type = ReadUpgradeType(sources.agent_root);
  status.service_pid = FindServicePid(sources.proc, sources.agent_root);
  return status;
}

}  // namespace agentctl
