#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// CRYPTO stream bytes put together from pieces that may come out of order;
// only the first kMaxBytes are kept.
class CryptoStream {
 public:
  static constexpr std::size_t kMaxBytes = 16384;
  void Add(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  // The bytes from offset 0 up to the first gap.
  std::span<const std::uint8_t> Prefix() const { return {data_.data(), contiguous_}; }

 private:
  std::vector<std::uint8_t> data_;
  std::vector<bool> present_;
  std::size_t contiguous_ = 0;
};

// Adds the CRYPTO frames of the first packet of a datagram, a client's QUIC
// version 1 Initial, to `stream`: header protection removed, the payload
// decrypted. False when the packet is not one or does not decrypt.
bool AddQuicInitialCrypto(std::span<const std::uint8_t> datagram, CryptoStream& stream);

// The server name of the ClientHello in that packet alone; nullopt when the
// packet does not decrypt or its CRYPTO data does not reach the server name.
std::optional<std::string> ReadQuicInitialServerName(std::span<const std::uint8_t> datagram);

}  // namespace quorvel
