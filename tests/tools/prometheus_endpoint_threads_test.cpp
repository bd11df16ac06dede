#include "tools/export/prometheus_endpoint.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace quorvel {
namespace {

int Connect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

// The text changes while clients read it: every answer carries one whole
// text, and the endpoint stops cleanly with clients still connected.
TEST(PrometheusEndpointThreadsTest, AnswersWholeTextsWhileTheyChange) {
  PrometheusEndpoint endpoint;
  ASSERT_TRUE(endpoint.Start("0").ok) << "any free port on 127.0.0.1";
  const std::string texts[] = {std::string(5000, 'a') + "\n", std::string(70000, 'b') + "\n"};
  endpoint.SetText(texts[0]);  // the first client must not come before any text
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; !done; ++i) endpoint.SetText(texts[i % 2]);
  });
  const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
  for (int i = 0; i < 50; ++i) {
    const int fd = Connect(endpoint.Port());
    std::string reply;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        reply.append(buffer, static_cast<std::size_t>(got));
      }
    }
    ::close(fd);
    ASSERT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply.substr(0, 80);
    const std::string body = reply.substr(reply.find("\r\n\r\n") + 4);
    EXPECT_TRUE(body == texts[0] || body == texts[1]) << body.size();
  }
  done = true;
  writer.join();
  const int idle = Connect(endpoint.Port());
  endpoint.Stop();
  ::close(idle);
}

}  // namespace
}  // namespace quorvel
