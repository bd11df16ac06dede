#include "engine/flow_types.h"

namespace quorvel {

bool FlowKeyLess(const FlowKeyView& a, const FlowKeyView& b) {
  if (const int order = a.localSource.compare(b.localSource); order != 0) return order < 0;
  if (a.localPort != b.localPort) return a.localPort < b.localPort;
  const std::uint32_t addressA = MakeIpv4Number(a.remoteAddress);
  const std::uint32_t addressB = MakeIpv4Number(b.remoteAddress);
  if (addressA != addressB) return addressA < addressB;
  return a.remotePort < b.remotePort;
}

std::size_t FlowKeyHash::operator()(const FlowKeyView& key) const {
  std::size_t hash = std::hash<std::string_view>{}(key.localSource);
  const std::uint64_t numbers = (static_cast<std::uint64_t>(key.remoteAddress) << 32) ^
                                (static_cast<std::uint64_t>(key.localPort) << 16) ^ key.remotePort;
  hash ^= std::hash<std::uint64_t>{}(numbers) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
  return hash;
}

}  // namespace quorvel
