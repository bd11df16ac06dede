#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/ip_address.h"
#include "common/ipv4.h"

namespace quorvel {

// One network interface with its first IPv4 address and all its IPv6 ones.
struct InterfaceInfo {
  std::string name;         // system name, e.g. "eth0"
  std::string description;  // text shown to the user
  std::string address;      // dotted text of the first IPv4 address
  std::string mask;         // dotted text of its mask
  bool up = false;  // up and linked: it can carry traffic
  bool loopback = false;
  std::vector<IpPrefix> ipv6Addresses;  // global, temporary, unique-local and link-local
};

// "IPv4 198.18.0.1; IPv6 2001:db8::1/64, fe80::1/64": the addresses of an
// interface as the Options dialog lists them.
std::string InterfaceAddressesText(const InterfaceInfo& info);

class InterfaceLister {
 public:
  virtual ~InterfaceLister() = default;
  // Interfaces with an IPv4 address, in the order the system reports them.
  virtual std::vector<InterfaceInfo> List() = 0;
  // Address of the interface that holds the default route, if any.
  virtual std::optional<Ipv4Address> DefaultRouteAddress() = 0;
};

}  // namespace quorvel
