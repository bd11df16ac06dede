#include "platform/linux/link_layer.h"

#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <memory>
#include <string>
#include <vector>

#include "support/packet_builder.h"
#include "support/pcap_writer.h"

namespace quorvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Ipv4() {
  testing::PacketSpec shape;
  shape.source = MakeIpv4(10, 0, 0, 1);
  shape.destination = MakeIpv4(10, 0, 0, 2);
  shape.protocol = 17;
  shape.payload = "abc";
  return testing::BuildIpv4Packet(shape);
}

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

Bytes EthernetWithType(std::uint16_t type, const Bytes& payload) {
  Bytes frame(12, 0xAA);
  frame.push_back(static_cast<std::uint8_t>(type >> 8));
  frame.push_back(static_cast<std::uint8_t>(type));
  return Concat(frame, payload);
}

Bytes TaggedEthernet(const std::vector<std::uint16_t>& tagTypes, std::uint16_t type, const Bytes& payload) {
  Bytes frame(12, 0xAA);
  for (const std::uint16_t tag : tagTypes) {
    frame.insert(frame.end(), {static_cast<std::uint8_t>(tag >> 8), static_cast<std::uint8_t>(tag), 0x00, 0x05});
  }
  frame.push_back(static_cast<std::uint8_t>(type >> 8));
  frame.push_back(static_cast<std::uint8_t>(type));
  return Concat(frame, payload);
}

Bytes Sll(std::uint16_t protocol, const Bytes& payload) {
  Bytes header(16, 0);
  header[1] = 4;  // sent by us
  header[14] = static_cast<std::uint8_t>(protocol >> 8);
  header[15] = static_cast<std::uint8_t>(protocol);
  return Concat(header, payload);
}

Bytes Sll2(std::uint16_t protocol, const Bytes& payload) {
  Bytes header(20, 0);
  header[0] = static_cast<std::uint8_t>(protocol >> 8);
  header[1] = static_cast<std::uint8_t>(protocol);
  return Concat(header, payload);
}

Bytes Family(Bytes family, const Bytes& payload) { return Concat(std::move(family), payload); }

struct Case {
  std::string name;
  int linkType;
  Bytes frame;
  int offset;  // where the IP packet starts; -1: nothing expected
};

class LinkLayerTest : public ::testing::TestWithParam<Case> {};

TEST_P(LinkLayerTest, FindsTheIpPacketOrNothing) {
  const Case& c = GetParam();
  // An exactly sized heap copy, so any read past the captured bytes trips ASan.
  auto copy = std::make_unique<std::uint8_t[]>(c.frame.size() + (c.frame.empty() ? 1 : 0));
  std::copy(c.frame.begin(), c.frame.end(), copy.get());
  const auto packet = StripLinkLayer(c.linkType, copy.get(), c.frame.size());
  if (c.offset < 0) {
    EXPECT_FALSE(packet.has_value());
    return;
  }
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(packet->data(), copy.get() + c.offset);
  EXPECT_EQ(packet->size(), c.frame.size() - static_cast<std::size_t>(c.offset));
}

const Bytes kIp = Ipv4();
const Bytes kIpv6 = [] {
  Bytes packet(40, 0);
  packet[0] = 0x60;
  return packet;
}();
const Bytes kArp(28, 0x01);

