#include "engine/traffic_names.h"

namespace quorvel {

TrafficNames ReadTrafficNames(const PacketFacts& packet, bool outgoing) {
  constexpr std::uint16_t kTcp = 6;
  TrafficNames names;
  const std::span<const std::uint8_t> payload = TransportPayload(packet);
  if (!outgoing) {
    names.dnsAnswers = ReadDnsAnswers(packet.protocol == kTcp ? DnsMessageInTcp(payload) : payload);
  } else if (packet.protocol == kTcp) {
    names.connectionName = payload[0] == 0x16 ? ReadTlsServerName(payload) : ReadHttpHost(payload);
  } else {
    names.connectionName = ReadQuicInitialServerName(payload);
  }
  return names;
}

}  // namespace quorvel
