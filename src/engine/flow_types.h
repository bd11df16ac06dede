#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>

#include "attribution/names/observed_names.h"
#include "common/ip_address.h"

namespace quorvel {

enum class Direction : std::uint32_t { kOutgoing = 1, kIncoming = 2 };

// The identity of a flow: its local source text, local port, remote address
// and remote port. Ports are host order, the address wire order. Ports sit
// after the byte-aligned address so that an IPv6-capable key stays 56 bytes.
struct FlowKey {
  std::string localSource;
  IpAddress remoteAddress;
  std::uint16_t localPort = 0;
  std::uint16_t remotePort = 0;

  FlowKey() = default;
  FlowKey(std::string source, std::uint32_t lport, const IpAddress& address, std::uint32_t rport)
      : localSource(std::move(source)), remoteAddress(address),
        localPort(static_cast<std::uint16_t>(lport)), remotePort(static_cast<std::uint16_t>(rport)) {}

  friend bool operator==(const FlowKey&, const FlowKey&) = default;
};

// A key that borrows its text and address: lookups on the packet path build
// no string and copy no address. Lives no longer than what it borrows.
struct FlowKeyView {
  std::string_view localSource;
  std::uint32_t localPort;
  const IpAddress* remoteAddress;
  std::uint32_t remotePort;

  FlowKeyView(std::string_view source, std::uint32_t lport, const IpAddress& address, std::uint32_t rport)
      : localSource(source), localPort(lport), remoteAddress(&address), remotePort(rport) {}
  FlowKeyView(const FlowKey& key)  // NOLINT(google-explicit-constructor): a view of a key
      : FlowKeyView(key.localSource, key.localPort, key.remoteAddress, key.remotePort) {}
  FlowKey ToKey() const { return {std::string(localSource), localPort, *remoteAddress, remotePort}; }
};

// Strict order: local source by bytes, then local port, the remote address
// (IPv4 first, as the number whose least significant byte is its first
// octet, then IPv6 by its bytes), remote port.
bool FlowKeyLess(const FlowKeyView& a, const FlowKeyView& b);

struct FlowKeyHash {
  using is_transparent = void;
  std::size_t operator()(const FlowKeyView& key) const;
};

struct FlowKeyEqual {
  using is_transparent = void;
  bool operator()(const FlowKeyView& a, const FlowKeyView& b) const {
    return a.localPort == b.localPort && *a.remoteAddress == *b.remoteAddress &&
           a.remotePort == b.remotePort && a.localSource == b.localSource;
  }
};

// The remote address is the key's: a copy here would make every flow larger.
struct TrafficFlow {
  std::uint64_t upload = 0;    // sum of the packet lengths sent
  std::uint64_t download = 0;  // sum of the packet lengths received
  // For exports (flow records, tables): the rest of the flow's identity as
  // its first packet showed it, packet counts and the times of the first and
  // last packet in microseconds since 1970 UTC.
  IpAddress localAddress;
  std::uint16_t protocol = 0;
  std::uint64_t uploadPackets = 0;
  std::uint64_t downloadPackets = 0;
  std::int64_t firstMicroseconds = 0;
  std::int64_t lastMicroseconds = 0;
  // Wall-clock second of the last event queued for this flow: at most one
  // event per flow and second is queued, since a second one shows nothing new.
  std::int64_t lastQueuedSecond = std::numeric_limits<std::int64_t>::min();
  // The name the traffic gave the flow: its own TLS, QUIC or HTTP name, else
  // the DNS-observed name of its remote address at its first packet.
  ObservedName observedName{};
  bool namedByConnection = false;
};

using FlowTable = std::unordered_map<FlowKey, TrafficFlow, FlowKeyHash, FlowKeyEqual>;

// Queued for the worker: the flow's key, its protocol and when it was seen.
struct PacketEvent {
  FlowKey key;
  std::uint16_t protocol = 0;
  std::int64_t time = 0;  // seconds since 1970 UTC
  // Set on the first event of a flow that took over the bytes of one first
  // accounted under this protocol text, so that its row moves too.
  std::string movedFrom;
};

// Bytes of one remote address in one direction, with its shown name.
struct RemoteTotal {
  std::string displayName;  // the address text until a host name is known
  std::uint64_t bytes = 0;
  bool namedByTraffic = false;  // the name came from traffic; reverse lookups leave it
};

// Keyed by the remote address (one entry per address text).
using RemoteMap = std::unordered_map<IpAddress, RemoteTotal, IpAddressHash>;

// One packet exchanged with the HTTP proxy, under the host last requested
// from its local port.
struct ProxyEvent {
  std::string host;
  std::uint32_t localPort = 0;
  std::int64_t time = 0;
  std::uint64_t length = 0;  // bytes; events of one second are merged
  Direction direction = Direction::kOutgoing;
};

// A flow seen through the proxy, identified by (host, local source).
struct ProxyFlow {
  std::uint32_t localPort = 0;
  std::string host;
  std::string localSource;
  std::uint64_t upload = 0;
  std::uint64_t download = 0;
};

}  // namespace quorvel