INSTANTIATE_TEST_SUITE_P(
    Frames, LinkLayerTest,
    ::testing::Values(
        Case{"EthernetIpv4", DLT_EN10MB, EthernetWithType(0x0800, kIp), 14},
        Case{"EthernetOneVlanTag", DLT_EN10MB, TaggedEthernet({0x8100}, 0x0800, kIp), 18},
        Case{"EthernetQinQ", DLT_EN10MB, TaggedEthernet({0x88A8, 0x8100}, 0x0800, kIp), 22},
        Case{"EthernetOldQinQ", DLT_EN10MB, TaggedEthernet({0x9100, 0x8100}, 0x0800, kIp), 22},
        Case{"EthernetThreeTagsRefused", DLT_EN10MB, TaggedEthernet({0x88A8, 0x8100, 0x8100}, 0x0800, kIp), -1},
        Case{"EthernetArp", DLT_EN10MB, EthernetWithType(0x0806, kArp), -1},
        Case{"EthernetIpv6", DLT_EN10MB, EthernetWithType(0x86DD, kIpv6), 14},
        Case{"EthernetVlanIpv6", DLT_EN10MB, TaggedEthernet({0x8100}, 0x86DD, kIpv6), 18},
        Case{"EthernetQinQIpv6", DLT_EN10MB, TaggedEthernet({0x88A8, 0x8100}, 0x86DD, kIpv6), 22},
        Case{"EthernetVlanArp", DLT_EN10MB, TaggedEthernet({0x8100}, 0x0806, kArp), -1},
        Case{"EthernetTruncatedHeader", DLT_EN10MB, Bytes(13, 0), -1},
        Case{"EthernetHeaderOnly", DLT_EN10MB, EthernetWithType(0x0800, {}), -1},
        Case{"EthernetOneIpByte", DLT_EN10MB, EthernetWithType(0x0800, {0x45}), 14},
        Case{"EthernetTagCutInside", DLT_EN10MB, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0x00, 0x00}, -1},
        Case{"EthernetEmpty", DLT_EN10MB, Bytes{}, -1},
        Case{"SllIpv4", DLT_LINUX_SLL, Sll(0x0800, kIp), 16},
        Case{"SllIpv6", DLT_LINUX_SLL, Sll(0x86DD, kIpv6), 16},
        Case{"Sll2Ipv6", DLT_LINUX_SLL2, Sll2(0x86DD, kIpv6), 20},
        Case{"SllTruncated", DLT_LINUX_SLL, Bytes(15, 0), -1},
        Case{"Sll2Ipv4", DLT_LINUX_SLL2, Sll2(0x0800, kIp), 20},
        Case{"Sll2Arp", DLT_LINUX_SLL2, Sll2(0x0806, kArp), -1},
        Case{"Sll2Truncated", DLT_LINUX_SLL2, Bytes{0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, -1},
        Case{"RawIpv4", DLT_RAW, kIp, 0},
        Case{"RawIpv6", DLT_RAW, kIpv6, 0},
        Case{"RawOtherVersion", DLT_RAW, Bytes{0x50, 0, 0, 0}, -1},
        Case{"Ipv6Link", DLT_IPV6, kIpv6, 0},
        Case{"RawEmpty", DLT_RAW, Bytes{}, -1},
        Case{"Ipv4Link", DLT_IPV4, kIp, 0},
        Case{"Ipv4LinkShort", DLT_IPV4, Bytes{0x45, 0x00}, 0},
        Case{"NullLittleEndian", DLT_NULL, Family({2, 0, 0, 0}, kIp), 4},
        Case{"NullBigEndian", DLT_NULL, Family({0, 0, 0, 2}, kIp), 4},
        Case{"NullIpv6Darwin", DLT_NULL, Family({30, 0, 0, 0}, kIpv6), 4},
        Case{"NullIpv6FreeBsd", DLT_NULL, Family({28, 0, 0, 0}, kIpv6), 4},
        Case{"NullIpv6OpenBsd", DLT_NULL, Family({0, 0, 0, 24}, kIpv6), 4},
        Case{"NullLinuxIpv6FamilyRefused", DLT_NULL, Family({10, 0, 0, 0}, kIpv6), -1},
        Case{"NullTruncated", DLT_NULL, Bytes{2, 0, 0}, -1},
        Case{"LoopBigEndian", DLT_LOOP, Family({0, 0, 0, 2}, kIp), 4},
        Case{"LoopLittleEndian", DLT_LOOP, Family({2, 0, 0, 0}, kIp), 4},
        Case{"LoopIpv6", DLT_LOOP, Family({0, 0, 0, 24}, kIpv6), 4},
        Case{"UnsupportedLinkType", DLT_IEEE802_11, EthernetWithType(0x0800, kIp), -1}),
    [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

TEST(LinkLayerSupport, NamesTheHandledTypes) {
  for (const int type : {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_IPV6, DLT_NULL, DLT_LOOP}) {
    EXPECT_TRUE(IsSupportedLinkType(type)) << type;
  }
  EXPECT_FALSE(IsSupportedLinkType(DLT_IEEE802_11_RADIO));
}

TEST(LinkLayerSupport, MatchesTheTestFrameBuilder) {
  for (int tags = 0; tags <= 2; ++tags) {
    const Bytes frame = testing::EthernetFrame(kIp, tags);
    const auto packet = StripLinkLayer(DLT_EN10MB, frame.data(), frame.size());
    ASSERT_TRUE(packet.has_value()) << tags;
    EXPECT_EQ(Bytes(packet->begin(), packet->end()), kIp);
  }
}

}  // namespace
}  // namespace quorvel
