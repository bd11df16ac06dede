#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <memory>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/ip_address.h"
#include "engine/engine_state.h"
#include "platform/clock.h"
#include "platform/name_resolver.h"

namespace quorvel {

// Names remote addresses by reverse lookup on a small fixed pool of threads
// and writes the names into the flow rows and the per-remote totals.
// Requests for an address already waiting or being looked up are merged;
// names found are cached, failures are retried after kRetryFailureMilliseconds.
// A lookup may block for as long as the system's resolver takes, so Stop does
// not wait for it: the threads share their state with the pool and one that
// comes back after Stop touches nothing else. The NameResolver must therefore
// stay usable (or be stateless) while a lookup runs.
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
  // Lookups still waiting are dropped and a lookup that is running delivers
  // nothing. Waits only for a name being applied, never for a lookup.
  void Stop();

  // Asks for the name of an address whose row was just added. Never waits and
  // takes no engine lock, so the worker may call it holding listMutex.
  void Request(const IpAddress& address);

  // The name found for an address, when it is known already.
  std::optional<std::string> KnownName(const IpAddress& address) const;

  // Applies one name: under listMutex each row of the address (column 0
  // starting with "<address>:") not named by its traffic and each flow of it
  // hidden while unnamed is asked to the filter with the name as host, its
  // address text and its local source. Rows now hidden are deleted and
  // remembered as hidden; admitted ones show the name in column 1, waiting
  // flows get their row. Then, under statMutex, the address's entries of both
  // remote maps get the name unless traffic named them. Nothing happens when
  // the address has neither.
  void ApplyResolvedName(const IpAddress& address, const std::string& name);

  // For tests and benchmarks.
  std::size_t ThreadsCreated() const { return threadsCreated_.load(); }
  std::uint64_t LookupsMade() const;
  // True when nothing is waiting and no lookup or apply is running.
  bool Idle() const;
  // Addresses waiting for a thread.
  std::size_t Waiting() const;
  // Threads that have not ended yet (after Stop, those still in a lookup).
  std::size_t ThreadsAlive() const;

 private:
  struct CachedName {
    bool found = false;
    std::string name;
    std::int64_t failedAt = 0;  // steady milliseconds of a failed lookup
  };
  // Owned by the pool and by each of its threads.
  struct Shared {
    std::mutex mutex;  // guards everything here; never held while taking an engine lock
    std::condition_variable wake;
    std::condition_variable settled;  // an apply or a thread ended
    std::deque<IpAddress> waiting;
    std::unordered_set<IpAddress, IpAddressHash> waitingOrRunning;
    std::unordered_map<IpAddress, CachedName, IpAddressHash> cache;
    std::size_t busy = 0;      // threads working on an address
    std::size_t applying = 0;  // threads using the pool after a lookup
    std::size_t alive = 0;
    bool stopping = false;
    std::uint64_t lookupsMade = 0;
  };

  static void ResolverThread(std::shared_ptr<Shared> shared, HostResolverPool* pool, NameResolver* names);
  // After a lookup, with shared.mutex held and the pool alive: caches the result.
  void Remember(Shared& shared, const IpAddress& address, const std::optional<std::string>& name);

  EngineState& state_;
  NameResolver& names_;
  Clock& clock_;
  const std::size_t threadCount_;
  std::shared_ptr<Shared> shared_;
  std::size_t running_ = 0;  // threads started and not stopped; user-interface or owner thread only
  std::atomic<std::size_t> threadsCreated_{0};
};

}  // namespace quorvel
