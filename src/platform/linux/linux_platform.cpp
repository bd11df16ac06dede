#include "platform/linux/linux_platform.h"

#include "platform/linux/bpf/bpf_socket_tracker.h"

namespace quorvel {

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options)
    : tables_(clock_),
      tracker_(options.kernelEvents ? StartBpfSocketTracker(kernelEventsProblem_) : nullptr),
      owners_(tables_, tracker_.get()) {}

Platform LinuxPlatform::Bundle() { return Platform{packets_, owners_, names_, interfaces_, clock_}; }

}  // namespace quorvel
