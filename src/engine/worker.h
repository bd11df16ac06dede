#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/host_resolver.h"
#include "attribution/local_source_cache.h"
#include "attribution/local_sources.h"
#include "common/status.h"
#include "engine/engine_state.h"
#include "engine/flow_types.h"
#include "platform/clock.h"
#include "platform/name_resolver.h"

namespace quorvel {

// Takes the day's list out as a traffic log and starts counting afresh, in
// one step; nothing is cleared when the log cannot be written. nullopt while
// another cut runs.
using DayLogSaver = std::function<std::optional<Status>(std::int64_t now)>;

// Turns accounted traffic into flow-list rows: about once a second it applies
// the queued events that are at least 3 seconds old, expires highlights and,
// at local midnight, saves the list as a traffic log and starts afresh.
class Worker {
 public:
  // An event is applied once it is more than this many seconds old (or
  // stamped in the future).
  static constexpr std::int64_t kSettleSeconds = 2;
  static constexpr std::int64_t kCycleMilliseconds = 1000;
  // Pause after each new row, limiting new rows to about ten a second.
  static constexpr std::int64_t kNewRowPauseMilliseconds = 100;
  // How often a forward lookup in progress looks whether the worker stops.
  static constexpr std::int64_t kStopCheckMilliseconds = 50;
  // A highlight is cleared once the last activity is at least this many
  // seconds old, however late the worker gets to the row.
  static constexpr std::int64_t kHighlightAge = 5;

  Worker(EngineState& state, LocalSources& localSources, HostResolverPool& resolver, NameResolver& names,
         Clock& clock, DayLogSaver saveDayLog);

  // The thread body: runs cycles until `run` is found cleared at the top of one.
  void WorkerThread(const RunFlag& run);
  // One cycle: apply due events, apply due proxy events, sleep a second,
  // expire highlights, midnight reset. Sleeps end early when `run` is cleared.
  void RunCycle(const RunFlag* run = nullptr);

  // Applies one packet event; true when it added a row. A flow without a row
  // is decided with its address text and the host name once the resolver
  // knows it; a hidden one is remembered. Takes listMutex, map2Mutex and
  // statMutex in that order; waits for no other lock.
  bool UpdateFlowRow(const PacketEvent& event);
  // Applies one proxy event: counts it into its ProxyFlow and tick counters
  // and creates or refreshes the proxy row, under listMutex with statMutex
  // inside; a forward lookup for a new row runs before, without locks.
  void UpdateProxyFlowRow(const ProxyEvent& event);

  // Told the message when the list cannot be saved at midnight (the list is
  // then kept). Called on the worker thread; set before the thread starts.
  void SetSaveProblemHandler(std::function<void(const std::string&)> report) { reportSaveProblem_ = std::move(report); }

 private:
  struct ProxyKey {
    std::string host;
    std::string localSource;
    friend bool operator==(const ProxyKey&, const ProxyKey&) = default;
  };
  struct ProxyKeyHash {
    std::size_t operator()(const ProxyKey& key) const;
  };

  struct FlowView {
    std::uint64_t download = 0;
    std::uint64_t upload = 0;
    std::string name;  // the name traffic gave the flow or its address; empty when none or switched off
    std::int64_t firstSecond = 0;
  };
  // The host name a flow's row shows before any reverse lookup; sets it on
  // the address's remote totals too. Holding statMutex.
  std::string ShownName(const TrafficFlow& flow, const IpAddress& remoteAddress);
  // FormatTimestamp, remembering the last second: a batch of events shares few seconds.
  const std::string& TimeText(std::int64_t time);
  std::deque<PacketEvent> TakeDueEvents(std::int64_t now);
  std::deque<ProxyEvent> TakeDueProxyEvents(std::int64_t now);
  void ExpireHighlights(std::int64_t now);
  void MidnightReset(std::int64_t now);
  // Holding listMutex and map2Mutex: the row of a flow first counted under
  // the `guess` protocol text now belongs to the owner's flow; it takes the
  // owner's texts, or gives its first activity to an owner row that exists.
  void MoveGuessedRow(const std::string& remoteText, const std::string& guess,
                      const LocalSourceCache::Entry& owner);
  // The ProxyFlow of (host, source), created when absent. Holding statMutex.
  ProxyFlow& ProxyFlowFor(const ProxyEvent& event, const std::string& localSource);
  // Column 0 of a new proxy row; may wait for a forward lookup.
  std::string ProxyAddressText(const std::string& host);
  // Addresses of a host: its IPv4 ones, else its IPv6 ones; none when the
  // worker is stopped while it waits.
  std::vector<IpAddress> ResolveUnlessStopped(const std::string& host);

  EngineState& state_;
  LocalSourceCache localSources_;
  HostResolverPool& resolver_;
  NameResolver& names_;
  Clock& clock_;
  const DayLogSaver saveDayLog_;

  const RunFlag* run_ = nullptr;  // of the cycle running
  bool midnightDone_ = false;
  std::int64_t lastTime_ = 0;
  std::string lastTimeText_;
  // Positions in stats.proxyFlows, valid while its size is proxyIndexSize_
  // (only the worker appends; the resets empty it). Worker thread, under statMutex.
  std::unordered_map<ProxyKey, std::size_t, ProxyKeyHash> proxyIndex_;
  std::size_t proxyIndexSize_ = 0;
  std::function<void(const std::string&)> reportSaveProblem_;
};

}  // namespace quorvel
