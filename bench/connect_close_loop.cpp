// Connects to a loopback listener and closes, COUNT times, and prints the
// CPU nanoseconds per pair (both ends, user and system; less swayed by a
// busy machine than wall time): the cost a socket-owner hook adds to every
// connection. Closed with a reset, so no TIME_WAIT uses up the ports.
// Usage: connect_close_loop [COUNT]
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 100000;
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4096) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("listener");
    return 1;
  }
  std::thread acceptor([&] {
    for (long i = 0; i < count; ++i) {
      const int accepted = accept(listener, nullptr, nullptr);
      if (accepted >= 0) close(accepted);
    }
  });
  const linger reset{1, 0};
  const auto cpu = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e9 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e3;
  };
  const double started = cpu();
  for (long i = 0; i < count; ++i) {
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    if (client < 0 || connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      std::perror("connect");
      return 1;
    }
    setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(client);
  }
  acceptor.join();
  std::printf("%.0f\n", (cpu() - started) / static_cast<double>(count));
  return 0;
}
