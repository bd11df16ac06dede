#include "engine/flow_types.h"

#include <charconv>

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

std::string RemoteText(Ipv4Address address, std::uint32_t port) {
  const auto* octets = reinterpret_cast<const std::uint8_t*>(&address);
  char digits[16];
  std::string text;
  text.reserve(24);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text.append(digits, std::to_chars(digits, digits + sizeof digits, octets[i]).ptr);
  }
  text += ": ";
  text.append(digits, std::to_chars(digits, digits + sizeof digits, port).ptr);
  return text;
}

}  // namespace quorvel
