#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  // Counts owners learned so far; lock-free.
  virtual std::uint64_t OwnerEvents() const = 0;
};

// The socket tables, with a tracker's owners in front when there is one.
class TrackedOwnerSource final : public OwnerSource {
 public:
  TrackedOwnerSource(OwnerSource& tables, SocketOwnerTracker* tracker) : tables_(tables), tracker_(tracker) {}

  bool ReadOwners(std::vector<SocketOwner>& owners) override { return tables_.ReadOwners(owners); }
  std::optional<std::uint64_t> TablesStamp() override { return tables_.TablesStamp(); }
  bool TracksSockets() const override { return tracker_ != nullptr; }
  bool FindOwner(bool udp, std::uint16_t port, Ipv4Address localAddress, SocketOwner& owner) override {
    return tracker_ != nullptr && tracker_->FindOwner(udp, port, localAddress, owner);
  }
  std::uint64_t OwnerEvents() const override { return tracker_ ? tracker_->OwnerEvents() : 0; }

 private:
  OwnerSource& tables_;
  SocketOwnerTracker* tracker_;
};

}  // namespace quorvel
