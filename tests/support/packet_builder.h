#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/ip_address.h"

namespace quorvel::testing {

// Builds IPv4 packets (headers only as far as tests need them).
struct PacketSpec {
  Ipv4Address source = 0;
  Ipv4Address destination = 0;
  std::uint8_t protocol = 6;
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
  std::uint8_t headerWords = 5;        // IPv4 header length field (words of 4 bytes)
  std::string_view payload = {};       // placed after a 20-byte TCP or 8-byte UDP header
  int totalLengthOverride = -1;        // value of the total-length field, if not the real size
};

std::vector<std::uint8_t> BuildIpv4Packet(const PacketSpec& shape);

// One IPv6 extension header: its type, its size in bytes and, for a
// fragment header, the offset-and-flags field.
struct ExtensionHeader {
  std::uint8_t type = 0;
  std::size_t bytes = 8;
  std::uint16_t fragmentField = 0;
};

struct Ipv6PacketSpec {
  IpAddress source;
  IpAddress destination;
  std::vector<ExtensionHeader> extensions;  // in chain order
  std::uint8_t protocol = 6;                // the last next-header value
  std::uint16_t sourcePort = 0;
  std::uint16_t destinationPort = 0;
  bool transportHeader = true;  // a 20-byte TCP or 8-byte UDP header after the chain
  std::string_view payload = {};
  int payloadLengthOverride = -1;  // value of the payload-length field, if not the real size
};

std::vector<std::uint8_t> BuildIpv6Packet(const Ipv6PacketSpec& shape);

// Parses IPv6 text that tests know to be valid.
IpAddress Ipv6(std::string_view text);

}  // namespace quorvel::testing
