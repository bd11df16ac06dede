#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// The Local Source text that selects all traffic.
inline constexpr std::string_view kAllLocalApplications = "All local applications";

// The four texts a spy window is opened with; fixed while it is open. Only
// remoteIp and localSource take part in matching.
struct SpyTarget {
  std::string remoteIp;     // "10.0.0.5: 443", or "All IP addresses"
  std::string remoteHost;   // or "All hosts"
  std::string localSource;  // a LocalSource text, or "All local applications"
  std::string fullPath;     // or "All local applications"
};

}  // namespace quorvel
