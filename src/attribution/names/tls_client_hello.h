#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorvel {

// The server name (SNI host_name) of a ClientHello handshake message, as
// carried in QUIC CRYPTO frames. Tolerates a message cut short: extensions
// are read as far as the bytes go. nullopt when there is none or it is not
// host-name text.
std::optional<std::string> ReadClientHelloServerName(std::span<const std::uint8_t> handshake);

// The same from the first bytes of a TLS connection: a handshake record
// (type 22, version 3.x) whose message is a ClientHello.
std::optional<std::string> ReadTlsServerName(std::span<const std::uint8_t> payload);

// True once `handshake` holds its whole first message (or is not a
// ClientHello): more bytes cannot add a server name.
bool ClientHelloComplete(std::span<const std::uint8_t> handshake);
// The same for the first bytes of a TLS connection: its first record whole.
bool TlsFirstRecordComplete(std::span<const std::uint8_t> payload);

// Cheap test of the first bytes of a TCP payload: a TLS handshake record.
inline bool LooksLikeTlsHandshake(const std::uint8_t* payload, std::size_t size) {
  return size >= 6 && payload[0] == 0x16 && payload[1] == 0x03 && payload[5] == 0x01;
}

}  // namespace quorvel
