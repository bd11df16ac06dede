#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/engine_state.h"
#include "engine/flow_types.h"
#include "engine/packet_parser.h"
#include "platform/clock.h"

namespace quorvel {

// Longest host kept from a request, in bytes.
inline constexpr std::size_t kMaxProxyHostBytes = 255;

// Host of the absolute URL in a request text: the bytes between the first
// "://" and the next "/" (or, without one, the next " "); empty when there is
// none. Cut at kMaxProxyHostBytes. Bytes are taken one character each.
std::string ExtractHost(std::string_view request);

// Host of a tunnel request "CONNECT host:port ...", without its port; empty
// for any other text. Cut at kMaxProxyHostBytes.
std::string TunnelHost(std::string_view request);

// Takes packets exchanged with the configured HTTP proxy out of ordinary
// accounting and queues them as ProxyEvents under the host last requested
// from their local port (GET, POST or a CONNECT tunnel). Packets of a port
// without a known host are left to ordinary accounting. Capture thread only.
class ProxyInspector {
 public:
  ProxyInspector(EngineState& state, Clock& clock) : state_(state), clock_(clock) {}
  // True when the packet was taken; the caller then stops accounting it.
  bool InspectProxyPacket(const PacketFacts& packet, Direction direction);

 private:
  EngineState& state_;
  Clock& clock_;
  std::unordered_map<std::uint32_t, std::string> proxyHosts_;  // local port -> host
};

}  // namespace quorvel
