#include "engine/packet_parser.h"

#include <gtest/gtest.h>

#include "support/packet_builder.h"

namespace quorvel {
namespace {

struct Expected {
  bool accepted;
  std::uint16_t protocol = 0, sourcePort = 0, destinationPort = 0;
  std::uint32_t length = 0;
  std::ptrdiff_t payloadOffset = 0;
};

// Parses a copy in an exact-size heap block, so ASan catches any read past it.
void ExpectFacts(std::vector<std::uint8_t> bytes, std::size_t truncateTo, const Expected& expected,
                 const IpAddress& source, const IpAddress& destination) {
  if (truncateTo) bytes.resize(truncateTo);
  auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), exact.get());
  const auto facts = ParsePacket(exact.get(), bytes.size());
  ASSERT_EQ(facts.has_value(), expected.accepted);
  if (!facts) return;
  EXPECT_EQ(facts->protocol, expected.protocol);
  EXPECT_EQ(facts->sourcePort, expected.sourcePort);
  EXPECT_EQ(facts->destinationPort, expected.destinationPort);
  EXPECT_EQ(facts->length, expected.length);
  EXPECT_EQ(facts->payload - exact.get(), expected.payloadOffset);
  EXPECT_EQ(facts->receivedEnd, exact.get() + bytes.size());
  EXPECT_EQ(facts->source, source);
  EXPECT_EQ(facts->destination, destination);
}

TEST(ParsePacket, HeaderFactsAndBounds) {
  const Ipv4Address local = MakeIpv4(198, 18, 0, 1), remote = MakeIpv4(198, 18, 0, 2);
  const struct {
    const char* name;
    testing::PacketSpec shape;
    std::size_t truncateTo;  // 0: keep the whole packet
    Expected expected;
  } cases[] = {
      {"tcp", {local, remote, 6, 5000, 80, 5, "data"}, 0, {true, 6, 5000, 80, 44, 40}},
      {"udp payload is the packet start", {local, remote, 17, 53, 999, 5, "q"}, 0, {true, 17, 53, 999, 29, 0}},
      {"icmp has no ports", {remote, local, 1, 7, 7, 5, "ping"}, 0, {true, 1, 0, 0, 24, 0}},
      {"tcp options: payload still at 40", {local, remote, 6, 1234, 443, 6}, 0, {true, 6, 1234, 443, 44, 40}},
      {"length is the header field", {local, remote, 17, 1, 2, 5, "", 1500}, 0, {true, 17, 1, 2, 1500, 0}},
      {"total length 0 is handed on", {local, remote, 17, 1, 2, 5, "", 0}, 0, {true, 17, 1, 2, 0, 0}},
      {"runt of 19 bytes", {local, remote, 1, 0, 0, 5}, 19, {false}},
      {"header length 15 beyond the received bytes", {local, remote, 6, 1, 2, 15}, 40, {false}},
      {"header length 0: ports from the IPv4 header", {local, remote, 17, 0, 0, 0}, 20, {true, 17, 0, 0, 0, 0}},
      {"tcp under 40 bytes: payload at the end", {local, remote, 6, 9, 10, 5}, 24, {true, 6, 9, 10, 40, 24}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFacts(testing::BuildIpv4Packet(c.shape), c.truncateTo, c.expected, c.shape.source, c.shape.destination);
  }
  EXPECT_FALSE(ParsePacket(nullptr, 100));
}

TEST(ParsePacket, Ipv6ExtensionChainsLengthsAndBounds) {
  constexpr std::uint8_t kHop = 0, kRouting = 43, kFragment = 44, kEsp = 50, kAh = 51, kNone = 59, kDest = 60;
  // Payload "data" (4 bytes) after the transport header where there is one.
  const struct {
    const char* name;
    std::vector<testing::ExtensionHeader> extensions;
    std::uint8_t protocol;
    bool transportHeader;
    int payloadLengthField;  // -1: the real size
    std::size_t truncateTo;  // 0: keep the whole packet
    Expected expected;
  } cases[] = {
      {"tcp", {}, 6, true, -1, 0, {true, 6, 5000, 443, 40 + 24, 60}},
      {"udp payload is the packet start", {}, 17, true, -1, 0, {true, 17, 5000, 443, 40 + 12, 0}},
      {"icmpv6 has no ports", {}, 58, true, -1, 0, {true, 58, 0, 0, 40 + 4, 0}},
      {"hop-by-hop", {{kHop, 8}}, 17, true, -1, 0, {true, 17, 5000, 443, 40 + 8 + 12, 0}},
      {"routing", {{kRouting, 24}}, 6, true, -1, 0, {true, 6, 5000, 443, 40 + 24 + 24, 84}},
      {"destination options", {{kDest, 16}}, 17, true, -1, 0, {true, 17, 5000, 443, 40 + 28, 0}},
      {"chain", {{kHop, 8}, {kDest, 8}, {kRouting, 16}, {kDest, 8}}, 6, true, -1, 0, {true, 6, 5000, 443, 104, 100}},
      {"ah counts in words of four", {{kAh, 12}}, 6, true, -1, 0, {true, 6, 5000, 443, 40 + 12 + 24, 72}},
      {"ah of 24 bytes", {{kAh, 24}}, 17, true, -1, 0, {true, 17, 5000, 443, 40 + 24 + 12, 0}},
      {"first fragment has ports", {{kFragment, 8, 0x0001}}, 17, true, -1, 0, {true, 17, 5000, 443, 40 + 8 + 12, 0}},
      {"later fragment: no ports", {{kFragment, 8, 0x00B9}}, 17, false, -1, 0, {true, 17, 0, 0, 40 + 8 + 4, 0}},
      {"later fragment ends the walk",
       {{kFragment, 8, 0x0100}},
       kDest,
       false,
       -1,
       0,
       {true, kDest, 0, 0, 40 + 8 + 4, 0}},
      {"esp ends the walk", {{kHop, 8}}, kEsp, false, -1, 0, {true, kEsp, 0, 0, 40 + 8 + 4, 0}},
      {"no next header ends the walk", {}, kNone, false, -1, 0, {true, kNone, 0, 0, 40 + 4, 0}},
      {"jumbogram: received length", {{kHop, 8}}, 17, true, 0, 0, {true, 17, 5000, 443, 40 + 8 + 12, 0}},
      {"length is the header field", {}, 17, true, 1400, 0, {true, 17, 5000, 443, 1440, 0}},
      {"runt of 39 bytes", {}, 17, true, -1, 39, {false}},
      {"extension cut before its length", {{kHop, 8}}, 17, true, -1, 41, {false}},
      {"extension longer than the bytes", {{kRouting, 64}}, 17, true, -1, 80, {false}},
      {"ah cut inside", {{kAh, 24}}, 17, true, -1, 60, {false}},
      {"fragment header cut inside", {{kFragment, 8}}, 17, true, -1, 46, {false}},
      {"ports cut off", {{kHop, 8}}, 6, true, -1, 50, {false}},
      {"tcp cut after the ports", {}, 6, true, -1, 48, {true, 6, 5000, 443, 40 + 24, 48}},
  };
  const IpAddress source = testing::Ipv6("fd00::1"), destination = testing::Ipv6("2001:db8::2");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFacts(testing::BuildIpv6Packet({source, destination, c.extensions, c.protocol, 5000, 443, c.transportHeader,
                                          "data", c.payloadLengthField}),
                c.truncateTo, c.expected, source, destination);
  }
}

}  // namespace
}  // namespace quorvel
