#include "engine/flow_types.h"

namespace quorvel {

bool FlowKeyLess(const FlowKeyView& a, const FlowKeyView& b) {
  if (const int order = a.localSource.compare(b.localSource); order != 0) return order < 0;
  if (a.localPort != b.localPort) return a.localPort < b.localPort;
  if (!(*a.remoteAddress == *b.remoteAddress)) return IpLess(*a.remoteAddress, *b.remoteAddress);
  return a.remotePort < b.remotePort;
}

std::size_t FlowKeyHash::operator()(const FlowKeyView& key) const {
  std::size_t hash = std::hash<std::string_view>{}(key.localSource);
  const IpAddress& address = *key.remoteAddress;
  std::uint64_t numbers = (static_cast<std::uint64_t>(address.Ipv4()) << 32) ^
                          (static_cast<std::uint64_t>(key.localPort) << 16) ^ key.remotePort;
  if (address.IsIpv6()) numbers ^= IpAddressHash{}(address) * 31;
  hash ^= std::hash<std::uint64_t>{}(numbers) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
  return hash;
}

}  // namespace quorvel
