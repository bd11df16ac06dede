#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// Payloads that name a remote host, for parser, replay and benchmark tests.

struct DnsRecordSpec {
  std::string owner;
  std::uint16_t type = 1;  // 1 A, 5 CNAME, 28 AAAA
  std::uint32_t ttl = 300;
  std::vector<std::uint8_t> data;  // address bytes; for CNAME use `target`
  std::string target;
};
// A response to `question` with these answer records; owners equal to the
// question are written as a compression pointer, as servers do. An empty
// question leaves the question section out, as mDNS answers do.
std::vector<std::uint8_t> BuildDnsResponse(std::string_view question, const std::vector<DnsRecordSpec>& answers);
DnsRecordSpec ARecord(std::string owner, std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                      std::uint32_t ttl = 300);
DnsRecordSpec CnameRecord(std::string owner, std::string target, std::uint32_t ttl = 300);

// A ClientHello handshake message; TLS 1.3 adds supported_versions and a key
// share. A padding extension of `paddingBeforeName` bytes goes before the
// server name, as large key shares put it far into the message.
std::vector<std::uint8_t> BuildClientHello(std::optional<std::string_view> serverName, bool tls13,
                                           std::size_t paddingBeforeName = 0);
// The handshake message in one TLS record.
std::vector<std::uint8_t> TlsRecord(const std::vector<std::uint8_t>& handshake);

// A client's QUIC v1 Initial packet, protected as RFC 9001 says, carrying
// `frames` padded to a 1200-byte datagram. Packet number 4 bytes long.
std::vector<std::uint8_t> BuildQuicClientInitial(const std::vector<std::uint8_t>& destinationConnectionId,
                                                 std::uint32_t packetNumber, std::vector<std::uint8_t> frames);
// A CRYPTO frame with its data.
std::vector<std::uint8_t> CryptoFrame(std::uint64_t offset, const std::vector<std::uint8_t>& data);

std::vector<std::uint8_t> Hex(std::string_view hex);
std::vector<std::uint8_t> Bytes(std::string_view text);

}  // namespace quorvel::testing
