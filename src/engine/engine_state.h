#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "common/published.h"
#include "engine/flow_types.h"
#include "engine/filter_rules.h"
#include "engine/flow_rows.h"
#include "engine/hidden_flows.h"
#include "engine/spy_feed.h"

namespace quorvel {

// Values from the settings file and Options, read by the engine threads
// without a lock.
struct EngineSettings {
  std::atomic<Ipv4Address> interfaceAddress{0};
  std::atomic<std::uint32_t> networkMask{0xFFFFFFFF};  // wire order, like addresses
  std::atomic<bool> hideLanFlows{false};
  std::atomic<bool> freezeGraph{false};
  // All IPv6 addresses of the monitored interface, kept current while it runs.
  Published<std::vector<IpPrefix>> interfaceIpv6Addresses;
  std::atomic<bool> useProxy{false};
  std::atomic<bool> nameHostsFromTraffic{true};  // "Name hosts from observed traffic"
  Published<IpAddress> proxyAddress;
  std::atomic<std::uint16_t> proxyPort{0};

  void SetProxyServerText(std::string text);
  std::string ProxyServerText() const;

 private:
  mutable std::mutex textMutex_;
  std::string proxyServerText_;
};

// Flow table, counters and per-remote totals; guarded by statMutex.
struct TrafficStats {
  FlowTable flows;
  std::uint64_t tickDownload = 0;  // bytes since the last one-second tick
  std::uint64_t tickUpload = 0;
  std::uint64_t cumulativeDownload = 0;  // since start, Save and Clear or midnight
  std::uint64_t cumulativeUpload = 0;
  RemoteMap downloadRemotes;  // incoming bytes by source address
  RemoteMap uploadRemotes;    // outgoing bytes by destination address
  std::vector<ProxyFlow> proxyFlows;  // in order of creation
  ObservedNames observedNames;  // remote addresses named by DNS answers; kept by Save and Clear

  // Empties the flows and proxy flows (midnight reset and Save and Clear).
  void ClearFlows();
};

// The engine's shared state, with the mutexes that guard it. Lock order:
// queueMutex, listMutex, map2Mutex, statMutex, then one of queueProxyMutex
// and graphMutex.
struct EngineState {
  EngineSettings settings;

  std::mutex statMutex;
  TrafficStats stats;

  std::mutex queueMutex;
  std::deque<PacketEvent> events;  // first in, first out

  std::mutex queueProxyMutex;
  std::deque<ProxyEvent> proxyEvents;

  std::mutex listMutex;
  FlowRows rows;  // guarded by listMutex
  FilterSet filters;  // guarded by listMutex
  HiddenFlows hidden;  // guarded by listMutex
  std::mutex map2Mutex;
  std::mutex graphMutex;

  SpyFeedRegistry spy;

  // Set while the list is cut into a traffic log (Save and Clear, midnight).
  std::atomic<bool> cuttingLog{false};
};

}  // namespace quorvel
