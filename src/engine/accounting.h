#pragma once

#include "attribution/local_source_cache.h"
#include "attribution/local_sources.h"
#include "engine/proxy_inspector.h"
#include "engine/engine_state.h"
#include "engine/packet_parser.h"
#include "engine/traffic_names.h"
#include "platform/clock.h"
#include "platform/packet_source.h"

namespace quorvel {

// Decides each packet's direction and accounts it into its flow, the tick
// counters and the per-remote totals, then queues an event for the worker.
// Capture thread only; one instance per capture loop.
class Accountant {
 public:
  Accountant(EngineState& state, LocalSources& localSources, Clock& clock);

  void AccountPacket(const PacketFacts& packet);
  // Whether anything reads the bytes after the headers: proxy inspection
  // or an open Traffic Spy.
  PayloadNeed WantedPayload() const;

 private:
  EngineState& state_;
  Clock& clock_;
  Published<std::vector<IpPrefix>>::Reader ipv6Addresses_;
  ProxyInspector proxy_;
  LocalSourceCache localSources_;
  TrafficNameReader names_;
};

}  // namespace quorvel
