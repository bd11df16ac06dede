#include "platform/linux/helper_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

namespace quorvel {
namespace {

constexpr int kHelperSocket = 3;
constexpr int kHelloMilliseconds = 10000;
constexpr int kEndMilliseconds = 2000;
constexpr const char* kHelperName = "quorvel-capture";
constexpr const char* kRunScript = "scripts/run.sh";

std::string CannotCapture(const std::string& why) { return "Quorvel cannot capture: " + why; }

std::string GroupOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return "quorvel";
  const group* entry = getgrgid(info.st_gid);
  return entry != nullptr ? entry->gr_name : std::to_string(info.st_gid);
}

// Why the helper cannot run, before trying; empty when it looks runnable.
std::string Unrunnable(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return CannotCapture("the capture helper " + path + " is missing. Run sudo " + kRunScript +
                         ", which builds and installs it.");
  }
  if (access(path.c_str(), X_OK) != 0) {
    const std::string group = GroupOf(path);
    return CannotCapture("you may not run the capture helper " + path + ", which is for the group " + group +
                         ". Run sudo " + kRunScript + " to join the group, then log in again (or start with sg " +
                         group + ").");
  }
  return {};
}

// In the child between fork and exec: only calls that are safe there.
[[noreturn]] void ExecHelper(const std::string& path, int socket, int errorPipe, int devNull) {
  const int movedSocket = fcntl(socket, F_DUPFD, 10);
  const int movedPipe = fcntl(errorPipe, F_DUPFD_CLOEXEC, 10);
  if (movedSocket < 0 || movedPipe < 0 || dup2(devNull, 0) < 0 || dup2(devNull, 1) < 0 ||
      dup2(movedSocket, kHelperSocket) < 0 || dup2(movedPipe, kHelperSocket + 1) < 0 ||
      fcntl(kHelperSocket + 1, F_SETFD, FD_CLOEXEC) < 0) {
    _exit(127);
  }
  close_range(kHelperSocket + 2, ~0U, 0);
  char* const argv[] = {const_cast<char*>(kHelperName), nullptr};
  char* const envp[] = {nullptr};
  execve(path.c_str(), argv, envp);
  const int error = errno;
  [[maybe_unused]] const ssize_t written = write(kHelperSocket + 1, &error, sizeof error);
  _exit(127);
}

}  // namespace

std::string HelperPathBesideProgram() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return kHelperName;
  std::string path(self, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + kHelperName;
}

std::string RightNames(std::uint64_t rights) {
  static constexpr std::pair<int, const char*> kNames[] = {
      {2, "cap_dac_read_search"}, {12, "cap_net_admin"}, {13, "cap_net_raw"}, {19, "cap_sys_ptrace"}};
  std::string names;
  for (const auto& [bit, name] : kNames) {
    if (rights & (std::uint64_t{1} << bit)) names += (names.empty() ? "" : ", ") + std::string(name);
  }
  return names;
}

