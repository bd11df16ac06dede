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
// A connection whose first packets came before its owner was known starts
// under a protocol text; the first packet named by its owner moves that
// flow's bytes into the owner's flow, so one connection stays one flow.
// Capture thread only; one instance per capture loop.
class Accountant {
 public:
  // A first-guess flow idle longer than this belongs to an earlier
  // connection and is left as it is.
  static constexpr std::int64_t kGuessLifeSeconds = 30;

  Accountant(EngineState& state, LocalSources& localSources, Clock& clock);

  void AccountPacket(const PacketFacts& packet);
  // Whether anything reads the bytes after the headers: proxy inspection
  // or an open Traffic Spy.
  PayloadNeed WantedPayload() const;

 private:
  // Holding statMutex: takes the bytes and first second of a live flow of the
  // same connection counted under the protocol text; returns that text, or
  // an empty one when there is none.
  std::string TakeGuessedFlow(TrafficFlow& flow, const FlowKeyView& key, std::uint16_t protocol,
                              std::int64_t now);

  EngineState& state_;
  Clock& clock_;
  Published<std::vector<IpPrefix>>::Reader ipv6Addresses_;
  ProxyInspector proxy_;
  LocalSourceCache localSources_;
  TrafficNameReader names_;
};

}  // namespace quorvel
