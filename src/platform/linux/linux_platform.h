#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/linux/ifaddrs_interface_lister.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/posix_name_resolver.h"
#include "platform/linux/proc_owner_source.h"
#include "platform/platform.h"
#include "platform/socket_owner_tracker.h"

namespace quorvel {

struct LinuxPlatformOptions {
  // Learn socket owners from kernel events where the kernel and the rights
  // allow; off: from the socket tables alone.
  bool kernelEvents = true;
};

// The real operating system behind the Platform bundle. Must outlive every
// user of its Bundle().
class LinuxPlatform {
 public:
  explicit LinuxPlatform(LinuxPlatformOptions options = {});
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  Platform Bundle();
  // Why owners do not come from kernel events although asked for; empty
  // when they do or were not asked for.
  const std::string& KernelEventsProblem() const { return kernelEventsProblem_; }

 private:
  SystemClock clock_;  // first: the owner source keeps a reference to it
  LivePacketSourceFactory packets_;
  ProcOwnerSource tables_;
  std::string kernelEventsProblem_;
  std::unique_ptr<SocketOwnerTracker> tracker_;
  TrackedOwnerSource owners_;
  PosixNameResolver names_;
  IfaddrsInterfaceLister interfaces_;
};

}  // namespace quorvel
