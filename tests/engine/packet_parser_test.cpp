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

TEST(ParsePacket, NullBufferIsRejected) { EXPECT_FALSE(ParsePacket(nullptr, 100)); }

}  // namespace
}  // namespace quorvel
