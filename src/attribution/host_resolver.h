#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/ipv4.h"
#include "engine/engine_state.h"
#include "platform/clock.h"
#include "platform/name_resolver.h"

namespace quorvel {

// Names remote addresses by reverse lookup on a small fixed pool of threads
// and writes the names into the flow rows and the per-remote totals.
// Requests for an address already waiting or being looked up are merged;
// names found are cached, failures are retried after kRetryFailureMilliseconds.
class HostResolverPool {
 public:
  static constexpr std::size_t kDefaultThreads = 4;
  static constexpr std::size_t kMaxThreads = 8;
  static constexpr std::int64_t kRetryFailureMilliseconds = 60'000;
  // The cache starts afresh when it holds this many addresses.
  static constexpr std::size_t kMaxCachedAddresses = 65'536;
  static constexpr std::size_t kMaxNameLength = 260;

  // `threads` is clamped to 1..kMaxThreads.
  HostResolverPool(EngineState& state, NameResolver& names, Clock& clock,
                   std::size_t threads = kDefaultThreads);
  ~HostResolverPool();  // Stop()
  HostResolverPool(const HostResolverPool&) = delete;
  HostResolverPool& operator=(const HostResolverPool&) = delete;

  void Start();
  // Joins the threads; lookups still waiting are dropped and a lookup that is
  // running delivers nothing. Only the system call in progress is waited for.
  void Stop();

  // Asks for the name of an address whose row was just added. Never waits and
  // takes no engine lock, so the worker may call it holding listMutex.
  void Request(Ipv4Address address);

  // Applies one name: under listMutex each row of the address (column 0
  // starting with "<address>:") not named by its traffic is asked
  // to the filter with the name as host and address text and the row's local
  // source; hidden rows are deleted, the others get the name in column 1.
  // Then, under statMutex, the address's entries of both remote maps get the
  // name unless traffic named them. Nothing happens without a row.
  void ApplyResolvedName(Ipv4Address address, const std::string& name);

  // For tests and benchmarks.
  std::size_t ThreadsCreated() const { return threadsCreated_.load(); }
  std::uint64_t LookupsMade() const { return lookupsMade_.load(); }
  // True when nothing is waiting and no lookup or apply is running.
  bool Idle() const;
  // Addresses waiting for a thread.
  std::size_t Waiting() const;

 private:
  struct CachedName {
    bool found = false;
    std::string name;
    std::int64_t failedAt = 0;  // steady milliseconds of a failed lookup
  };

  void ResolverThread();

  EngineState& state_;
  NameResolver& names_;
  Clock& clock_;
  const std::size_t threadCount_;

  mutable std::mutex mutex_;  // guards everything below; never held while taking an engine lock
  std::condition_variable wake_;
  std::deque<Ipv4Address> waiting_;
  std::unordered_set<Ipv4Address> waitingOrRunning_;
  std::unordered_map<Ipv4Address, CachedName> cache_;
  std::size_t busy_ = 0;  // threads working on an address
  bool stopping_ = false;
  std::vector<std::thread> threads_;

  std::atomic<std::size_t> threadsCreated_{0};
  std::atomic<std::uint64_t> lookupsMade_{0};
};

}  // namespace quorvel
