// A small traffic source and sink for the live tests: bounded, and only to
// the address it is given (a test namespace or loopback). Addresses are IPv4
// or IPv6; servers and sinks listen on both where the system has IPv6.
//   traffic_peer tcp-server PORT          accepts one connection, reads to its end
//   traffic_peer tcp-client ADDR PORT N   connects and sends N bytes
//   traffic_peer udp-send ADDR PORT COUNT SIZE
//   traffic_peer udp-sink PORT SECONDS     receives datagrams for a while
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::exit(1);
}

struct Endpoint {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_INET;
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

Endpoint Address(const char* ip, int port) {
  Endpoint endpoint;
  auto& inet = reinterpret_cast<sockaddr_in&>(endpoint.storage);
  auto& inet6 = reinterpret_cast<sockaddr_in6&>(endpoint.storage);
  if (inet_pton(AF_INET, ip, &inet.sin_addr) == 1) {
    inet.sin_family = AF_INET;
    inet.sin_port = htons(static_cast<uint16_t>(port));
    endpoint.length = sizeof inet;
  } else if (inet_pton(AF_INET6, ip, &inet6.sin6_addr) == 1) {
    inet6.sin6_family = AF_INET6;
    inet6.sin6_port = htons(static_cast<uint16_t>(port));
    endpoint.length = sizeof inet6;
    endpoint.family = AF_INET6;
  } else {
    std::fprintf(stderr, "bad address %s\n", ip);
    std::exit(2);
  }
  return endpoint;
}

// Bound to every address: dual-stack on "::" where IPv6 exists, else 0.0.0.0.
int BoundSocket(int type, int port) {
  int sock = socket(AF_INET6, type, 0);
  Endpoint any = Address(sock >= 0 ? "::" : "0.0.0.0", port);
  if (sock >= 0) {
    const int no = 0;
    setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  } else {
    sock = socket(AF_INET, type, 0);
  }
  const int yes = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (bind(sock, any.get(), any.length) != 0) Die("bind");
  return sock;
}

int TcpServer(int port) {
  const int listener = BoundSocket(SOCK_STREAM, port);
  if (listen(listener, 1) != 0) Die("listen");
  std::printf("listening\n");
  std::fflush(stdout);
  const int connection = accept(listener, nullptr, nullptr);
  if (connection < 0) Die("accept");
  std::vector<char> buffer(65536);
  long long total = 0;
  ssize_t got;
  while ((got = read(connection, buffer.data(), buffer.size())) > 0) total += got;
  std::printf("received %lld\n", total);
  close(connection);
  close(listener);
  return 0;
}

int TcpClient(const char* ip, int port, long long bytes) {
  Endpoint address = Address(ip, port);
  const int connection = socket(address.family, SOCK_STREAM, 0);
  if (connect(connection, address.get(), address.length) != 0) Die("connect");
  std::vector<char> buffer(16384, 'q');
  while (bytes > 0) {
    const ssize_t sent = write(connection, buffer.data(),
                               static_cast<size_t>(std::min<long long>(bytes, 16384)));
    if (sent <= 0) Die("write");
    bytes -= sent;
  }
  shutdown(connection, SHUT_WR);
  char drain[256];
  while (read(connection, drain, sizeof drain) > 0) {
  }
  close(connection);
  return 0;
}

int UdpSend(const char* ip, int port, int count, int size) {
  Endpoint address = Address(ip, port);
  const int sock = socket(address.family, SOCK_DGRAM, 0);
  std::vector<char> payload(static_cast<size_t>(size), 'u');
  for (int i = 0; i < count; ++i) {
    if (sendto(sock, payload.data(), payload.size(), 0, address.get(), address.length) < 0) {
      Die("sendto");
    }
    usleep(1000);
  }
  close(sock);
  return 0;
}

int UdpSink(int port, int seconds) {
  const int sock = BoundSocket(SOCK_DGRAM, port);
  timeval timeout{seconds, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  char buffer[65536];
  while (recv(sock, buffer, sizeof buffer, 0) > 0) {
  }
  close(sock);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "tcp-server" && argc == 3) return TcpServer(std::atoi(argv[2]));
  if (mode == "tcp-client" && argc == 5) return TcpClient(argv[2], std::atoi(argv[3]), std::atoll(argv[4]));
  if (mode == "udp-send" && argc == 6) {
    return UdpSend(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  if (mode == "udp-sink" && argc == 4) return UdpSink(std::atoi(argv[2]), std::atoi(argv[3]));
  std::fprintf(stderr, "usage: traffic_peer tcp-server PORT | tcp-client ADDR PORT BYTES | "
                       "udp-send ADDR PORT COUNT SIZE | udp-sink PORT SECONDS\n");
  return 2;
}
