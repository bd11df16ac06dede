#include "attribution/local_source_cache.h"

namespace quorvel {

const LocalSourceCache::Entry& LocalSourceCache::Lookup(std::uint32_t localPort, std::uint16_t protocol,
                                                       Ipv4Address localAddress) {
  const std::uint64_t generation = sources_.Generation();
  if (generation != generation_) {
    entries_.clear();
    generation_ = generation;
  }
  const std::uint32_t key = (static_cast<std::uint32_t>(protocol) << 16) | (localPort & 0xFFFF);
  auto found = entries_.find(key);
  if (found == entries_.end()) {
    Entry entry;
    entry.text = sources_.LookupLocalSource(localPort, protocol, &entry.path, localAddress);
    found = entries_.emplace(key, std::move(entry)).first;
  }
  return found->second;
}

}  // namespace quorvel
