#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// The machine's socket tables joined with the process list.
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
};

}  // namespace quorvel
