#include "common/ip_address.h"

#include <arpa/inet.h>

#include <charconv>

namespace quorvel {

std::string IpToText(const IpAddress& address) {
  if (address.IsIpv4()) return Ipv4ToText(address.Ipv4());
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text);
  return text;
}

std::optional<IpAddress> ParseIp(std::string_view text) {
  if (const auto ipv4 = ParseIpv4(text)) return IpAddress(*ipv4);
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  char buffer[INET6_ADDRSTRLEN] = {};
  std::memcpy(buffer, text.data(), text.size());
  std::uint8_t bytes[16];
  if (inet_pton(AF_INET6, buffer, bytes) != 1) return std::nullopt;
  return IpAddress::Ipv6(bytes);
}

bool IpLess(const IpAddress& a, const IpAddress& b) {
  if (a.family != b.family) return a.IsIpv4();
  if (a.IsIpv4()) return MakeIpv4Number(a.Ipv4()) < MakeIpv4Number(b.Ipv4());
  return std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size()) < 0;
}

bool SharesIpv6Prefix(const IpAddress& a, const IpAddress& b, int prefixLength) {
  if (prefixLength <= 0) return true;
  if (prefixLength > 128) prefixLength = 128;
  const auto whole = static_cast<std::size_t>(prefixLength / 8);
  if (std::memcmp(a.bytes.data(), b.bytes.data(), whole) != 0) return false;
  const int bits = prefixLength % 8;
  if (bits == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xFF << (8 - bits));
  return (a.bytes[whole] & mask) == (b.bytes[whole] & mask);
}

std::string EndpointText(const IpAddress& address, std::uint32_t port) {
  std::string text;
  if (address.IsIpv4()) {
    // Built by hand: the worker makes one per applied event.
    char digits[16];
    text.reserve(24);
    for (std::size_t i = 0; i < 4; ++i) {
      if (i > 0) text += '.';
      text.append(digits, std::to_chars(digits, digits + sizeof digits, address.bytes[i]).ptr);
    }
  } else {
    text = IpToText(address);
  }
  text += ": ";
  char digits[16];
  text.append(digits, std::to_chars(digits, digits + sizeof digits, port).ptr);
  return text;
}

std::optional<std::string_view> EndpointAddressPart(std::string_view endpoint) {
  const std::size_t separator = endpoint.rfind(": ");
  if (separator == std::string_view::npos) return std::nullopt;
  return endpoint.substr(0, separator);
}

}  // namespace quorvel
