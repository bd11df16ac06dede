#include "platform/linux/linux_platform.h"

namespace quorvel {

LinuxPlatform::LinuxPlatform(LinuxPlatformOptions options)
    : packets_(options.helperPath), owners_(options.helperPath, options.kernelEvents) {}

Platform LinuxPlatform::Bundle() { return Platform{packets_, owners_, names_, interfaces_, clock_}; }

}  // namespace quorvel
