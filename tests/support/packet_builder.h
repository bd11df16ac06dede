#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/ipv4.h"

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

}  // namespace quorvel::testing
