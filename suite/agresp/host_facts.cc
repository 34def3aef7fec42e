#include "host_facts.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <bit>
#include <fstream>
#include <sstream>

namespace agresp {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return {};
  return name;
}

OsFacts ReadOsFacts() {
  OsFacts facts;
  utsname uts{};
  if (uname(&uts) == 0) {
    facts.name = uts.sysname;
    facts.release = uts.release;
    facts.version = uts.version;
    facts.machine = uts.machine;
  }
  std::ifstream release("/etc/os-release");
  std::string line;
  while (std::getline(release, line)) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    std::string value = line.substr(12);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    facts.distribution = value;
    break;
  }
  return facts;
}

Ipv4Interface PrimaryIpv4() {
  Ipv4Interface result;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return result;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET || it->ifa_netmask == nullptr) continue;
    if ((it->ifa_flags & IFF_UP) == 0 || (it->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const in_addr address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr;
    const in_addr mask = reinterpret_cast<const sockaddr_in*>(it->ifa_netmask)->sin_addr;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    result.address = text;
    in_addr network{};
    network.s_addr = address.s_addr & mask.s_addr;
    inet_ntop(AF_INET, &network, text, sizeof(text));
    result.subnet = std::string(text) + "/" + std::to_string(std::popcount(ntohl(mask.s_addr)));
    break;
  }
  freeifaddrs(list);
  return result;
}

std::vector<Neighbour> ReadNeighbours() {
  std::vector<Neighbour> neighbours;
  std::ifstream arp("/proc/net/arp");
  std::string line;
  std::getline(arp, line);  // column titles
  while (std::getline(arp, line)) {
    std::istringstream fields(line);
    std::string address, hwType, flags, mac;
    if (!(fields >> address >> hwType >> flags >> mac)) continue;
    if (flags == "0x0" || mac == "00:00:00:00:00:00") continue;  // incomplete entry
    neighbours.push_back({address, mac});
  }
  return neighbours;
}

std::string AgentVersionText() {
  return std::to_string(AG_VERSION_MAJOR) + "." + std::to_string(AG_VERSION_MINOR) + "." +
         std::to_string(AG_VERSION_PATCH) + "." + std::to_string(AG_VERSION_TWEAK);
}

}  // namespace agresp
