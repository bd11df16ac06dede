#include "platform/linux/link_layer.h"

#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <memory>
#include <string>
#include <vector>

#include "support/packet_builder.h"

namespace quorvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}
Bytes Big16(std::uint16_t value) { return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)}; }

// Ethernet with the given VLAN tag types before the ether type.
Bytes Ethernet(const std::vector<std::uint16_t>& tags, std::uint16_t type, const Bytes& payload) {
  Bytes frame(12, 0xAA);
  for (const std::uint16_t tag : tags) frame = Concat(Concat(frame, Big16(tag)), {0x00, 0x05});
  return Concat(Concat(frame, Big16(type)), payload);
}
Bytes Sll(std::uint16_t protocol, const Bytes& payload) {
  Bytes header(14, 0);
  header[1] = 4;  // sent by us
  return Concat(Concat(header, Big16(protocol)), payload);
}
Bytes Sll2(std::uint16_t protocol, const Bytes& payload) {
  return Concat(Concat(Big16(protocol), Bytes(18, 0)), payload);
}

TEST(LinkLayerTest, FindsTheIpPacketOrNothing) {
  testing::PacketSpec shape;
  shape.source = MakeIpv4(10, 0, 0, 1);
  shape.destination = MakeIpv4(10, 0, 0, 2);
  shape.protocol = 17;
  shape.payload = "abc";
  const Bytes ip = testing::BuildIpv4Packet(shape);
  Bytes ip6(40, 0);
  ip6[0] = 0x60;
  const Bytes arp(28, 0x01);
  const struct {
    const char* name;
    int linkType;
    Bytes frame;
    int offset;  // where the IP packet starts; -1: nothing expected
  } cases[] = {
      {"Ethernet", DLT_EN10MB, Ethernet({}, 0x0800, ip), 14},
      {"one VLAN tag", DLT_EN10MB, Ethernet({0x8100}, 0x0800, ip), 18},
      {"QinQ", DLT_EN10MB, Ethernet({0x88A8, 0x8100}, 0x0800, ip), 22},
      {"old QinQ", DLT_EN10MB, Ethernet({0x9100, 0x8100}, 0x0800, ip), 22},
      {"three tags", DLT_EN10MB, Ethernet({0x88A8, 0x8100, 0x8100}, 0x0800, ip), -1},
      {"ARP", DLT_EN10MB, Ethernet({}, 0x0806, arp), -1},
      {"Ethernet IPv6", DLT_EN10MB, Ethernet({}, 0x86DD, ip6), 14},
      {"VLAN IPv6", DLT_EN10MB, Ethernet({0x8100}, 0x86DD, ip6), 18},
      {"QinQ IPv6", DLT_EN10MB, Ethernet({0x88A8, 0x8100}, 0x86DD, ip6), 22},
      {"VLAN ARP", DLT_EN10MB, Ethernet({0x8100}, 0x0806, arp), -1},
      {"truncated header", DLT_EN10MB, Bytes(13, 0), -1},
      {"header only", DLT_EN10MB, Ethernet({}, 0x0800, {}), -1},
      {"one IP byte", DLT_EN10MB, Ethernet({}, 0x0800, {0x45}), 14},
      {"tag cut inside", DLT_EN10MB, Concat(Bytes(12, 0), {0x81, 0x00, 0x00}), -1},
      {"empty", DLT_EN10MB, {}, -1},
      {"SLL", DLT_LINUX_SLL, Sll(0x0800, ip), 16},
      {"SLL IPv6", DLT_LINUX_SLL, Sll(0x86DD, ip6), 16},
      {"SLL truncated", DLT_LINUX_SLL, Bytes(15, 0), -1},
      {"SLL2 IPv6", DLT_LINUX_SLL2, Sll2(0x86DD, ip6), 20},
      {"SLL2", DLT_LINUX_SLL2, Sll2(0x0800, ip), 20},
      {"SLL2 ARP", DLT_LINUX_SLL2, Sll2(0x0806, arp), -1},
      {"SLL2 truncated", DLT_LINUX_SLL2, Concat({0x08, 0x00}, Bytes(17, 0)), -1},
      {"raw", DLT_RAW, ip, 0},
      {"raw IPv6", DLT_RAW, ip6, 0},
      {"raw other version", DLT_RAW, {0x50, 0, 0, 0}, -1},
      {"raw empty", DLT_RAW, {}, -1},
      {"IPv6 link", DLT_IPV6, ip6, 0},
      {"IPv4 link", DLT_IPV4, ip, 0},
      {"IPv4 link short", DLT_IPV4, {0x45, 0x00}, 0},
      {"null little-endian", DLT_NULL, Concat({2, 0, 0, 0}, ip), 4},
      {"null big-endian", DLT_NULL, Concat({0, 0, 0, 2}, ip), 4},
      {"null IPv6 Darwin", DLT_NULL, Concat({30, 0, 0, 0}, ip6), 4},
      {"null IPv6 FreeBSD", DLT_NULL, Concat({28, 0, 0, 0}, ip6), 4},
      {"null IPv6 OpenBSD", DLT_NULL, Concat({0, 0, 0, 24}, ip6), 4},
      {"null with Linux's IPv6 family", DLT_NULL, Concat({10, 0, 0, 0}, ip6), -1},
      {"null truncated", DLT_NULL, {2, 0, 0}, -1},
      {"loop big-endian", DLT_LOOP, Concat({0, 0, 0, 2}, ip), 4},
      {"loop little-endian", DLT_LOOP, Concat({2, 0, 0, 0}, ip), 4},
      {"loop IPv6", DLT_LOOP, Concat({0, 0, 0, 24}, ip6), 4},
      {"unsupported link type", DLT_IEEE802_11, Ethernet({}, 0x0800, ip), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // An exactly sized heap copy, so any read past the captured bytes trips ASan.
    auto copy = std::make_unique<std::uint8_t[]>(c.frame.size() + (c.frame.empty() ? 1 : 0));
    std::copy(c.frame.begin(), c.frame.end(), copy.get());
    const auto packet = StripLinkLayer(c.linkType, copy.get(), c.frame.size());
    ASSERT_EQ(packet.has_value(), c.offset >= 0);
    if (!packet) continue;
    EXPECT_EQ(packet->data(), copy.get() + c.offset);
    EXPECT_EQ(packet->size(), c.frame.size() - static_cast<std::size_t>(c.offset));
  }
  for (const int type : {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_IPV6, DLT_NULL, DLT_LOOP}) {
    EXPECT_TRUE(IsSupportedLinkType(type)) << type;
  }
  EXPECT_FALSE(IsSupportedLinkType(DLT_IEEE802_11_RADIO));
}

}  // namespace
}  // namespace quorvel
