#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/ipv4.h"

namespace quorvel {

// One local TCP or UDP endpoint with the process that owns it.
struct SocketOwner {
  std::uint16_t port = 0;    // local port, host order
  bool udp = false;
  int pid = 0;
  bool processFound = false; // false: the pid is known but the process is gone
  std::string name;          // executable file name
  std::string path;          // full executable path; empty when unreadable
};

// What kernel events say of one local endpoint: its owner, that none gave
// the port its owner since they were loaded, or nothing in time.
enum class OwnerLookup { kFound, kNone, kUnanswered };

// The machine's socket tables joined with the process list, and, where the
// kernel reports sockets as they get their ports, the owners it reported.
class OwnerSource {
 public:
  virtual ~OwnerSource() = default;
  // Fills `owners` with all TCP endpoints, then all UDP endpoints, each in
  // table order. Returns false when the tables cannot be read at all.
  virtual bool ReadOwners(std::vector<SocketOwner>& owners) = 0;
  // A cheap fingerprint of the tables that changes whenever sockets come or
  // go (a socket replaced by another within one reading may not change it);
  // nullopt when none can be had.
  virtual std::optional<std::uint64_t> TablesStamp() { return std::nullopt; }

  // True while owners are learned from kernel events; then FindOwner answers
  // before the tables are read.
  virtual bool TracksSockets() const { return false; }
  // The process that gave the local endpoint its port (the one bound to
  // `localAddress`, else the one bound to any address). Any thread.
  virtual OwnerLookup FindOwner(bool udp, std::uint16_t port, Ipv4Address localAddress, SocketOwner& owner) {
    (void)udp, (void)port, (void)localAddress, (void)owner;
    return OwnerLookup::kUnanswered;
  }
  // Counts the owners learned from kernel events, so callers know when
  // remembered answers may be stale. Lock-free.
  virtual std::uint64_t OwnerEvents() const { return 0; }
  // Why owners do not come from kernel events although they were asked
  // for (e.g. "BPF refused: Operation not permitted"); empty otherwise.
  virtual std::string KernelEventsProblem() const { return {}; }
};

}  // namespace quorvel
