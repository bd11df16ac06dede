#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/ip_address.h"

namespace quorvel {

// The header facts that accounting needs from one received IPv4 or IPv6 packet.
struct PacketFacts {
  IpAddress source;
  IpAddress destination;
  // The length counted everywhere: IPv4 total length; IPv6 40 plus the
  // payload length, or the received length when that field is 0 (jumbogram
  // or a segment the kernel coalesced).
  std::uint32_t length = 0;
  std::uint16_t destinationPort = 0;  // 0 for protocols other than TCP and UDP
  std::uint16_t sourcePort = 0;       // and for later IPv6 fragments
  std::uint16_t protocol = 0;         // IPv6: the header that ends the extension chain
  // IPv4 TCP: packet start + 40 (20-byte IPv4 and TCP headers assumed); IPv6
  // TCP: the TCP data; others: the packet start. Never beyond receivedEnd.
  const std::uint8_t* payload = nullptr;
  const std::uint8_t* packetStart = nullptr;  // the IPv4 or IPv6 header
  const std::uint8_t* transport = nullptr;    // the TCP or UDP header; null when not in this packet
  const std::uint8_t* receivedEnd = nullptr;  // first byte after the received bytes
  // When the capture received it, microseconds since 1970; 0 when it does
  // not say, and the clock tells.
  std::int64_t arrivalMicroseconds = 0;
};

// The TCP or UDP payload as far as it was received, found from the real
// header lengths; empty for other protocols or when the headers were cut.
std::span<const std::uint8_t> TransportPayload(const PacketFacts& facts);

// The IP version is the first nibble. nullopt for runts (fewer than 20 bytes
// of IPv4, 40 of IPv6), for IPv6 packets whose extension headers do not fit,
// and for TCP/UDP packets too short to hold their ports. Reads nothing past
// `received` bytes.
std::optional<PacketFacts> ParsePacket(const std::uint8_t* data, std::size_t received);

}  // namespace quorvel
