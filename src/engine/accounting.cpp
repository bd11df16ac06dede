#include "engine/accounting.h"

#include <mutex>
#include <optional>

namespace quorvel {
namespace {

bool IsMulticast(Ipv4Address address) {
  const std::uint8_t first = FirstOctet(address);
  return first >= 224 && first <= 239;
}

std::uint64_t& DirectionCounter(std::uint64_t& upload, std::uint64_t& download,
                                Direction direction) {
  return direction == Direction::kOutgoing ? upload : download;
}

}  // namespace

Accountant::Accountant(EngineState& state, LocalSources& localSources, Clock& clock)
    : state_(state), clock_(clock), proxy_(state, clock), localSources_(localSources) {}

PayloadNeed Accountant::WantedPayload() const {
  const EngineSettings& settings = state_.settings;
  if (settings.useProxy.load(std::memory_order_relaxed) || state_.spy.Active()) return {PayloadMode::kWhole, 0};
  const Ipv4Address local = settings.interfaceAddress.load(std::memory_order_relaxed);
  if (settings.nameHostsFromTraffic.load(std::memory_order_relaxed) && local != 0) {
    return {PayloadMode::kNames, local};
  }
  return {PayloadMode::kHeaders, 0};
}

void Accountant::AccountPacket(const PacketFacts& packet) {
  const EngineSettings& settings = state_.settings;
  const Ipv4Address interfaceAddress = settings.interfaceAddress.load(std::memory_order_relaxed);

  Direction direction;
  if (packet.source == interfaceAddress) {
    direction = Direction::kOutgoing;
  } else if (packet.destination == interfaceAddress || IsMulticast(packet.destination)) {
    direction = Direction::kIncoming;
  } else {
    return;  // traffic between other hosts, broadcasts
  }

  if (proxy_.InspectProxyPacket(packet, direction)) return;

  if (settings.hideLanFlows.load(std::memory_order_relaxed)) {
    if (IsMulticast(packet.destination)) return;
    const std::uint32_t mask = settings.networkMask.load(std::memory_order_relaxed);
    if ((mask & packet.source) == (mask & packet.destination)) return;
  }

  const bool outgoing = direction == Direction::kOutgoing;
  const std::uint32_t localPort = outgoing ? packet.sourcePort : packet.destinationPort;
  const Ipv4Address remoteAddress = outgoing ? packet.destination : packet.source;
  const std::uint32_t remotePort = outgoing ? packet.destinationPort : packet.sourcePort;
  // Named outside statMutex: a lookup miss may wait for the connection table,
  // and the one-second timer must not wait behind it.
  const std::string& localSource = localSources_.Lookup(localPort, packet.protocol).text;
  const FlowKeyView key(localSource, localPort, remoteAddress, remotePort);
  const std::int64_t nowMicroseconds = clock_.NowMicroseconds();
  const std::int64_t now = nowMicroseconds / 1'000'000 - (nowMicroseconds % 1'000'000 < 0 ? 1 : 0);
  // Read outside statMutex; the test in front keeps the cost for the many
  // packets that carry no name to a few comparisons.
  std::optional<TrafficNames> names;
  if (names_.MayCarryName(packet, outgoing)) names = names_.Read(packet, outgoing, now);

  bool queueEvent = false;
  {
    std::lock_guard lock(state_.statMutex);
    TrafficStats& stats = state_.stats;
    if (names && !names->dnsAnswers.empty()) stats.observedNames.Learn(names->dnsAnswers, now);
    auto flow = stats.flows.find(key);
    if (flow == stats.flows.end()) {
      TrafficFlow created{remoteAddress};
      created.localAddress = outgoing ? packet.source : packet.destination;
      created.protocol = packet.protocol;
      created.firstMicroseconds = nowMicroseconds;
      created.observedName = stats.observedNames.Find(remoteAddress, now);
      flow = stats.flows.emplace(key.ToKey(), std::move(created)).first;
    }
    if (names && names->connectionName &&
        (!flow->second.namedByConnection || *flow->second.observedName != *names->connectionName)) {
      flow->second.observedName = std::make_shared<const std::string>(std::move(*names->connectionName));
      flow->second.namedByConnection = true;
    }
    DirectionCounter(flow->second.upload, flow->second.download, direction) += packet.length;
    ++DirectionCounter(flow->second.uploadPackets, flow->second.downloadPackets, direction);
    flow->second.lastMicroseconds = nowMicroseconds;
    DirectionCounter(stats.tickUpload, stats.tickDownload, direction) += packet.length;

    RemoteTotal& remote = (outgoing ? stats.uploadRemotes : stats.downloadRemotes)[remoteAddress];
    if (remote.displayName.empty()) remote.displayName = Ipv4ToText(remoteAddress);
    remote.bytes += packet.length;

    if (flow->second.lastQueuedSecond != now) {
      flow->second.lastQueuedSecond = now;
      queueEvent = true;
    }
  }

  if (state_.spy.Active()) {
    state_.spy.Feed(SpyPacket{localSource, remoteAddress, remotePort, packet.payload, packet.length,
                              packet.receivedEnd, packet.packetStart, nowMicroseconds});
  }

  if (queueEvent) {
    PacketEvent event{key.ToKey(), packet.protocol, now};
    std::lock_guard lock(state_.queueMutex);
    state_.events.push_back(std::move(event));
  }
}

}  // namespace quorvel
