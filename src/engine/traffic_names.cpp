#include "engine/traffic_names.h"

namespace quorvel {

TrafficNames TrafficNameReader::Read(const PacketFacts& packet, bool outgoing, std::int64_t now) {
  constexpr std::uint16_t kTcp = 6;
  TrafficNames names;
  const std::span<const std::uint8_t> payload = TransportPayload(packet);
  if (!outgoing) {
    names.dnsAnswers = ReadDnsAnswers(packet.protocol == kTcp ? DnsMessageInTcp(payload) : payload);
    return names;
  }
  if (hellos_.Waiting()) hellos_.Expire(now);
  const HelloKey key{packet.protocol, packet.sourcePort, packet.destination, packet.destinationPort};
  if (packet.protocol != kTcp) {
    names.connectionName = hellos_.AddQuicDatagram(key, payload, now);
  } else if (payload[0] == 0x16 || hellos_.Waits(key)) {
    // The sequence number sits 4 bytes into the TCP header, which precedes the payload.
    const std::uint8_t* tcp = packet.transport;
    const std::uint32_t sequence = (std::uint32_t{tcp[4]} << 24) | (std::uint32_t{tcp[5]} << 16) |
                                   (std::uint32_t{tcp[6]} << 8) | tcp[7];
    names.connectionName = hellos_.AddTcpSegment(key, sequence, payload, now);
  } else {
    names.connectionName = ReadHttpHost(payload);
  }
  return names;
}

}  // namespace quorvel
