#include "platform/linux/udp_releases.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorvel {
namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
constexpr std::size_t kHeldReleases = 16384;

constexpr unsigned GroupBit(int group) { return 1u << (group - 1); }

}  // namespace

UdpReleases::~UdpReleases() {
  if (socket_ >= 0) close(socket_);
}

bool UdpReleases::Open() {
  socket_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = GroupBit(SKNLGRP_INET_UDP_DESTROY) | GroupBit(SKNLGRP_INET6_UDP_DESTROY);
  if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int reason = errno;
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
    errno = reason;
    return false;
  }
  // A burst of releases must not overflow the queue between two reads; the
  // larger size needs the rights still held while loading.
  if (setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0) {
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
  }
  buffer_.resize(kBufferBytes);
  return true;
}

void UdpReleases::Read(std::uint64_t now, std::uint64_t keep) {
  while (socket_ >= 0) {
    const ssize_t received = recv(socket_, buffer_.data(), buffer_.size(), 0);
    if (received < 0 && errno == ENOBUFS) continue;  // notices were lost; read on
    if (received <= 0) return;
    std::lock_guard lock(mutex_);
    if (releasedAt_.size() >= kHeldReleases) {
      std::erase_if(releasedAt_, [&](const auto& entry) { return now > entry.second + keep; });
    }
    int left = static_cast<int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer_.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        continue;
      }
      inet_diag_msg notice;
      std::memcpy(&notice, NLMSG_DATA(header), sizeof notice);
      const std::uint64_t cookie =
          notice.id.idiag_cookie[0] | (static_cast<std::uint64_t>(notice.id.idiag_cookie[1]) << 32);
      releasedAt_[cookie] = now;
    }
  }
}

std::optional<std::uint64_t> UdpReleases::ReleasedAt(std::uint64_t socket) const {
  std::lock_guard lock(mutex_);
  const auto found = releasedAt_.find(socket);
  if (found == releasedAt_.end()) return std::nullopt;
  return found->second;
}

}  // namespace quorvel
