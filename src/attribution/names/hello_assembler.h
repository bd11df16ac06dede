#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "attribution/names/observed_names.h"
#include "attribution/names/quic_initial.h"

namespace quorvel {

// One connection as the client sees it.
struct HelloKey {
  std::uint16_t protocol = 0;
  std::uint16_t localPort = 0;
  NamedAddress remoteAddress{};
  std::uint16_t remotePort = 0;
  friend bool operator==(const HelloKey&, const HelloKey&) = default;
};

// Puts together ClientHellos too long for one packet (large key shares
// make them so), whose server name may come in a later packet: the first
// TCP segments of a TLS connection, or the CRYPTO data of a client's QUIC
// Initials. Keeps at most kMaxPending connections for at most kMaxPackets
// packets and kMaxSeconds each. Capture thread only.
class HelloAssembler {
 public:
  static constexpr std::size_t kMaxPending = 256;
  static constexpr int kMaxPackets = 4;
  static constexpr std::int64_t kMaxSeconds = 3;

  // True while some connection waits for more of its ClientHello.
  bool Waiting() const { return !pending_.empty(); }
  bool Waits(const HelloKey& key) const { return pending_.contains(key); }

  // Drops the hellos begun kMaxSeconds or more before `now` (seconds), so
  // that a lost segment does not keep every later packet waiting.
  void Expire(std::int64_t now);

  // A TCP segment the client sent at `now`, with its sequence number: the
  // first one of a TLS connection or one following a hello still incomplete.
  std::optional<std::string> AddTcpSegment(const HelloKey& key, std::uint32_t sequence,
                                           std::span<const std::uint8_t> payload, std::int64_t now);
  // A datagram that may hold a client's QUIC Initial.
  std::optional<std::string> AddQuicDatagram(const HelloKey& key, std::span<const std::uint8_t> datagram,
                                             std::int64_t now);

 private:
  struct Pending {
    std::vector<std::uint8_t> tcpBytes;
    std::uint32_t nextSequence = 0;
    CryptoStream quicCrypto;
    int packets = 0;
    std::int64_t started = 0;
  };
  struct KeyHash {
    std::size_t operator()(const HelloKey& key) const;
  };
  Pending* Start(const HelloKey& key, std::int64_t now);

  std::unordered_map<HelloKey, Pending, KeyHash> pending_;
};

}  // namespace quorvel
