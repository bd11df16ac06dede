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

bool ParseIpv4(const std::uint8_t* data, std::size_t received, PacketFacts& facts) {
  if (received < kMinimumIpv4) return false;
  facts.protocol = data[9];
  facts.receivedEnd = data + received;
  facts.payload = data;
  facts.packetStart = data;
  if (facts.protocol == kTcp || facts.protocol == kUdp) {
    const std::size_t offset = static_cast<std::size_t>(data[0] & 0x0F) * 4;
    if (offset + 4 > received) return false;
    facts.sourcePort = ReadBigEndian16(data + offset);
    facts.destinationPort = ReadBigEndian16(data + offset + 2);
    facts.transport = data + offset;
    if (facts.protocol == kTcp) facts.payload = data + std::min(kAssumedHeaders, received);
  }
  facts.length = ReadBigEndian16(data + 2);
  // In place, into the zeroed facts: a whole-address copy here would read
  // back narrower fresh stores.
  std::memcpy(facts.source.bytes.data(), data + 12, 4);
  std::memcpy(facts.destination.bytes.data(), data + 16, 4);
  return true;
}

bool ParseIpv6(const std::uint8_t* data, std::size_t received, PacketFacts& facts) {
  if (received < kIpv6Header) return false;
  facts.receivedEnd = data + received;
  facts.payload = data;
  facts.packetStart = data;
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
        if (offset + 2 > received) return false;
        headerLength = (static_cast<std::size_t>(data[offset + 1]) + 1) * 8;
        break;
      case kAuthentication:
        if (offset + 2 > received) return false;
        headerLength = (static_cast<std::size_t>(data[offset + 1]) + 2) * 4;
        break;
      case kFragment:
        headerLength = 8;
        if (offset + headerLength > received) return false;
        // What follows a later fragment's header is the middle of the payload.
        laterFragment = (ReadBigEndian16(data + offset + 2) & 0xFFF8) != 0;
        walking = !laterFragment;
        break;
      default:
        walking = false;
        continue;
    }
    if (offset + headerLength > received) return false;
    next = data[offset];
    offset += headerLength;
  }
  facts.protocol = next;
  if (laterFragment || (next != kTcp && next != kUdp)) return true;
  if (offset + 4 > received) return false;
  facts.sourcePort = ReadBigEndian16(data + offset);
  facts.destinationPort = ReadBigEndian16(data + offset + 2);
  facts.transport = data + offset;
  if (next == kTcp) {
    const std::size_t dataOffset =
        offset + 12 < received ? offset + static_cast<std::size_t>(data[offset + 12] >> 4) * 4 : received;
    facts.payload = data + std::min(dataOffset, received);
  }
  return true;
}

}  // namespace

std::optional<PacketFacts> ParsePacket(const std::uint8_t* data, std::size_t received) {
  // Built in place and returned by name: a copy into the optional would read
  // back bytes just written in other widths, which stalls the store buffer.
  std::optional<PacketFacts> result(std::in_place);
  const bool parsed = data != nullptr && received > 0 &&
                      ((data[0] >> 4) == 6 ? ParseIpv6(data, received, *result)
                                           : ParseIpv4(data, received, *result));
  if (!parsed) result.reset();
  return result;
}

std::span<const std::uint8_t> TransportPayload(const PacketFacts& facts) {
  if (facts.transport == nullptr) return {};
  // Bytes past the counted length are link-layer padding.
  const std::uint8_t* end = facts.receivedEnd;
  if (facts.length < static_cast<std::size_t>(end - facts.packetStart)) end = facts.packetStart + facts.length;
  if (facts.transport >= end) return {};
  const auto available = static_cast<std::size_t>(end - facts.transport);
  std::size_t header;
  if (facts.protocol == kUdp) {
    header = 8;
  } else if (facts.protocol == kTcp && available > 12) {
    header = static_cast<std::size_t>(facts.transport[12] >> 4) * 4;
  } else {
    return {};
  }
  if (header >= available) return {};
  return {facts.transport + header, available - header};
}

}  // namespace quorvel
