#pragma once

#include <cstdint>

#include "platform/owner_source.h"

namespace quorvel {

// Owners learned from the kernel as sockets get their local ports, so that
// a socket that lives a few milliseconds is still named.
class SocketOwnerTracker {
 public:
  virtual ~SocketOwnerTracker() = default;
  // The process that gave the local endpoint its port: the one bound to
  // `localAddress`, else the one bound to any address. Any thread.
  virtual bool FindOwner(bool udp, std::uint16_t port, Ipv4Address localAddress, SocketOwner& owner) = 0;
  // Counts owners learned so far for sockets of this network namespace;
  // lock-free.
  virtual std::uint64_t OwnerEvents() const = 0;
  // A descriptor to map (read-only, one page) for that count at offset 0,
  // so that another process sees it change without asking; -1 if none.
  virtual int OwnerEventsDescriptor() const { return -1; }
};

}  // namespace quorvel
