#include "engine/packet_parser.h"

#include <gtest/gtest.h>

#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;
using testing::PacketSpec;

const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const Ipv4Address kRemote = MakeIpv4(198, 18, 0, 2);

struct ParseCase {
  const char* name;
  PacketSpec shape;
  std::size_t truncateTo;  // 0: keep the whole packet
  bool accepted;
  std::uint16_t sourcePort, destinationPort, length;
  std::ptrdiff_t payloadOffset;
};

TEST(ParsePacket, HeaderFactsAndBounds) {
  const ParseCase cases[] = {
      {"tcp", {kLocal, kRemote, 6, 5000, 80, 5, "data"}, 0, true, 5000, 80, 44, 40},
      {"udp payload is the packet start", {kLocal, kRemote, 17, 53, 999, 5, "q"}, 0, true, 53, 999, 29, 0},
      {"icmp has no ports", {kRemote, kLocal, 1, 7, 7, 5, "ping"}, 0, true, 0, 0, 24, 0},
      {"tcp ports after options, payload still at 40", {kLocal, kRemote, 6, 1234, 443, 6, ""}, 0, true,
       1234, 443, 44, 40},
      {"length is the header field, not the bytes received",
       {kLocal, kRemote, 17, 1, 2, 5, "", 1500}, 0, true, 1, 2, 1500, 0},
      {"total length 0 is handed on", {kLocal, kRemote, 17, 1, 2, 5, "", 0}, 0, true, 1, 2, 0, 0},
      {"runt of 19 bytes", {kLocal, kRemote, 1, 0, 0, 5, ""}, 19, false, 0, 0, 0, 0},
      {"header length 15 beyond the received bytes", {kLocal, kRemote, 6, 1, 2, 15, ""}, 40, false, 0, 0,
       0, 0},
      {"header length 0 reads ports from the IPv4 header itself", {kLocal, kRemote, 17, 0, 0, 0, ""}, 20,
       true, 0, 0, 0, 0},
      {"tcp shorter than 40 bytes: payload clamped to the end", {kLocal, kRemote, 6, 9, 10, 5, ""}, 24,
       true, 9, 10, 40, 24},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes = BuildIpv4Packet(c.shape);
    if (c.truncateTo) bytes.resize(c.truncateTo);
    // Copy into an exact-size heap block so ASan catches any read past it.
    auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const auto facts = ParsePacket(exact.get(), bytes.size());
    ASSERT_EQ(facts.has_value(), c.accepted);
    if (!facts) continue;
    EXPECT_EQ(facts->sourcePort, c.sourcePort);
    EXPECT_EQ(facts->destinationPort, c.destinationPort);
    EXPECT_EQ(facts->length, c.length);
    EXPECT_EQ(facts->payload - exact.get(), c.payloadOffset);
    EXPECT_EQ(facts->receivedEnd, exact.get() + bytes.size());
    EXPECT_EQ(facts->source, c.shape.source);
    EXPECT_EQ(facts->destination, c.shape.destination);
    EXPECT_EQ(facts->protocol, c.shape.protocol);
  }
}

struct Ipv6Case {
  const char* name;
  std::vector<testing::ExtensionHeader> extensions;
  std::uint8_t protocol;
  bool transportHeader;
  int payloadLengthField;  // -1: the real size
  std::size_t truncateTo;  // 0: keep the whole packet
  bool accepted;
  std::uint16_t expectedProtocol, sourcePort, destinationPort;
  std::uint32_t length;
  std::ptrdiff_t payloadOffset;
};

