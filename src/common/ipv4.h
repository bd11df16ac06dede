#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// IPv4 addresses are kept as the four wire bytes copied into a uint32_t
// ("network byte order"); ports are host-order numbers.
using Ipv4Address = std::uint32_t;

// Dotted-decimal text of an address, e.g. "10.0.0.5".
std::string Ipv4ToText(Ipv4Address address);

// Parses strict dotted-decimal text ("a.b.c.d"); nullopt otherwise.
std::optional<Ipv4Address> ParseIpv4(std::string_view text);

// Builds an address from its four octets in reading order.
inline Ipv4Address MakeIpv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  Ipv4Address address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

// First octet of an address as it is written in dotted text.
inline std::uint8_t FirstOctet(Ipv4Address address) {
  return reinterpret_cast<const std::uint8_t*>(&address)[0];
}

// The address as the number whose least significant byte is its first octet
// (the sort order of flows and of the remote-address column).
inline std::uint32_t MakeIpv4Number(Ipv4Address address) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace quorvel
