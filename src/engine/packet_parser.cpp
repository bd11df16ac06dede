#include "engine/packet_parser.h"

#include <algorithm>
#include <cstring>

namespace quorvel {
namespace {

constexpr std::size_t kMinimumIpv4 = 20;
constexpr std::size_t kIpv6Header = 40;
constexpr std::size_t kAssumedHeaders = 40;
constexpr std::uint16_t kTcp = 6;
constexpr std::uint16_t kUdp = 17;

// IPv6 extension headers walked to find the packet's protocol.
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kAuthentication = 51;
constexpr std::uint8_t kDestinationOptions = 60;

std::uint16_t ReadBigEndian16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

std::optional<PacketFacts> ParseIpv4(const std::uint8_t* data, std::size_t received) {
  if (received < kMinimumIpv4) return std::nullopt;
  PacketFacts facts;
  facts.protocol = data[9];
  facts.receivedEnd = data + received;
  facts.payload = data;
  if (facts.protocol == kTcp || facts.protocol == kUdp) {
    const std::size_t offset = static_cast<std::size_t>(data[0] & 0x0F) * 4;
    if (offset + 4 > received) return std::nullopt;
    facts.sourcePort = ReadBigEndian16(data + offset);
    facts.destinationPort = ReadBigEndian16(data + offset + 2);
    if (facts.protocol == kTcp) facts.payload = data + std::min(kAssumedHeaders, received);
  }
  facts.length = ReadBigEndian16(data + 2);
  Ipv4Address address;
  std::memcpy(&address, data + 12, sizeof address);
  facts.source = address;
  std::memcpy(&address, data + 16, sizeof address);
  facts.destination = address;
  return facts;
}

std::optional<PacketFacts> ParseIpv6(const std::uint8_t* data, std::size_t received) {
  if (received < kIpv6Header) return std::nullopt;
  PacketFacts facts;
  facts.receivedEnd = data + received;
  facts.payload = data;
  const std::uint16_t payloadLength = ReadBigEndian16(data + 4);
  facts.length = payloadLength == 0 ? static_cast<std::uint32_t>(received)
                                    : static_cast<std::uint32_t>(kIpv6Header + payloadLength);
  facts.source = IpAddress::Ipv6(data + 8);
  facts.destination = IpAddress::Ipv6(data + 24);

  // Every header advances at least 8 bytes, so the walk ends within the bytes.
  std::uint8_t next = data[6];
  std::size_t offset = kIpv6Header;
  bool laterFragment = false;
  for (bool walking = true; walking;) {
    std::size_t headerLength;
    switch (next) {
      case kHopByHop:
      case kRouting:
      case kDestinationOptions:
        if (offset + 2 > received) return std::nullopt;
        headerLength = (static_cast<std::size_t>(data[offset + 1]) + 1) * 8;
        break;
      case kAuthentication:
        if (offset + 2 > received) return std::nullopt;
        headerLength = (static_cast<std::size_t>(data[offset + 1]) + 2) * 4;
        break;
      case kFragment:
        headerLength = 8;
        if (offset + headerLength > received) return std::nullopt;
        // What follows a later fragment's header is the middle of the payload.
        laterFragment = (ReadBigEndian16(data + offset + 2) & 0xFFF8) != 0;
        walking = !laterFragment;
        break;
      default:
        walking = false;
        continue;
    }
    if (offset + headerLength > received) return std::nullopt;
    next = data[offset];
    offset += headerLength;
  }
  facts.protocol = next;
  if (laterFragment || (next != kTcp && next != kUdp)) return facts;
  if (offset + 4 > received) return std::nullopt;
  facts.sourcePort = ReadBigEndian16(data + offset);
  facts.destinationPort = ReadBigEndian16(data + offset + 2);
  if (next == kTcp) {
    const std::size_t dataOffset =
        offset + 12 < received ? offset + static_cast<std::size_t>(data[offset + 12] >> 4) * 4 : received;
    facts.payload = data + std::min(dataOffset, received);
  }
  return facts;
}

}  // namespace

std::optional<PacketFacts> ParsePacket(const std::uint8_t* data, std::size_t received) {
  if (data == nullptr || received == 0) return std::nullopt;
  if ((data[0] >> 4) == 6) return ParseIpv6(data, received);
  return ParseIpv4(data, received);
}

}  // namespace quorvel