StartedHelper HelperProcess::Start(const std::string& path, HelperRole role) {
  if (std::string why = Unrunnable(path); !why.empty()) return {nullptr, why};
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
    return {nullptr, CannotCapture(std::string("no socket for the capture helper: ") + std::strerror(errno))};
  }
  int errorPipe[2];
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0 || pipe2(errorPipe, O_CLOEXEC) != 0) {
    close(sockets[0]);
    close(sockets[1]);
    if (devNull >= 0) close(devNull);
    return {nullptr, CannotCapture(std::string("no pipe for the capture helper: ") + std::strerror(errno))};
  }
  const pid_t pid = fork();
  if (pid == 0) ExecHelper(path, sockets[1], errorPipe[1], devNull);
  const int forkError = errno;
  close(sockets[1]);
  close(errorPipe[1]);
  close(devNull);
  if (pid < 0) {
    close(sockets[0]);
    close(errorPipe[0]);
    return {nullptr, CannotCapture("the capture helper could not be started: " + std::string(std::strerror(forkError)))};
  }
  std::unique_ptr<HelperProcess> helper(new HelperProcess(pid, sockets[0], path));
  int execError = 0;
  ssize_t got;
  do {
    got = read(errorPipe[0], &execError, sizeof execError);
  } while (got < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (got == sizeof execError) {
    return {nullptr, CannotCapture("the capture helper " + path + " could not be started: " + std::strerror(execError) +
                                   ". Run sudo " + kRunScript + " to install it again.")};
  }

  std::string error;
  if (!helper->Send(HelloRequest{kCaptureProtocolVersion, role})) {
    return {nullptr, CannotCapture("the capture helper " + path + " " + helper->EndText())};
  }
  const auto reply = helper->Receive(kHelloMilliseconds, error);
  const auto* welcome = reply ? std::get_if<WelcomeReply>(&*reply) : nullptr;
  if (welcome == nullptr) return {nullptr, CannotCapture("the capture helper " + path + " " + error)};
  if (welcome->version != kCaptureProtocolVersion) {
    return {nullptr, CannotCapture("the capture helper " + path + " speaks version " +
                                   std::to_string(welcome->version) + " of its protocol, this program version " +
                                   std::to_string(kCaptureProtocolVersion) + ". Run sudo " + kRunScript +
                                   " to install the matching one.")};
  }
  helper->missingRights_ = welcome->missingRights;
  return {std::move(helper), {}};
}

HelperProcess::~HelperProcess() {
  if (descriptor_ >= 0) close(descriptor_);
  if (socket_ >= 0) {
    Send(StopRequest{});
    close(socket_);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndMilliseconds);
  while (!waitStatus_) {
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, WNOHANG);
    if (ended == pid_ || (ended < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool HelperProcess::Send(const CaptureRequest& request) {
  std::vector<std::uint8_t> frame;
  AppendRequest(frame, request);
  std::size_t at = 0;
  while (at < frame.size()) {
    const ssize_t sent = send(socket_, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    at += static_cast<std::size_t>(sent);
  }
  return true;
}

HelperProcess::Read HelperProcess::ReadAvailable() {
  for (;;) {
    const auto room = reader_.Room(kReplyChunkBytes);
    iovec data{room.data(), room.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket_, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (got > 0) {
      for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        if (descriptor_ >= 0) close(descriptor_);
        std::memcpy(&descriptor_, CMSG_DATA(header), sizeof descriptor_);
      }
      reader_.Received(static_cast<std::size_t>(got));
      return Read::kData;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Read::kNothing;
    return Read::kEnded;
  }
}

int HelperProcess::TakeDescriptor() {
  const int descriptor = descriptor_;
  descriptor_ = -1;
  return descriptor;
}

std::optional<CaptureReply> HelperProcess::TakeReply(bool& malformed) {
  std::span<const std::uint8_t> body;
  const FrameReader::Next next = reader_.Take(body);
  malformed = next == FrameReader::Next::kMalformed;
  if (next != FrameReader::Next::kFrame) return std::nullopt;
  auto reply = ParseReply(body);
  malformed = !reply;
  return reply;
}

std::optional<CaptureReply> HelperProcess::Receive(int timeoutMilliseconds, std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  for (;;) {
    bool malformed = false;
    if (auto reply = TakeReply(malformed)) return reply;
    if (malformed) {
      error = "sent a malformed message";
      return std::nullopt;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      error = "did not answer";
      return std::nullopt;
    }
    pollfd wait{socket_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      error = std::string("could not be read: ") + std::strerror(errno);
      return std::nullopt;
    }
    if (ReadAvailable() == Read::kEnded) {
      error = EndText();
      return std::nullopt;
    }
  }
}

std::string HelperProcess::EndText() {
  // The end of the stream comes just before the process has ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (!waitStatus_ && std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      waitStatus_ = status;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (!waitStatus_) return "stopped answering";
  if (WIFSIGNALED(*waitStatus_)) {
    return "ended unexpectedly (killed by signal " + std::to_string(WTERMSIG(*waitStatus_)) + ")";
  }
  return "ended unexpectedly (exit status " + std::to_string(WEXITSTATUS(*waitStatus_)) + ")";
}

}  // namespace quorvel
