#include "engine/accounting.h"

#include <mutex>
#include <optional>

namespace quorvel {
namespace {

constexpr std::uint16_t kTcp = 6;
constexpr std::uint16_t kUdp = 17;

bool IsLinkLocal(const IpAddress& address) {
  return address.bytes[0] == 0xFE && (address.bytes[1] & 0xC0) == 0x80;  // fe80::/10
}

const IpPrefix* FindOwn(const std::vector<IpPrefix>& own, const IpAddress& address) {
  for (const IpPrefix& prefix : own) {
    if (prefix.address == address) return &prefix;
  }
  return nullptr;
}

std::uint64_t& DirectionCounter(std::uint64_t& upload, std::uint64_t& download,
                                Direction direction) {
  return direction == Direction::kOutgoing ? upload : download;
}

}  // namespace

Accountant::Accountant(EngineState& state, LocalSources& localSources, Clock& clock)
    : state_(state), clock_(clock), ipv6Addresses_(state.settings.interfaceIpv6Addresses),
      proxy_(state, clock), localSources_(localSources) {}

PayloadNeed Accountant::WantedPayload() const {
  const EngineSettings& settings = state_.settings;
  if (settings.useProxy.load(std::memory_order_relaxed) || state_.spy.Active()) return {PayloadMode::kWhole, 0};
  // An interface without IPv4 still names its IPv6 flows.
  if (settings.nameHostsFromTraffic.load(std::memory_order_relaxed)) {
    return {PayloadMode::kNames, settings.interfaceAddress.load(std::memory_order_relaxed)};
  }
  return {PayloadMode::kHeaders, 0};
}

void Accountant::AccountPacket(const PacketFacts& packet) {
  const EngineSettings& settings = state_.settings;

  Direction direction;
  const IpPrefix* local = nullptr;  // the interface's IPv6 address the packet uses
  if (packet.source.IsIpv4()) {
    const Ipv4Address interfaceAddress = settings.interfaceAddress.load(std::memory_order_relaxed);
    if (packet.source.Ipv4() == interfaceAddress) {
      direction = Direction::kOutgoing;
    } else if (packet.destination.Ipv4() == interfaceAddress || packet.destination.IsMulticast()) {
      direction = Direction::kIncoming;
    } else {
      return;  // traffic between other hosts, broadcasts
    }
  } else {
    const std::vector<IpPrefix>& own = ipv6Addresses_.Get();
    if ((local = FindOwn(own, packet.source))) {
      direction = Direction::kOutgoing;
    } else if ((local = FindOwn(own, packet.destination)) || packet.destination.IsMulticast()) {
      direction = Direction::kIncoming;
    } else {
      return;
    }
  }

  if (proxy_.InspectProxyPacket(packet, direction)) return;

  if (settings.hideLanFlows.load(std::memory_order_relaxed)) {
    if (packet.destination.IsMulticast()) return;
    if (packet.source.IsIpv4()) {
      const std::uint32_t mask = settings.networkMask.load(std::memory_order_relaxed);
      if ((mask & packet.source.Ipv4()) == (mask & packet.destination.Ipv4())) return;
    } else {
      if (IsLinkLocal(packet.source) || IsLinkLocal(packet.destination)) return;
      const IpAddress& remote = local->address == packet.source ? packet.destination : packet.source;
      if (SharesIpv6Prefix(remote, local->address, local->length)) return;
    }
  }

  const bool outgoing = direction == Direction::kOutgoing;
  const std::uint32_t localPort = outgoing ? packet.sourcePort : packet.destinationPort;
  const IpAddress& localAddress = outgoing ? packet.source : packet.destination;
  const IpAddress& remoteAddress = outgoing ? packet.destination : packet.source;
  const std::uint32_t remotePort = outgoing ? packet.destinationPort : packet.sourcePort;
  // Named outside statMutex: a lookup miss may wait for the connection table,
  // and the one-second timer must not wait behind it.
  // Kernel-event owners are keyed by IPv4 addresses; an IPv6 flow asks for
  // any address of its port.
  const std::string& localSource =
      localSources_.Lookup(localPort, packet.protocol, localAddress.IsIpv6() ? 0 : localAddress.Ipv4()).text;
  const FlowKeyView key(localSource, localPort, remoteAddress, remotePort);
  // The capture's own time is as good and saves reading the clock per packet.
  const std::int64_t nowMicroseconds =
      packet.arrivalMicroseconds != 0 ? packet.arrivalMicroseconds : clock_.NowMicroseconds();
  const std::int64_t now = nowMicroseconds / 1'000'000 - (nowMicroseconds % 1'000'000 < 0 ? 1 : 0);
  // Read outside statMutex; the test in front keeps the cost for the many
  // packets that carry no name to a few comparisons.
  std::optional<TrafficNames> names;
  if (names_.MayCarryName(packet, outgoing)) names = names_.Read(packet, outgoing, now);

  bool queueEvent = false;
  std::string movedFrom;
  {
    std::lock_guard lock(state_.statMutex);
    TrafficStats& stats = state_.stats;
    if (names && !names->dnsAnswers.empty()) stats.observedNames.Learn(names->dnsAnswers, now);
    auto flow = stats.flows.find(key);
    if (flow == stats.flows.end()) {
      TrafficFlow created;
      created.localAddress = outgoing ? packet.source : packet.destination;
      created.protocol = packet.protocol;
      created.firstMicroseconds = nowMicroseconds;
      created.observedName = stats.observedNames.Find(remoteAddress, now);
      movedFrom = TakeGuessedFlow(created, key, packet.protocol, now);
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
    if (remote.displayName.empty()) remote.displayName = IpToText(remoteAddress);
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
    PacketEvent event{key.ToKey(), packet.protocol, now, std::move(movedFrom)};
    std::lock_guard lock(state_.queueMutex);
    state_.events.push_back(std::move(event));
  }
}

std::string Accountant::TakeGuessedFlow(TrafficFlow& flow, const FlowKeyView& key, std::uint16_t protocol,
                                        std::int64_t now) {
  if (protocol != kTcp && protocol != kUdp) return {};
  std::string guess = ProtocolSourceText(key.localPort, protocol);
  if (guess == key.localSource) return {};
  FlowTable& flows = state_.stats.flows;
  const auto found = flows.find(FlowKeyView(guess, key.localPort, *key.remoteAddress, key.remotePort));
  if (found == flows.end() || now - found->second.lastQueuedSecond > kGuessLifeSeconds) return {};
  flow.upload += found->second.upload;
  flow.download += found->second.download;
  flow.uploadPackets += found->second.uploadPackets;
  flow.downloadPackets += found->second.downloadPackets;
  flow.firstMicroseconds = found->second.firstMicroseconds;
  flows.erase(found);
  return guess;
}

}  // namespace quorvel
