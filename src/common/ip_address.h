#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "common/ipv4.h"

namespace quorvel {

enum class IpFamily : std::uint8_t { kIpv4 = 4, kIpv6 = 6 };

// An IPv4 or IPv6 address as its wire bytes. An IPv4 address fills the first
// four bytes and leaves the rest zero. Byte-aligned and 17 bytes, so that a
// flow key holding one is no larger than with a bare IPv4 address and ports.
struct IpAddress {
  std::array<std::uint8_t, 16> bytes{};
  IpFamily family = IpFamily::kIpv4;

  IpAddress() = default;
  // Every IPv4 address is an address; the conversion keeps IPv4 code as it is.
  IpAddress(Ipv4Address ipv4) { std::memcpy(bytes.data(), &ipv4, sizeof ipv4); }  // NOLINT
  static IpAddress Ipv6(const std::uint8_t* sixteen) {
    IpAddress address;
    std::memcpy(address.bytes.data(), sixteen, 16);
    address.family = IpFamily::kIpv6;
    return address;
  }

  bool IsIpv4() const { return family == IpFamily::kIpv4; }
  bool IsIpv6() const { return family == IpFamily::kIpv6; }
  Ipv4Address Ipv4() const {
    Ipv4Address ipv4;
    std::memcpy(&ipv4, bytes.data(), sizeof ipv4);
    return ipv4;
  }
  // ff00::/8 for IPv6, 224.0.0.0/4 for IPv4.
  bool IsMulticast() const {
    return IsIpv4() ? bytes[0] >= 224 && bytes[0] <= 239 : bytes[0] == 0xFF;
  }

  // Word by word: a 17-byte memcmp is a library call. An IPv4 address is
  // read in the width it was written in; wider reads of fresh narrow stores
  // stall.
  friend bool operator==(const IpAddress& a, const IpAddress& b) noexcept {
    if (a.family != b.family) return false;
    if (a.IsIpv4()) return a.Ipv4() == b.Ipv4();
    std::uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a.bytes.data(), 8);
    std::memcpy(&b0, b.bytes.data(), 8);
    std::memcpy(&a1, a.bytes.data() + 8, 8);
    std::memcpy(&b1, b.bytes.data() + 8, 8);
    return a0 == b0 && a1 == b1;
  }
};
static_assert(sizeof(IpAddress) == 17 && alignof(IpAddress) == 1);

// An interface address with the length of its network prefix.
struct IpPrefix {
  IpAddress address;
  int length = 0;
  friend bool operator==(const IpPrefix&, const IpPrefix&) = default;
};

// "10.0.0.5", or for IPv6 the C library's inet_ntop text (RFC 5952:
// lowercase, the longest zero run compressed, "::ffff:10.0.0.5" for mapped).
std::string IpToText(const IpAddress& address);

// Parses dotted IPv4 or IPv6 text; nullopt otherwise.
std::optional<IpAddress> ParseIp(std::string_view text);

// IPv4 first, by the number whose least significant byte is the first octet;
// then IPv6 by its 16 bytes.
bool IpLess(const IpAddress& a, const IpAddress& b);

// True when the first `prefixLength` bits of two IPv6 addresses agree.
bool SharesIpv6Prefix(const IpAddress& a, const IpAddress& b, int prefixLength);

struct IpAddressHash {
  std::size_t operator()(const IpAddress& address) const noexcept {
    if (address.IsIpv4()) return std::hash<std::uint32_t>{}(address.Ipv4());
    std::uint64_t low, high;
    std::memcpy(&low, address.bytes.data(), sizeof low);
    std::memcpy(&high, address.bytes.data() + 8, sizeof high);
    return std::hash<std::uint64_t>{}(low ^ (high * 0x9e3779b97f4a7c15ULL) ^ 6);
  }
};

// The text of a flow's remote end as the flow list shows it: "%s: %s".
std::string EndpointText(const IpAddress& address, std::uint32_t port);

// The address part of an endpoint text: everything before its last ": "
// (an IPv6 address holds colons of its own). nullopt without one.
std::optional<std::string_view> EndpointAddressPart(std::string_view endpoint);

}  // namespace quorvel
