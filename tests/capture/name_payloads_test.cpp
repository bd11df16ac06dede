#include "capture/name_payloads.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/name_packets.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;

const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const Ipv4Address kRemote = MakeIpv4(198, 18, 0, 2);

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct Sent {
  const char* what;
  bool outgoing;
  std::uint8_t protocol;
  std::uint16_t localPort, remotePort;
  std::string payload;
  std::uint32_t sequence;  // TCP only
  bool wanted;
};

// The capture helper keeps whole only the packets the name readers read,
// in the order a client's traffic brings them; one ClientHello spans two
// segments, and the second starts with no sign of TLS.
TEST(NamePayloads, KeepsWholeOnlyWhatTheNameReadersNeed) {
  const std::string hello = Text(testing::TlsRecord(testing::BuildClientHello("long.named.test", true, 1400)));
  const std::string dns =
      Text(testing::BuildDnsResponse("web.named.test", {testing::ARecord("web.named.test", 198, 18, 0, 2)}));
  const std::string bulk(600, '\x17');
  const Sent packets[] = {
      {"DNS query", true, 17, 40000, 53, Text(testing::Bytes("question")), 0, false},
      {"DNS response", false, 17, 40000, 53, dns, 0, true},
      {"DNS response over TCP", false, 6, 40001, 53, std::string(2, '\0') + dns, 0, true},
      {"incoming bulk", false, 6, 40002, 443, bulk, 0, false},
      {"TLS record of the server", false, 6, 40002, 443, hello, 0, false},
      {"TLS application data", true, 6, 40002, 443, bulk, 0, false},
      {"HTTP request", true, 6, 40003, 80, "GET / HTTP/1.1\r\nHost: web.named.test\r\n\r\n", 0, true},
      {"QUIC Initial", true, 17, 40004, 443,
       Text(testing::BuildQuicClientInitial(testing::Hex("8394c8f03e515708"), 2,
                                            testing::CryptoFrame(0, testing::BuildClientHello("q.named.test", true)))),
       0, true},
      {"QUIC short header", true, 17, 40004, 443, std::string(1, '\x40') + bulk, 0, false},
      {"ClientHello, first part", true, 6, 40005, 443, hello.substr(0, 1000), 1000, true},
      {"ClientHello, rest", true, 6, 40005, 443, hello.substr(1000), 2000, true},
      {"after the ClientHello", true, 6, 40005, 443, bulk, static_cast<std::uint32_t>(1000 + hello.size()), false},
  };
  NamePayloads names;
  for (const Sent& sent : packets) {
    std::vector<std::uint8_t> packet =
        sent.outgoing
            ? BuildIpv4Packet({kLocal, kRemote, sent.protocol, sent.localPort, sent.remotePort, 5, sent.payload})
            : BuildIpv4Packet({kRemote, kLocal, sent.protocol, sent.remotePort, sent.localPort, 5, sent.payload});
    for (int i = 0; i < 4 && sent.protocol == 6; ++i)
      packet[24 + i] = static_cast<std::uint8_t>(sent.sequence >> (24 - 8 * i));
    EXPECT_EQ(names.Wanted(kLocal, 1'700'000'000'000'000, packet.data(), packet.size()), sent.wanted) << sent.what;
  }
}

}  // namespace
}  // namespace quorvel
