#include "platform/linux/linux_platform.h"

namespace quorvel {

LinuxPlatform::LinuxPlatform(const std::string& helperPath) : packets_(helperPath), owners_(helperPath) {}

Platform LinuxPlatform::Bundle() { return Platform{packets_, owners_, names_, interfaces_, clock_}; }

}  // namespace quorvel
