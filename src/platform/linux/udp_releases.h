#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace quorvel {

// When UDP sockets of this network namespace were released, by socket
// cookie, from the socket diagnostics' destroy notices: the kernel sends
// them only to a listener, and only for the protocols it listens for, so
// TCP sockets pay nothing. Notices lost to a full buffer leave their
// sockets looking open.
class UdpReleases {
 public:
  UdpReleases() = default;
  ~UdpReleases();
  UdpReleases(const UdpReleases&) = delete;
  UdpReleases& operator=(const UdpReleases&) = delete;

  // Starts listening; false (errno says why) when the kernel refuses.
  bool Open();
  // Readable when notices wait; -1 when not listening.
  int Descriptor() const { return socket_; }
  // Takes the waiting notices as released at `now` (CLOCK_MONOTONIC ns);
  // forgets releases older than `keep` once many are held.
  void Read(std::uint64_t now, std::uint64_t keep);
  std::optional<std::uint64_t> ReleasedAt(std::uint64_t socket) const;

 private:
  int socket_ = -1;
  std::vector<char> buffer_;
  mutable std::mutex mutex_;
  std::unordered_map<std::uint64_t, std::uint64_t> releasedAt_;
};

}  // namespace quorvel
