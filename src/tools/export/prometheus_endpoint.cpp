#include "tools/export/prometheus_endpoint.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "tools/export/host_port.h"

namespace quorvel {
namespace {

std::int64_t SteadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Client {
  int fd = -1;
  std::string request;
  std::string response;  // empty until the request is complete
  std::size_t sent = 0;
  std::int64_t deadline = 0;
};

std::string Reply(const char* status, const std::string& contentType, const std::string& body) {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

PrometheusEndpoint::~PrometheusEndpoint() { Stop(); }

Status PrometheusEndpoint::Start(const std::string& listenAt) {
  std::string host = "127.0.0.1";
  std::string port = listenAt;
  if (listenAt.find(':') != std::string::npos && !SplitHostPort(listenAt, host, port)) {
    return Status::Failure("--prometheus: not ADDRESS:PORT: " + listenAt);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
    return Status::Failure("--prometheus: not ADDRESS:PORT: " + listenAt);
  }
  listenFd_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  const bool listening = listenFd_ >= 0 && ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                         ::bind(listenFd_, found->ai_addr, found->ai_addrlen) == 0 && ::listen(listenFd_, 16) == 0;
  ::freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  if (!listening || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
    Stop();
    return Status::Failure("--prometheus: can't listen on " + listenAt);
  }
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    Stop();
    return Status::Failure("--prometheus: can't listen on " + listenAt);
  }
  thread_ = std::thread(&PrometheusEndpoint::Run, this);
  return Status::Success();
}

void PrometheusEndpoint::SetText(std::string text) {
  std::lock_guard lock(textMutex_);
  text_.swap(text);
}

void PrometheusEndpoint::Stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  for (int* fd : {&listenFd_, &wakeFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

std::string PrometheusEndpoint::Response(const std::string& request) {
  const std::string line = request.substr(0, request.find("\r\n"));
  const std::size_t pathStart = line.find(' ');
  const std::size_t pathEnd = pathStart == std::string::npos ? pathStart : line.find(' ', pathStart + 1);
  const std::string method = line.substr(0, pathStart);
  const std::string path =
      pathEnd == std::string::npos ? std::string() : line.substr(pathStart + 1, pathEnd - pathStart - 1);
  if (method != "GET") return Reply("405 Method Not Allowed", "text/plain", "GET only\n");
  if (path != "/metrics" && path != "/") return Reply("404 Not Found", "text/plain", "Try /metrics\n");
  std::lock_guard lock(textMutex_);
  return Reply("200 OK", "text/plain; version=0.0.4; charset=utf-8", text_);
}

void PrometheusEndpoint::Run() {
  std::vector<Client> clients;
  while (true) {
    std::vector<pollfd> waits{{wakeFd_, POLLIN, 0}};
    // No new connection is taken while all places are held; the kernel's
    // backlog keeps the rest waiting.
    if (clients.size() < kMaxClients) waits.push_back({listenFd_, POLLIN, 0});
    const std::size_t firstClient = waits.size();
    std::int64_t now = SteadyMilliseconds();
    int timeout = -1;
    for (const Client& client : clients) {
      waits.push_back({client.fd, static_cast<short>(client.response.empty() ? POLLIN : POLLOUT), 0});
      const int left = static_cast<int>(std::max<std::int64_t>(0, client.deadline - now));
      timeout = timeout < 0 ? left : std::min(timeout, left);
    }
    if (::poll(waits.data(), waits.size(), timeout) < 0 && errno != EINTR) return;
    if (waits[0].revents != 0) break;
    now = SteadyMilliseconds();
    for (std::size_t i = firstClient; i < waits.size(); ++i) {
      Client& client = clients[i - firstClient];
      bool done = now >= client.deadline || (waits[i].revents & (POLLERR | POLLNVAL)) != 0;
      if (!done && client.response.empty() && (waits[i].revents & (POLLIN | POLLHUP))) {
        char buffer[2048];
        const ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
          done = got == 0 || (errno != EAGAIN && errno != EINTR);
        } else {
          client.request.append(buffer, static_cast<std::size_t>(got));
          if (client.request.find("\r\n\r\n") != std::string::npos) {
            client.response = Response(client.request);
          } else if (client.request.size() > kMaxRequestBytes) {
            client.response = Reply("431 Request Header Fields Too Large", "text/plain", "");
          }
        }
      } else if (!done && !client.response.empty() && (waits[i].revents & POLLOUT)) {
        const ssize_t put = ::send(client.fd, client.response.data() + client.sent,
                                   client.response.size() - client.sent, MSG_NOSIGNAL);
        if (put > 0) client.sent += static_cast<std::size_t>(put);
        done = (put < 0 && errno != EAGAIN && errno != EINTR) || client.sent == client.response.size();
      }
      if (done) {
        ::close(client.fd);
        client.fd = -1;
      }
    }
    std::erase_if(clients, [](const Client& client) { return client.fd < 0; });
    if (firstClient == 2 && waits[1].revents & POLLIN) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) clients.push_back(Client{fd, {}, {}, 0, now + kClientMilliseconds});
    }
  }
  for (const Client& client : clients) ::close(client.fd);
}

}  // namespace quorvel
