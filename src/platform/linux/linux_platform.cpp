#include "platform/linux/linux_platform.h"

namespace quorvel {

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options)
    : packets_(options.helperPath),
      owners_(options.helperPath),
      // Loading the BPF program needs rights this process does not hold.
      kernelEventsProblem_(options.kernelEvents ? "kernel events need rights this program does not hold" : "") {}

Platform LinuxPlatform::Bundle() { return Platform{packets_, owners_, names_, interfaces_, clock_}; }

}  // namespace quorvel
