// Facts about this computer that go into registration, status and P2P
// payloads: host name, operating system, network address, neighbours on the
// local network, the agent's own version. Read fresh on every call (cheap,
// and the server wants the current state); callable from any thread.
#pragma once

#include <string>
#include <vector>

namespace agresp {

struct OsFacts {
  std::string name;      // kernel name (uname)
  std::string release;   // kernel release
  std::string version;   // kernel build text
  std::string machine;   // hardware name
  std::string distribution;  // PRETTY_NAME of os-release, empty when unknown
};

struct Ipv4Interface {
  std::string address;  // dotted text
  std::string subnet;   // network address with prefix length, "192.168.1.0/24"
};

struct Neighbour {
  std::string address;
  std::string mac;
};

[[nodiscard]] std::string HostName();
[[nodiscard]] OsFacts ReadOsFacts();
// First IPv4 interface that is up and not loopback; empty fields when none.
[[nodiscard]] Ipv4Interface PrimaryIpv4();
// Complete entries of the kernel's neighbour (ARP) table.
[[nodiscard]] std::vector<Neighbour> ReadNeighbours();
// "major.minor.patch.tweak" of this build.
[[nodiscard]] std::string AgentVersionText();

}  // namespace agresp
