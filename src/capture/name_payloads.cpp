#include "capture/name_payloads.h"

#include "engine/packet_parser.h"

namespace quorvel {

bool NamePayloads::Wanted(Ipv4Address localAddress, std::int64_t arrivalMicroseconds, const std::uint8_t* data,
                          std::size_t received) {
  constexpr std::uint16_t kTcp = 6;
  const std::optional<PacketFacts> packet = ParsePacket(data, received);
  if (!packet) return false;
  // The helper knows only the interface's IPv4 address. An IPv6 packet
  // counts as incoming when it comes from a name service and as outgoing
  // otherwise: at worst a server's first payload is sent too, and the
  // monitor, which knows every address, sorts the directions out.
  const bool outgoing = packet->source.IsIpv4() ? packet->source == IpAddress(localAddress)
                                                 : !IsNameServicePort(packet->sourcePort);
  if (!reader_.MayCarryName(*packet, outgoing)) return false;
  // Reading the client's TCP segments tells which connections still owe the
  // rest of their ClientHello, and so which later segments are needed too.
  if (outgoing && packet->protocol == kTcp) reader_.Read(*packet, outgoing, arrivalMicroseconds / 1'000'000);
  return true;
}

}  // namespace quorvel
