#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/ip_address.h"

namespace quorvel {

class NameResolver {
 public:
  virtual ~NameResolver() = default;
  // This computer's host name; empty when unknown.
  virtual std::string HostName() = 0;
  // IPv4 addresses of a host name, in resolver order; empty on failure.
  virtual std::vector<Ipv4Address> ResolveIpv4(const std::string& host) = 0;
  // IPv6 addresses of a host name, in resolver order; empty on failure.
  virtual std::vector<IpAddress> ResolveIpv6(const std::string& host) = 0;
  // Official host name of an address; nullopt when there is no reverse entry.
  virtual std::optional<std::string> ReverseLookup(const IpAddress& address) = 0;
};

}  // namespace quorvel