TEST(ParsePacket, Ipv6ExtensionChainsLengthsAndBounds) {
  constexpr std::uint8_t kHop = 0, kRouting = 43, kFragment = 44, kEsp = 50, kAh = 51, kNone = 59,
                         kDestination = 60, kIcmpv6 = 58;
  // Payload "data" (4 bytes) after the transport header where there is one.
  const Ipv6Case cases[] = {
      {"tcp", {}, 6, true, -1, 0, true, 6, 5000, 443, 40 + 24, 60},
      {"udp payload is the packet start", {}, 17, true, -1, 0, true, 17, 5000, 443, 40 + 12, 0},
      {"icmpv6 has no ports", {}, kIcmpv6, true, -1, 0, true, kIcmpv6, 0, 0, 40 + 4, 0},
      {"hop-by-hop", {{kHop, 8}}, 17, true, -1, 0, true, 17, 5000, 443, 40 + 8 + 12, 0},
      {"routing", {{kRouting, 24}}, 6, true, -1, 0, true, 6, 5000, 443, 40 + 24 + 24, 84},
      {"destination options", {{kDestination, 16}}, 17, true, -1, 0, true, 17, 5000, 443, 40 + 28, 0},
      {"chain of four", {{kHop, 8}, {kDestination, 8}, {kRouting, 16}, {kDestination, 8}}, 6, true, -1, 0,
       true, 6, 5000, 443, 40 + 40 + 24, 100},
      {"authentication header counts in words of four", {{kAh, 12}}, 6, true, -1, 0, true, 6, 5000, 443,
       40 + 12 + 24, 72},
      {"authentication header of 24 bytes", {{kAh, 24}}, 17, true, -1, 0, true, 17, 5000, 443,
       40 + 24 + 12, 0},
      {"first fragment has ports", {{kFragment, 8, 0x0001}}, 17, true, -1, 0, true, 17, 5000, 443,
       40 + 8 + 12, 0},
      {"later fragment counts without ports", {{kFragment, 8, 0x00B9}}, 17, false, -1, 0, true, 17, 0, 0,
       40 + 8 + 4, 0},
      {"later fragment stops the walk", {{kFragment, 8, 0x0100}}, kDestination, false, -1, 0, true,
       kDestination, 0, 0, 40 + 8 + 4, 0},
      {"esp ends the walk as the protocol", {{kHop, 8}}, kEsp, false, -1, 0, true, kEsp, 0, 0,
       40 + 8 + 4, 0},
      {"no next header ends the walk", {}, kNone, false, -1, 0, true, kNone, 0, 0, 40 + 4, 0},
      {"jumbogram counts its received length", {{kHop, 8}}, 17, true, 0, 0, true, 17, 5000, 443,
       40 + 8 + 12, 0},
      {"length is the header field, not the bytes received", {}, 17, true, 1400, 0, true, 17, 5000, 443,
       1440, 0},
      {"runt of 39 bytes", {}, 17, true, -1, 39, false, 0, 0, 0, 0, 0},
      {"extension header cut before its length byte", {{kHop, 8}}, 17, true, -1, 41, false, 0, 0, 0, 0, 0},
      {"extension header longer than the bytes", {{kRouting, 64}}, 17, true, -1, 80, false, 0, 0, 0, 0, 0},
      {"authentication header cut inside", {{kAh, 24}}, 17, true, -1, 60, false, 0, 0, 0, 0, 0},
      {"fragment header cut inside", {{kFragment, 8}}, 17, true, -1, 46, false, 0, 0, 0, 0, 0},
      {"ports cut off", {{kHop, 8}}, 6, true, -1, 50, false, 0, 0, 0, 0, 0},
      {"tcp header cut after the ports: payload clamped to the end", {}, 6, true, -1, 48, true, 6, 5000,
       443, 40 + 24, 48},
  };
  const IpAddress source = testing::Ipv6("fd00::1");
  const IpAddress destination = testing::Ipv6("2001:db8::2");
  for (const Ipv6Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::Ipv6PacketSpec shape{source, destination, c.extensions, c.protocol, 5000, 443,
                                  c.transportHeader, "data", c.payloadLengthField};
    std::vector<std::uint8_t> bytes = testing::BuildIpv6Packet(shape);
    if (c.truncateTo) bytes.resize(c.truncateTo);
    auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const auto facts = ParsePacket(exact.get(), bytes.size());
    ASSERT_EQ(facts.has_value(), c.accepted);
    if (!facts) continue;
    EXPECT_EQ(facts->protocol, c.expectedProtocol);
    EXPECT_EQ(facts->sourcePort, c.sourcePort);
    EXPECT_EQ(facts->destinationPort, c.destinationPort);
    EXPECT_EQ(facts->length, c.length);
    EXPECT_EQ(facts->payload - exact.get(), c.payloadOffset);
    EXPECT_EQ(facts->receivedEnd, exact.get() + bytes.size());
    EXPECT_EQ(facts->source, source);
    EXPECT_EQ(facts->destination, destination);
  }
}

TEST(ParsePacket, NullBufferIsRejected) { EXPECT_FALSE(ParsePacket(nullptr, 100)); }

}  // namespace
}  // namespace quorvel
