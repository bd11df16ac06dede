#include "engine/packet_parser.h"

#include <algorithm>
#include <cstring>

namespace quorvel {
namespace {

constexpr std::size_t kMinimumPacket = 20;
constexpr std::size_t kAssumedHeaders = 40;
constexpr std::uint16_t kTcp = 6;
constexpr std::uint16_t kUdp = 17;

std::uint16_t ReadBigEndian16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

}  // namespace

std::optional<PacketFacts> ParsePacket(const std::uint8_t* data, std::size_t received) {
  if (data == nullptr || received < kMinimumPacket) return std::nullopt;
  PacketFacts facts;
  facts.protocol = data[9];
  facts.receivedEnd = data + received;
  facts.payload = data;
  facts.packetStart = data;
  if (facts.protocol == kTcp || facts.protocol == kUdp) {
    const std::size_t offset = static_cast<std::size_t>(data[0] & 0x0F) * 4;
    if (offset + 4 > received) return std::nullopt;
    facts.sourcePort = ReadBigEndian16(data + offset);
    facts.destinationPort = ReadBigEndian16(data + offset + 2);
    if (facts.protocol == kTcp) facts.payload = data + std::min(kAssumedHeaders, received);
  }
  facts.length = ReadBigEndian16(data + 2);
  std::memcpy(&facts.source, data + 12, sizeof facts.source);
  std::memcpy(&facts.destination, data + 16, sizeof facts.destination);
  return facts;
}

std::span<const std::uint8_t> TransportPayload(const PacketFacts& facts) {
  if (facts.packetStart == nullptr) return {};
  // Bytes past the total length are link-layer padding.
  const std::size_t received =
      std::min<std::size_t>(static_cast<std::size_t>(facts.receivedEnd - facts.packetStart), facts.length);
  std::size_t offset = static_cast<std::size_t>(facts.packetStart[0] & 0x0F) * 4;
  if (facts.protocol == kUdp) {
    offset += 8;
  } else if (facts.protocol == kTcp && offset + 12 < received) {
    offset += static_cast<std::size_t>(facts.packetStart[offset + 12] >> 4) * 4;
  } else {
    return {};
  }
  if (offset >= received) return {};
  return {facts.packetStart + offset, received - offset};
}

}  // namespace quorvel
