#pragma once

#include "platform/clock.h"
#include "platform/linux/ifaddrs_interface_lister.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/posix_name_resolver.h"
#include "platform/linux/proc_owner_source.h"
#include "platform/platform.h"

namespace quorvel {

// The real operating system behind the Platform bundle. Must outlive every
// user of its Bundle().
class LinuxPlatform {
 public:
  LinuxPlatform();
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  Platform Bundle();

 private:
  SystemClock clock_;  // first: the owner source keeps a reference to it
  LivePacketSourceFactory packets_;
  ProcOwnerSource owners_;
  PosixNameResolver names_;
  IfaddrsInterfaceLister interfaces_;
};

}  // namespace quorvel
