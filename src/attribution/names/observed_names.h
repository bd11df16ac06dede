#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "attribution/names/dns_answers.h"
#include "common/ip_address.h"

namespace quorvel {

// A name shared by the table and the flows it names.
using ObservedName = std::shared_ptr<const std::string>;

// The address side of the table: A answers give IPv4 addresses, AAAA IPv6.
using NamedAddress = IpAddress;
std::optional<NamedAddress> NamedAddressOf(const DnsAddressAnswer& answer);

// Names that DNS answers gave remote addresses: each address maps to the
// name the client asked, for the record's TTL held between kMinSeconds and
// kMaxSeconds. At most kMaxEntries addresses; the one learned longest ago
// goes first. Not thread-safe (the engine guards it with statMutex).
class ObservedNames {
 public:
  static constexpr std::int64_t kMinSeconds = 10 * 60;
  static constexpr std::int64_t kMaxSeconds = 24 * 60 * 60;
  static constexpr std::size_t kMaxEntries = 65'536;

  ObservedNames() = default;
  explicit ObservedNames(std::size_t maxEntries) : maxEntries_(maxEntries) {}

  // Learns the answers of one response at `now` (seconds since 1970).
  void Learn(const std::vector<DnsAddressAnswer>& answers, std::int64_t now);
  // The name of an address at `now`; null when none is known or it expired.
  ObservedName Find(const NamedAddress& address, std::int64_t now) const;
  std::size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    ObservedName name;
    std::int64_t expires = 0;
    std::uint64_t learned = 0;  // learning order, to find the oldest
  };
  void EvictOldest();

  std::size_t maxEntries_ = kMaxEntries;
  std::unordered_map<NamedAddress, Entry, IpAddressHash> entries_;
  std::deque<std::pair<NamedAddress, std::uint64_t>> order_;  // oldest first; stale pairs skipped
  std::uint64_t nextLearned_ = 0;
};

}  // namespace quorvel
