#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "attribution/local_sources.h"
#include "attribution/proxy_inspector.h"
#include "engine/engine_state.h"
#include "engine/packet_parser.h"
#include "platform/clock.h"

namespace quorvel {

// Decides each packet's direction and accounts it into its flow, the tick
// counters and the per-remote totals, then queues an event for the worker.
// Capture thread only; one instance per capture loop.
class Accountant {
 public:
  Accountant(EngineState& state, LocalSources& localSources, Clock& clock);

  void AccountPacket(const PacketFacts& packet);

 private:
  // The local source text of a port, cached until an owner entry changes.
  const std::string& LocalSourceFor(std::uint32_t localPort, std::uint16_t protocol);

  EngineState& state_;
  LocalSources& localSources_;
  Clock& clock_;
  ProxyInspector proxy_;
  std::unordered_map<std::uint32_t, std::string> sourceCache_;  // (protocol << 16 | port) -> text
  std::uint64_t cacheGeneration_ = 0;
};

}  // namespace quorvel
