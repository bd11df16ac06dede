#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "attribution/local_sources.h"

namespace quorvel {

// LookupLocalSource remembered per protocol and port until an owner entry
// changes, so that a thread asks the shared map only for ports it has not
// seen. One per thread: not thread-safe.
class LocalSourceCache {
 public:
  struct Entry {
    std::string text;
    std::string path;  // empty when the owner's path is unknown
  };

  explicit LocalSourceCache(LocalSources& sources) : sources_(sources) {}

  const Entry& Lookup(std::uint32_t localPort, std::uint16_t protocol, Ipv4Address localAddress = 0);

 private:
  LocalSources& sources_;
  std::unordered_map<std::uint32_t, Entry> entries_;  // by protocol << 16 | port
  std::uint64_t generation_ = 0;
};

}  // namespace quorvel
