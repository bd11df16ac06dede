#pragma once

#include "platform/name_resolver.h"

namespace quorvel {

// Names through the C library's resolver (hosts file, DNS, ... as configured).
// Safe to use from several threads at once.
class PosixNameResolver final : public NameResolver {
 public:
  std::string HostName() override;
  std::vector<Ipv4Address> ResolveIpv4(const std::string& host) override;
  std::vector<IpAddress> ResolveIpv6(const std::string& host) override;
  std::optional<std::string> ReverseLookup(const IpAddress& address) override;
};

}  // namespace quorvel
