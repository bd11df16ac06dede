#include "attribution/proxy_inspector.h"

#include <algorithm>
#include <cstring>

namespace quorvel {
namespace {

// Latin-1 bytes as UTF-8: one character per byte, never invalid UTF-8.
std::string BytesAsText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text.push_back(c);
    } else {
      text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return text;
}

}  // namespace

std::string ExtractHost(std::string_view request) {
  const std::size_t scheme = request.find("://");
  if (scheme == std::string_view::npos) return {};
  const std::string_view rest = request.substr(scheme + 3);
  std::size_t end = rest.find('/');
  if (end == std::string_view::npos) end = rest.find(' ');
  if (end == std::string_view::npos) return {};
  return BytesAsText(rest.substr(0, std::min(end, kMaxProxyHostBytes)));
}

std::string TunnelHost(std::string_view request) {
  constexpr std::string_view kConnect = "CONNECT ";
  if (!request.starts_with(kConnect)) return {};
  std::string_view authority = request.substr(kConnect.size());
  authority = authority.substr(0, authority.find_first_of(" \r\n"));
  // "host:port"; an IPv6 literal keeps its brackets.
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
    authority = authority.substr(0, colon);
  }
  return BytesAsText(authority.substr(0, kMaxProxyHostBytes));
}

bool ProxyInspector::InspectProxyPacket(const PacketFacts& packet, Direction direction) {
  const EngineSettings& settings = state_.settings;
  if (!settings.useProxy.load(std::memory_order_relaxed) || packet.payload == nullptr) return false;
  const Ipv4Address proxyAddress = settings.proxyAddress.load(std::memory_order_relaxed);
  const std::uint16_t proxyPort = settings.proxyPort.load(std::memory_order_relaxed);

  std::uint32_t localPort;
  if (direction != Direction::kOutgoing) {
    if (packet.source != proxyAddress || packet.sourcePort != proxyPort) return false;
    localPort = packet.destinationPort;
  } else {
    if (packet.destination != proxyAddress || packet.destinationPort != proxyPort) return false;
    localPort = packet.sourcePort;
    // The request text runs up to its first zero byte or the received end.
    const auto* begin = reinterpret_cast<const char*>(packet.payload);
    const auto available = static_cast<std::size_t>(
        std::max<std::ptrdiff_t>(packet.receivedEnd - packet.payload, 0));
    const void* zero = std::memchr(begin, 0, available);
    const std::string_view text(begin, zero ? static_cast<const char*>(zero) - begin : available);
    std::string host = TunnelHost(text);
    if (host.empty()) {
      std::size_t method = text.find("GET");
      if (method == std::string_view::npos) method = text.find("POST");
      if (method != std::string_view::npos) host = ExtractHost(text.substr(method));
    }
    if (!host.empty()) proxyHosts_[localPort] = std::move(host);
  }

  // Until a request names the host (the handshake, or a connection whose
  // requests are not readable) the packets count as traffic with the proxy.
  const auto entry = proxyHosts_.find(localPort);
  if (entry == proxyHosts_.end()) return false;

  const std::int64_t now = clock_.NowSeconds();
  std::lock_guard lock(state_.queueProxyMutex);
  auto& queue = state_.proxyEvents;
  // Packets of one port, host, direction and second are applied the same way
  // one by one or summed, so merge them with a recent event of this second.
  constexpr int kMergeWindow = 8;
  int looked = 0;
  for (auto it = queue.rbegin(); it != queue.rend() && it->time == now && looked < kMergeWindow;
       ++it, ++looked) {
    if (it->localPort == localPort && it->direction == direction && it->host == entry->second) {
      it->length += packet.length;
      return true;
    }
  }
  queue.push_back(ProxyEvent{entry->second, localPort, now, packet.length, direction});
  return true;
}

}  // namespace quorvel
