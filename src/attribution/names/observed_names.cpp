#include "attribution/names/observed_names.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

std::optional<NamedAddress> NamedAddressOf(const DnsAddressAnswer& answer) {
  if (answer.addressSize == answer.address.size()) return IpAddress::Ipv6(answer.address.data());
  if (answer.addressSize != sizeof(Ipv4Address)) return std::nullopt;
  Ipv4Address address;
  std::memcpy(&address, answer.address.data(), sizeof address);
  return IpAddress(address);
}

void ObservedNames::Learn(const std::vector<DnsAddressAnswer>& answers, std::int64_t now) {
  ObservedName shared;
  for (const DnsAddressAnswer& answer : answers) {
    const auto address = NamedAddressOf(answer);
    if (!address) continue;
    if (!shared || *shared != answer.name) shared = std::make_shared<const std::string>(answer.name);
    const std::int64_t keep = std::clamp<std::int64_t>(answer.ttlSeconds, kMinSeconds, kMaxSeconds);
    Entry& entry = entries_[*address];
    entry.name = shared;
    entry.expires = now + keep;
    entry.learned = nextLearned_++;
    order_.emplace_back(*address, entry.learned);
    while (entries_.size() > maxEntries_) EvictOldest();
    // Relearned addresses leave stale pairs behind; drop them now and then.
    if (order_.size() > 2 * maxEntries_ + 16) {
      std::erase_if(order_, [this](const auto& pair) {
        const auto found = entries_.find(pair.first);
        return found == entries_.end() || found->second.learned != pair.second;
      });
    }
  }
}

void ObservedNames::EvictOldest() {
  while (!order_.empty()) {
    const auto [address, learned] = order_.front();
    order_.pop_front();
    const auto found = entries_.find(address);
    if (found != entries_.end() && found->second.learned == learned) {
      entries_.erase(found);
      return;
    }
  }
}

ObservedName ObservedNames::Find(const NamedAddress& address, std::int64_t now) const {
  const auto found = entries_.find(address);
  if (found == entries_.end() || now >= found->second.expires) return nullptr;
  return found->second.name;
}

}  // namespace quorvel
