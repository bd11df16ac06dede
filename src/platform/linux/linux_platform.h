#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/linux/helper_capture.h"
#include "platform/linux/helper_owner_source.h"
#include "platform/linux/helper_process.h"
#include "platform/linux/ifaddrs_interface_lister.h"
#include "platform/linux/posix_name_resolver.h"
#include "platform/platform.h"

namespace quorvel {

struct LinuxPlatformOptions {
  std::string helperPath = HelperPathBesideProgram();
  // Learn socket owners from kernel events, loaded by the helper, where the
  // kernel and the helper's rights allow; off: from the socket tables alone.
  bool kernelEvents = true;
};

// The real operating system behind the Platform bundle. Capture and socket
// owners come from quorvel-capture, so this process needs no rights. Must
// outlive every user of its Bundle().
class LinuxPlatform {
 public:
  explicit LinuxPlatform(LinuxPlatformOptions options = {});
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  Platform Bundle();
  // Why owners do not come from kernel events although asked for; empty
  // when they do, were not asked for or nobody asked for an owner yet.
  std::string KernelEventsProblem() const { return owners_.KernelEventsProblem(); }

 private:
  SystemClock clock_;
  HelperPacketSourceFactory packets_;
  HelperOwnerSource owners_;
  PosixNameResolver names_;
  IfaddrsInterfaceLister interfaces_;
};

}  // namespace quorvel
