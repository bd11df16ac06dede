#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "common/ipv4.h"

namespace quorvel {

// One accounted packet as the Traffic Spy sees it. Pointers are valid only
// during the call.
struct SpyPacket {
  std::string_view localSource;
  Ipv4Address remoteAddress = 0;
  std::uint32_t remotePort = 0;
  const std::uint8_t* data = nullptr;        // payload pointer of the packet
  std::uint16_t length = 0;                  // IPv4 total length
  const std::uint8_t* receivedEnd = nullptr; // no byte at or past it is read
  const std::uint8_t* packetStart = nullptr; // the IPv4 header
  std::int64_t arrivalMicroseconds = 0;      // since 1970 UTC
};

// Receives packets on the capture thread; must return quickly and never wait
// on the user interface.
class SpyListener {
 public:
  virtual ~SpyListener() = default;
  virtual void OnSpyPacket(const SpyPacket& packet) = 0;
};

// The open spy window's registration. Unregister returns only once no feed
// runs any more, so the listener may be destroyed right after it.
class SpyFeedRegistry {
 public:
  void Register(SpyListener* listener);
  void Unregister();
  bool Active() const { return listener_.load(std::memory_order_relaxed) != nullptr; }
  // Capture thread.
  void Feed(const SpyPacket& packet);

 private:
  std::atomic<SpyListener*> listener_{nullptr};
  std::atomic<int> runningFeeds_{0};
};

}  // namespace quorvel
