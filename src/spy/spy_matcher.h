#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/ip_address.h"
#include "spy/spy_target.h"

namespace quorvel {

// Decides on the capture thread whether a packet belongs to the window: its
// local source text equals target text 3 and its key text ("%s: %u" of
// address and port) equals target text 1, both exactly; or target text 3 is
// "All local applications".
class SpyMatcher {
 public:
  explicit SpyMatcher(const SpyTarget& target);

  bool Matches(std::string_view localSource, const IpAddress& remoteAddress, std::uint32_t remotePort) const;

 private:
  struct Endpoint {
    IpAddress address;
    std::uint32_t port;
  };

  bool all_;
  std::string localSource_;
  // Target text 1 read back as the endpoint whose key text it is; none when
  // no key text can equal it (a proxied row holds the address alone), so the
  // packet's text need not be built to compare.
  std::optional<Endpoint> endpoint_;
};

}  // namespace quorvel
