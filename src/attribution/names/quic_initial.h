#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorvel {

// The client's Initial packet protection keys of QUIC version 1 (RFC 9001,
// 5.2), derived from the Destination Connection ID the client chose.
struct QuicInitialKeys {
  std::array<std::uint8_t, 16> key{};
  std::array<std::uint8_t, 12> iv{};
  std::array<std::uint8_t, 16> headerProtection{};
};
QuicInitialKeys DeriveClientInitialKeys(std::span<const std::uint8_t> destinationConnectionId);

// A client's Initial datagram is at least this long (RFC 9000, 14.1).
inline constexpr std::size_t kMinQuicInitialDatagram = 1200;

// Cheap test of a UDP payload: a QUIC version 1 long-header Initial packet
// of a datagram as long as a client's.
inline bool LooksLikeQuicInitial(const std::uint8_t* payload, std::size_t size) {
  return size >= kMinQuicInitialDatagram && (payload[0] & 0xF0) == 0xC0 && payload[1] == 0 && payload[2] == 0 &&
         payload[3] == 0 && payload[4] == 1;
}

// The server name of the ClientHello in the first packet of a datagram, a
// client's QUIC version 1 Initial: header protection removed, the payload
// decrypted and its CRYPTO frames put together. nullopt when the packet does
// not decrypt or its CRYPTO data does not reach the server name.
std::optional<std::string> ReadQuicInitialServerName(std::span<const std::uint8_t> datagram);

}  // namespace quorvel
