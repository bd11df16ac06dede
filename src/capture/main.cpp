// quorvel-capture: the one program of Quorvel that holds capture rights.
// quorvel and quorvel-flows start it with a socket on descriptor 3; it
// captures on one interface or names socket owners, nothing else.
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "capture/request_loop.h"

namespace {

constexpr int kSocket = 3;

bool IsStreamSocket(int fd) {
  int type = 0;
  int domain = 0;
  socklen_t length = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) return false;
  length = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0) return false;
  return type == SOCK_STREAM && domain == AF_UNIX;
}

// Room for bursts while the monitor is busy; the right to force a size
// beyond the system's limit is still held here.
void WidenSendBuffer(int fd) {
  const int bytes = 8 << 20;
  if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &bytes, sizeof bytes) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
  }
}

}  // namespace

int main(int argc, char**) {
  // Ends with _Exit: nothing is buffered, and exit-time checkers cannot
  // trace a process that gained rights when it started.
  if (argc != 1) {
    std::fputs("quorvel-capture takes no arguments: quorvel and quorvel-flows start it\n", stderr);
    std::_Exit(quorvel::kHelperMalformed);
  }
  clearenv();
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  std::signal(SIGPIPE, SIG_IGN);
  umask(077);
  if (chdir("/") != 0 || !IsStreamSocket(kSocket)) {
    std::fputs("quorvel-capture: descriptor 3 is not the socket quorvel gives it\n", stderr);
    std::_Exit(quorvel::kHelperMalformed);
  }
  close_range(kSocket + 1, ~0U, 0);
  WidenSendBuffer(kSocket);
  std::_Exit(quorvel::RunRequestLoop(kSocket));
}
