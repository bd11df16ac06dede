#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvel {

// One address record of a DNS response, under the name the client asked.
struct DnsAddressAnswer {
  std::string name;                      // the question name (CNAME chains followed back to it)
  std::array<std::uint8_t, 16> address{};  // wire bytes: 4 used for A, 16 for AAAA
  std::uint8_t addressSize = 0;
  std::uint32_t ttlSeconds = 0;
};

// At most this many answer records are read from one message.
inline constexpr std::size_t kMaxDnsRecords = 64;

// The A and AAAA answers of one DNS message (a response, QR set), each named
// by the question name it answers. A message without a question (mDNS)
// names each address by the head of its CNAME chain. Reads only `message`;
// a truncated message gives the answers read before its end.
std::vector<DnsAddressAnswer> ReadDnsAnswers(std::span<const std::uint8_t> message);

// The message inside a DNS-over-TCP segment: its two-byte length prefix
// removed, cut to that length.
std::span<const std::uint8_t> DnsMessageInTcp(std::span<const std::uint8_t> segment);

}  // namespace quorvel
