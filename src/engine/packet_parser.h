#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/ipv4.h"

namespace quorvel {

// The header facts that accounting needs from one received IPv4 packet.
struct PacketFacts {
  Ipv4Address source = 0;
  Ipv4Address destination = 0;
  std::uint16_t length = 0;           // IPv4 total-length field, the length counted everywhere
  std::uint16_t destinationPort = 0;  // 0 for protocols other than TCP and UDP
  std::uint16_t sourcePort = 0;
  std::uint16_t protocol = 0;
  // TCP: packet start + 40 (20-byte IPv4 and TCP headers assumed); others:
  // the packet start. Never beyond receivedEnd.
  const std::uint8_t* payload = nullptr;
  const std::uint8_t* packetStart = nullptr;  // the IPv4 header
  const std::uint8_t* receivedEnd = nullptr;  // first byte after the received bytes
};

// The TCP or UDP payload as far as it was received, found from the real
// header lengths; empty for other protocols or when the headers were cut.
std::span<const std::uint8_t> TransportPayload(const PacketFacts& facts);

// nullopt for runts (fewer than 20 bytes) and for TCP/UDP packets too short to
// hold their ports after the IPv4 header. Reads nothing past `received` bytes.
std::optional<PacketFacts> ParsePacket(const std::uint8_t* data, std::size_t received);

}  // namespace quorvel
