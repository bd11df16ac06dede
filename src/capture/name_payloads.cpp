#include "capture/name_payloads.h"

#include "engine/packet_parser.h"

namespace quorvel {

bool NamePayloads::Wanted(Ipv4Address localAddress, std::int64_t arrivalMicroseconds, const std::uint8_t* data,
                          std::size_t received) {
  constexpr std::uint16_t kTcp = 6;
  const std::optional<PacketFacts> packet = ParsePacket(data, received);
  if (!packet) return false;
  const bool outgoing = packet->source == localAddress;
  if (!reader_.MayCarryName(*packet, outgoing)) return false;
  // Reading the client's TCP segments tells which connections still owe the
  // rest of their ClientHello, and so which later segments are needed too.
  if (outgoing && packet->protocol == kTcp) reader_.Read(*packet, outgoing, arrivalMicroseconds / 1'000'000);
  return true;
}

}  // namespace quorvel
