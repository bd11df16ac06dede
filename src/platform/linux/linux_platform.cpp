#include "platform/linux/linux_platform.h"

namespace quorvel {

LinuxPlatform::LinuxPlatform() : owners_(clock_) {}

Platform LinuxPlatform::Bundle() { return Platform{packets_, owners_, names_, interfaces_, clock_}; }

}  // namespace quorvel
