#pragma once

#include <optional>
#include <string>
#include <vector>

#include "attribution/names/dns_answers.h"
#include "attribution/names/hello_assembler.h"
#include "attribution/names/http_host.h"
#include "attribution/names/quic_initial.h"
#include "attribution/names/tls_client_hello.h"
#include "engine/packet_parser.h"

namespace quorvel {

// What one packet says about remote host names: DNS answers naming
// addresses, or the name its own connection asked for (TLS or QUIC server
// name, HTTP Host).
struct TrafficNames {
  std::vector<DnsAddressAnswer> dnsAnswers;
  std::optional<std::string> connectionName;
};

inline bool IsNameServicePort(std::uint16_t port) { return port == 53 || port == 5353 || port == 5355; }

// Reads host names out of accounted packets. Capture thread only.
class TrafficNameReader {
 public:
  // The cheap test run on every accounted packet: true only for packets
  // that may carry a name (incoming DNS, mDNS and LLMNR responses; outgoing
  // TCP payloads starting like a TLS handshake or an HTTP request, or going
  // on with a ClientHello; outgoing QUIC Initials).
  bool MayCarryName(const PacketFacts& packet, bool outgoing) const {
    constexpr std::uint16_t kTcp = 6;
    constexpr std::uint16_t kUdp = 17;
    if (packet.protocol != kTcp && packet.protocol != kUdp) return false;
    if (!outgoing) return IsNameServicePort(packet.sourcePort) && (packet.protocol == kUdp || packet.sourcePort == 53);
    // Outgoing: the payload is needed; most packets end at its first byte.
    const std::span<const std::uint8_t> payload = TransportPayload(packet);
    if (payload.empty()) return false;
    if (packet.protocol == kUdp) return LooksLikeQuicInitial(payload.data(), payload.size());
    return LooksLikeTlsHandshake(payload.data(), payload.size()) || MayStartHttpRequest(payload[0]) ||
           hellos_.Waiting();
  }

  // Reads the names of a packet that passed MayCarryName, accounted at `now`.
  TrafficNames Read(const PacketFacts& packet, bool outgoing, std::int64_t now);

 private:
  HelloAssembler hellos_;
};

}  // namespace quorvel
