// The parsers that read host names out of traffic: what each one names, and
// that cut or hostile bytes give no name rather than a wrong one.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "attribution/names/dns_answers.h"
#include "attribution/names/hello_assembler.h"
#include "attribution/names/http_host.h"
#include "attribution/names/quic_initial.h"
#include "attribution/names/tls_client_hello.h"
#include "common/ipv4.h"
#include "support/name_packets.h"

namespace quorvel {
namespace {

using testing::ARecord;
using testing::Bytes;
using testing::CnameRecord;
using testing::Hex;
using ByteVector = std::vector<std::uint8_t>;

std::vector<std::string> DnsSummary(const ByteVector& message) {
  std::vector<std::string> out;
  for (const DnsAddressAnswer& answer : ReadDnsAnswers(message)) {
    Ipv4Address address = 0;
    std::memcpy(&address, answer.address.data(), 4);
    out.push_back(answer.name + "=" + (answer.addressSize == 4 ? Ipv4ToText(address) : "v6") + "/" +
                  std::to_string(answer.ttlSeconds));
  }
  return out;
}

ByteVector Cut(ByteVector bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

ByteVector With(ByteVector bytes, std::size_t at, std::uint8_t value) {
  bytes[at] = value;
  return bytes;
}

TEST(NameParsersTest, DnsAnswersNameEachAddressByTheQuestion) {
  const ByteVector chain = testing::BuildDnsResponse(
      "WWW.Example.com", {CnameRecord("WWW.Example.com", "edge.cdn.net", 60), CnameRecord("edge.cdn.net", "a1.cdn.net"),
                          ARecord("a1.cdn.net", 192, 0, 2, 1, 30), ARecord("a1.cdn.net", 192, 0, 2, 2, 40)});
  ByteVector aaaa = testing::BuildDnsResponse("v6.example", {{"v6.example", 28, 50, ByteVector(16, 0x20), {}}});
  ByteVector loop = testing::BuildDnsResponse("x.test", {ARecord("x.test", 10, 0, 0, 1)});
  loop[loop.size() - 16] = 0xC0;  // answer owner: a pointer to itself
  loop[loop.size() - 15] = static_cast<std::uint8_t>(loop.size() - 16);
  const ByteVector mdns = testing::BuildDnsResponse("", {ARecord("printer.local", 10, 0, 0, 9, 120)});
  const struct {
    const char* what;
    ByteVector message;
    std::vector<std::string> expected;
  } cases[] = {
      {"CNAME chain, two addresses, lower case",
       chain,
       {"www.example.com=192.0.2.1/30", "www.example.com=192.0.2.2/40"}},
      {"AAAA", aaaa, {"v6.example=v6/50"}},
      {"a query names nothing", With(chain, 2, chain[2] & 0x7F), {}},
      {"pointer loop", loop, {}},
      {"cut in the second address", Cut(chain, chain.size() - 2), {"www.example.com=192.0.2.1/30"}},
      {"cut in the header", Cut(chain, 7), {}},
      {"unrelated owner is not the question's",
       testing::BuildDnsResponse("a.test", {ARecord("b.test", 10, 0, 0, 2)}),
       {}},
      {"label with a blank", testing::BuildDnsResponse("a b.test", {ARecord("a b.test", 10, 0, 0, 3)}), {}},
      {"mDNS answer without a question", mdns, {"printer.local=10.0.0.9/120"}},
  };
  for (const auto& c : cases) EXPECT_EQ(DnsSummary(c.message), c.expected) << c.what;

  ByteVector tcp = chain;  // over TCP a message follows its length
  tcp.insert(tcp.begin(), {static_cast<std::uint8_t>(chain.size() >> 8), static_cast<std::uint8_t>(chain.size())});
  EXPECT_EQ(DnsSummary(ByteVector(DnsMessageInTcp(tcp).begin(), DnsMessageInTcp(tcp).end())).size(), 2u);
}

TEST(NameParsersTest, TlsAndHttpNameTheirConnection) {
  const ByteVector hello12 = testing::TlsRecord(testing::BuildClientHello("Shop.Example.org", false));
  const ByteVector hello13 = testing::TlsRecord(testing::BuildClientHello("api.example.net", true));
  const ByteVector hugeSni = testing::TlsRecord(testing::BuildClientHello(std::string(300, 'a'), true));
  // Extensions length, or server name length, far beyond the record.
  const ByteVector lying = With(With(hello13, 84, 0xFF), 85, 0xFF);
  const ByteVector lyingName = With(With(hello13, 101, 0xFF), 102, 0xFF);
  const std::string longName = std::string(260, 'b');
  const struct {
    const char* what;
    std::optional<std::string> name;
    std::optional<std::string> expected;
  } cases[] = {
      {"TLS 1.2 with SNI", ReadTlsServerName(hello12), "shop.example.org"},
      {"TLS 1.3 with SNI", ReadTlsServerName(hello13), "api.example.net"},
      {"without SNI", ReadTlsServerName(testing::TlsRecord(testing::BuildClientHello(std::nullopt, true))),
       std::nullopt},
      {"cut before the name ends", ReadTlsServerName(Cut(hello12, hello12.size() - 3)), std::nullopt},
      {"cut in the record header", ReadTlsServerName(Cut(hello12, 4)), std::nullopt},
      {"long name cut at 253", ReadTlsServerName(hugeSni), std::string(253, 'a')},
      {"hostile extensions length", ReadTlsServerName(lying), "api.example.net"},
      {"hostile name length", ReadTlsServerName(lyingName), std::nullopt},
      {"application data", ReadTlsServerName(Hex("170303001000")), std::nullopt},
      {"HTTP Host without port",
       ReadHttpHost(Bytes("GET /x HTTP/1.1\r\nAccept: */*\r\nHOST: Web.Example:8080\r\n\r\n")), "web.example"},
      {"HTTP/1.0 bare newlines", ReadHttpHost(Bytes("POST / HTTP/1.0\nhost:  a.test \n\n")), "a.test"},
      {"Host after the end of headers", ReadHttpHost(Bytes("GET / HTTP/1.1\r\n\r\nHost: a.test\r\n")), std::nullopt},
      {"Host cut off", ReadHttpHost(Bytes("GET / HTTP/1.1\r\nHost: a.te")), std::nullopt},
      {"not HTTP/1", ReadHttpHost(Bytes("GET / SPDY\r\nHost: a.test\r\n\r\n")), std::nullopt},
      {"not a request", ReadHttpHost(Bytes("HTTP/1.1 200 OK\r\nHost: a.test\r\n\r\n")), std::nullopt},
      {"control bytes in Host", ReadHttpHost(Bytes("GET / HTTP/1.1\r\nHost: a\x01.test\r\n\r\n")), std::nullopt},
      {"Host too long is cut", ReadHttpHost(Bytes("GET / HTTP/1.1\r\nHost: " + longName + "\r\n\r\n")),
       std::string(253, 'b')},
  };
  for (const auto& c : cases) EXPECT_EQ(c.name, c.expected) << c.what;
}

// RFC 9001, Appendix A: the client's Initial keys and its first packet.
TEST(NameParsersTest, QuicInitialOfTheRfcTestVectors) {
  const ByteVector dcid = Hex("8394c8f03e515708");
  const QuicInitialKeys keys = DeriveClientInitialKeys(dcid);
  EXPECT_EQ(ByteVector(keys.key.begin(), keys.key.end()), Hex("1f369613dd76d5467730efcbe3b1a22d"));
  EXPECT_EQ(ByteVector(keys.iv.begin(), keys.iv.end()), Hex("fa044b2f42a3fd3b46fb255c"));
  EXPECT_EQ(ByteVector(keys.headerProtection.begin(), keys.headerProtection.end()),
            Hex("9f50449e04a0e810283a1e9933adedd2"));

  const ByteVector crypto =
      Hex("060040f1010000ed0303ebf8fa56f12939b9584a3896472ec40bb863cfd3e86804fe3a47f06a2b69484c000004130113020100"
          "00c000000010000e00000b6578616d706c652e636f6dff01000100000a00080006001d0017001800100007000504616c706e00"
          "0500050100000000003300260024001d00209370b2c9caa47fbabaf4559fedba753de171fa71f50f1ce15d43e994ec74b74800"
          "2b0003020304000d0010000e0403050306030203080408050806002d00020101001c00024001003900320408ffffffffffffff"
          "ff05048000ffff07048000ffff0801100104800075300901100f088394c8f03e51570806048000ffff");
  const ByteVector packet = testing::BuildQuicClientInitial(dcid, 2, crypto);
  ASSERT_EQ(packet.size(), 1200u);
  // The protected header the RFC gives for this packet.
  EXPECT_EQ(ByteVector(packet.begin(), packet.begin() + 22), Hex("c000000001088394c8f03e5157080000449e7b9aec34"));
  EXPECT_EQ(ReadQuicInitialServerName(packet), "example.com");

  // CRYPTO data split and out of order, as some clients send it.
  const ByteVector hello = testing::BuildClientHello("video.example", true);
  ByteVector split = testing::CryptoFrame(40, ByteVector(hello.begin() + 40, hello.end()));
  const ByteVector head = testing::CryptoFrame(0, ByteVector(hello.begin(), hello.begin() + 40));
  split.insert(split.begin(), {0x01, 0x00});  // PING, PADDING
  split.insert(split.end(), head.begin(), head.end());
  ByteVector flipped = testing::BuildQuicClientInitial(dcid, 7, split);
  const ByteVector gap =
      testing::BuildQuicClientInitial(dcid, 8, testing::CryptoFrame(40, ByteVector(hello.begin() + 40, hello.end())));
  const struct {
    const char* what;
    ByteVector datagram;
    std::optional<std::string> expected;
  } cases[] = {
      {"split CRYPTO frames", flipped, "video.example"},
      {"gap before the name", gap, std::nullopt},
      {"tampered payload fails authentication", With(flipped, 600, flipped[600] ^ 1), std::nullopt},
      {"cut datagram", Cut(flipped, 100), std::nullopt},
      {"version 2", With(flipped, 4, 2), std::nullopt},
      {"connection id longer than 20", With(flipped, 5, 21), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadQuicInitialServerName(c.datagram), c.expected) << c.what;
}

}  // namespace
}  // namespace quorvel
