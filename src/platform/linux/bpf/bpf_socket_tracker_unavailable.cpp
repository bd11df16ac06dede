#include "platform/linux/bpf/bpf_socket_tracker.h"

namespace quorvel {

std::unique_ptr<SocketOwnerTracker> StartBpfSocketTracker(std::string& error, const std::function<bool()>&) {
  error = "built without kernel event support (clang, bpftool, libbpf or the kernel's BTF were missing)";
  return nullptr;
}

}  // namespace quorvel
