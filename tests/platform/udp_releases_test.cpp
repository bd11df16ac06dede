#include "platform/linux/udp_releases.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace quorvel {
namespace {

// A socket of `type` bound to a loopback port and closed; its cookie.
std::uint64_t CloseBoundSocket(int type) {
  const int socket = ::socket(AF_INET, type, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::uint64_t cookie = 0;
  socklen_t length = sizeof cookie;
  EXPECT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(getsockopt(socket, SOL_SOCKET, SO_COOKIE, &cookie, &length), 0);
  close(socket);
  return cookie;
}

// The kernel tells of a released UDP socket by its cookie (another
// program's notices may come first); a TCP socket's release is not asked for.
TEST(UdpReleasesTest, ReleasedUdpSocketsAreKnownByTheirCookie) {
  UdpReleases releases;
  ASSERT_TRUE(releases.Open()) << std::strerror(errno);
  const std::uint64_t udp = CloseBoundSocket(SOCK_DGRAM);
  const std::uint64_t tcp = CloseBoundSocket(SOCK_STREAM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!releases.ReleasedAt(udp) && std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{releases.Descriptor(), POLLIN, 0};
    if (poll(&waiting, 1, 100) > 0) releases.Read(1000, 1);
  }
  EXPECT_EQ(releases.ReleasedAt(udp), 1000u);
  EXPECT_FALSE(releases.ReleasedAt(tcp));
}

}  // namespace
}  // namespace quorvel
