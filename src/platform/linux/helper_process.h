#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture_protocol.h"

namespace quorvel {

// quorvel-capture in the folder of the running program, never found through PATH.
std::string HelperPathBesideProgram();

class HelperProcess;

struct StartedHelper {
  std::unique_ptr<HelperProcess> helper;  // null when it could not be started
  std::string error;                      // "Quorvel cannot capture: ..." naming the missing piece
};

// One running quorvel-capture and the socket to it. It is started with an
// empty environment, no arguments and only the socket open beside the
// standard streams; it ends when the socket closes.
class HelperProcess {
 public:
  static StartedHelper Start(const std::string& path, HelperRole role);
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  // The rights the helper's role needs and it does not hold.
  std::uint64_t MissingRights() const { return missingRights_; }
  pid_t Pid() const { return pid_; }
  int Socket() const { return socket_; }

  bool Send(const CaptureRequest& request);
  // Waits at most `timeoutMilliseconds` for the next reply; nullopt with
  // `error` set when the helper ended, sent something malformed or was silent.
  // A PacketsReply stays valid until the next read.
  std::optional<CaptureReply> Receive(int timeoutMilliseconds, std::string& error);

  enum class Read { kData, kNothing, kEnded };
  // Reads what has arrived, without waiting.
  Read ReadAvailable();
  // The next whole reply already read; nullopt when none is whole yet, with
  // `malformed` set when the stream cannot be a reply.
  std::optional<CaptureReply> TakeReply(bool& malformed);
  // A descriptor the helper sent along with a reply, now the caller's to
  // close; -1 when none came.
  int TakeDescriptor();
  // How the helper ended, e.g. "quorvel-capture ended unexpectedly (killed by signal 9)".
  std::string EndText();

 private:
  HelperProcess(pid_t pid, int socket, std::string path) : pid_(pid), socket_(socket), path_(std::move(path)) {}

  pid_t pid_;
  int socket_;
  std::string path_;
  std::uint64_t missingRights_ = 0;
  FrameReader reader_{kMaxReplyBytes};
  std::optional<int> waitStatus_;
  int descriptor_ = -1;
};

// The names ("cap_net_raw", ...) of the capability bits in `rights`.
std::string RightNames(std::uint64_t rights);

}  // namespace quorvel
