#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ipv4.h"
#include "engine/traffic_names.h"

namespace quorvel {

// Picks the packets whose payload the monitor's host-name readers need, by
// the readers' own test: DNS responses, and outgoing payloads that start
// like a TLS handshake, an HTTP request or a QUIC Initial, or go on with a
// ClientHello still unfinished (for a few packets and seconds at most).
// Capture thread only.
class NamePayloads {
 public:
  bool Wanted(Ipv4Address localAddress, std::int64_t arrivalMicroseconds, const std::uint8_t* data,
              std::size_t received);

 private:
  TrafficNameReader reader_;
};

}  // namespace quorvel
