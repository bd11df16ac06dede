#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/spy_feed.h"
#include "spy/spy_target.h"

namespace quorvel::testing {

inline SpyTarget AllTrafficTarget() {
  return SpyTarget{"All IP addresses", "All hosts", "All local applications", "All local applications"};
}

// Feeds `data` as a packet's payload, read from its own buffer so that the
// received end is checked.
inline void FeedPacket(SpyFeedRegistry& registry, std::string_view data, std::string_view localSource = "app(1): 5",
                       Ipv4Address remote = 0x0500000A, std::uint32_t port = 443) {
  const std::string buffer(data);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
  registry.Feed(SpyPacket{localSource, remote, port, bytes, static_cast<std::uint16_t>(buffer.size()),
                          bytes + buffer.size()});
}

}  // namespace quorvel::testing
