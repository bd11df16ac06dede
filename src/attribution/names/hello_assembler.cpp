#include "attribution/names/hello_assembler.h"

#include <functional>

#include "attribution/names/tls_client_hello.h"

namespace quorvel {

std::size_t HelloAssembler::KeyHash::operator()(const HelloKey& key) const {
  const std::uint64_t ports = (std::uint64_t{key.protocol} << 32) | (std::uint64_t{key.localPort} << 16) | key.remotePort;
  return std::hash<std::uint64_t>{}(ports * 0x9E3779B97F4A7C15ULL ^ IpAddressHash{}(key.remoteAddress));
}

HelloAssembler::Pending* HelloAssembler::Start(const HelloKey& key, std::int64_t now) {
  // Hellos that never complete must not pile up: the table starts afresh.
  if (pending_.size() >= kMaxPending) pending_.clear();
  Pending* pending = &pending_[key];
  pending->started = now;
  pending->packets = 1;
  return pending;
}

void HelloAssembler::Expire(std::int64_t now) {
  std::erase_if(pending_, [now](const auto& entry) { return now - entry.second.started >= kMaxSeconds; });
}

std::optional<std::string> HelloAssembler::AddTcpSegment(const HelloKey& key, std::uint32_t sequence,
                                                         std::span<const std::uint8_t> payload, std::int64_t now) {
  const auto found = pending_.find(key);
  if (found == pending_.end()) {
    if (auto name = ReadTlsServerName(payload)) return name;
    if (!LooksLikeTlsHandshake(payload.data(), payload.size()) || TlsFirstRecordComplete(payload)) return std::nullopt;
    Pending* pending = Start(key, now);
    pending->tcpBytes.assign(payload.begin(), payload.end());
    pending->nextSequence = sequence + static_cast<std::uint32_t>(payload.size());
    return std::nullopt;
  }
  Pending& pending = found->second;
  std::optional<std::string> name;
  if (sequence == pending.nextSequence) {  // in order; retransmissions and gaps are skipped
    pending.tcpBytes.insert(pending.tcpBytes.end(), payload.begin(), payload.end());
    pending.nextSequence += static_cast<std::uint32_t>(payload.size());
    name = ReadTlsServerName(pending.tcpBytes);
  }
  if (name || TlsFirstRecordComplete(pending.tcpBytes) || ++pending.packets >= kMaxPackets) pending_.erase(found);
  return name;
}

std::optional<std::string> HelloAssembler::AddQuicDatagram(const HelloKey& key,
                                                           std::span<const std::uint8_t> datagram,
                                                           std::int64_t now) {
  const auto found = pending_.find(key);
  if (found == pending_.end()) {
    CryptoStream stream;
    if (!AddQuicInitialCrypto(datagram, stream)) return std::nullopt;
    if (auto name = ReadClientHelloServerName(stream.Prefix())) return name;
    if (ClientHelloComplete(stream.Prefix())) return std::nullopt;
    Start(key, now)->quicCrypto = std::move(stream);
    return std::nullopt;
  }
  Pending& pending = found->second;
  std::optional<std::string> name;
  if (AddQuicInitialCrypto(datagram, pending.quicCrypto)) name = ReadClientHelloServerName(pending.quicCrypto.Prefix());
  if (name || ClientHelloComplete(pending.quicCrypto.Prefix()) || ++pending.packets >= kMaxPackets) {
    pending_.erase(found);
  }
  return name;
}

}  // namespace quorvel
