#pragma once

#include "platform/clock.h"
#include "platform/linux/helper_capture.h"
#include "platform/linux/helper_owner_source.h"
#include "platform/linux/helper_process.h"
#include "platform/linux/ifaddrs_interface_lister.h"
#include "platform/linux/posix_name_resolver.h"
#include "platform/platform.h"

namespace quorvel {

// The real operating system behind the Platform bundle. Capture and socket
// owners come from quorvel-capture, so this process needs no rights. Must
// outlive every user of its Bundle().
class LinuxPlatform {
 public:
  explicit LinuxPlatform(const std::string& helperPath = HelperPathBesideProgram());
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  Platform Bundle();

 private:
  SystemClock clock_;
  HelperPacketSourceFactory packets_;
  HelperOwnerSource owners_;
  PosixNameResolver names_;
  IfaddrsInterfaceLister interfaces_;
};

}  // namespace quorvel
