#include <gtest/gtest.h>
#include <pcap/dlt.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/pcap_capture.h"
#include "support/packet_builder.h"
#include "support/pcap_writer.h"

namespace quorvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Collector final : public PacketSink {
 public:
  void OnPacket(const std::uint8_t* data, std::size_t received) override {
    packets.emplace_back(data, data + received);
  }
  std::vector<Bytes> packets;
};

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "quorvel_" + std::to_string(getpid()) + "_" + name;
}

Bytes Packet(std::uint8_t protocol, std::string_view payload) {
  testing::PacketSpec shape;
  shape.source = MakeIpv4(192, 168, 1, 2);
  shape.destination = MakeIpv4(8, 8, 4, 4);
  shape.protocol = protocol;
  shape.sourcePort = 40000;
  shape.destinationPort = 53;
  shape.payload = payload;
  return testing::BuildIpv4Packet(shape);
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

// Dispatches until the source says something other than kPackets.
PacketSource::Next Drain(PacketSource& source, Collector& sink, std::string& error) {
  for (int round = 0; round < 1000; ++round) {
    const auto next = source.Dispatch(sink, error);
    if (next != PacketSource::Next::kPackets) return next;
  }
  return PacketSource::Next::kPackets;
}

TEST(PcapReplay, DeliversEachIpv4PacketWithItsCapturedBytes) {
  const std::string path = TempPath("replay.pcap");
  const Bytes tcp = Packet(6, "GET / HTTP/1.0\r\n\r\n");
  const Bytes udp = Packet(17, "query");
  const Bytes big = Packet(17, std::string(200, 'x'));
  Bytes arp = Bytes(12, 0);
  arp.insert(arp.end(), {0x08, 0x06});
  arp.resize(42, 0x01);
  {
    testing::PcapWriter writer(path, DLT_EN10MB);
    ASSERT_TRUE(writer.ok());
    writer.Write(testing::EthernetFrame(tcp));
    writer.Write(testing::EthernetFrame(udp, 1));
    writer.Write(arp);
    writer.Write(testing::EthernetFrame(big), 14 + 30);  // snapped after 30 bytes of IPv4
  }
  OfflinePacketSourceFactory factory(path);
  OpenedCapture opened = factory.Open(MakeIpv4(1, 2, 3, 4));
  ASSERT_TRUE(opened.source) << opened.error;
  EXPECT_FALSE(opened.promiscuousFailed);
  EXPECT_EQ(opened.source->Name(), path);

  Collector sink;
  std::string error;
  EXPECT_EQ(Drain(*opened.source, sink, error), PacketSource::Next::kEnd);
  EXPECT_EQ(error, "");
  ASSERT_EQ(sink.packets.size(), 3u);
  EXPECT_EQ(sink.packets[0], tcp);
  EXPECT_EQ(sink.packets[1], udp);
  EXPECT_EQ(sink.packets[2], Bytes(big.begin(), big.begin() + 30));
  EXPECT_EQ(opened.source->Stats().received, 4u);  // frames read, the ARP one included
  EXPECT_EQ(opened.source->Dispatch(sink, error), PacketSource::Next::kEnd);
  std::remove(path.c_str());
}

TEST(PcapReplay, LongFilesArriveWholeAcrossBatches) {
  const std::string path = TempPath("long.pcap");
  constexpr int kFrames = 10'000;
  {
    testing::PcapWriter writer(path, DLT_RAW);
    for (int i = 0; i < kFrames; ++i) writer.Write(Packet(17, std::string(static_cast<std::size_t>(i % 50), 'p')));
  }
  OpenedCapture opened = OpenCaptureFile(path);
  ASSERT_TRUE(opened.source) << opened.error;
  Collector sink;
  std::string error;
  EXPECT_EQ(Drain(*opened.source, sink, error), PacketSource::Next::kEnd);
  ASSERT_EQ(sink.packets.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(sink.packets[static_cast<std::size_t>(i)].size(), 28u + static_cast<std::size_t>(i % 50)) << i;
  }
  std::remove(path.c_str());
}

TEST(PcapReplay, InterruptReturnsWithoutLosingPackets) {
  const std::string path = TempPath("interrupt.pcap");
  {
    testing::PcapWriter writer(path, DLT_RAW);
    for (int i = 0; i < 3; ++i) writer.Write(Packet(6, "x"));
  }
  OpenedCapture opened = OpenCaptureFile(path);
  ASSERT_TRUE(opened.source) << opened.error;
  Collector sink;
  std::string error;
  opened.source->Interrupt();
  EXPECT_EQ(opened.source->Dispatch(sink, error), PacketSource::Next::kTimeout);
  EXPECT_EQ(Drain(*opened.source, sink, error), PacketSource::Next::kEnd);
  EXPECT_EQ(sink.packets.size(), 3u);
  std::remove(path.c_str());
}

// A minimal pcapng file: section header, one Ethernet interface, enhanced packet blocks.
Bytes PcapngFile(const std::vector<Bytes>& frames) {
  Bytes file;
  auto put32 = [&](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  auto put16 = [&](std::uint16_t value) {
    file.push_back(static_cast<std::uint8_t>(value));
    file.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  put32(0x0A0D0D0A), put32(28), put32(0x1A2B3C4D), put16(1), put16(0);
  put32(0xFFFFFFFF), put32(0xFFFFFFFF), put32(28);
  put32(1), put32(20), put16(DLT_EN10MB), put16(0), put32(65535), put32(20);
  for (const Bytes& frame : frames) {
    const std::uint32_t padded = (static_cast<std::uint32_t>(frame.size()) + 3) & ~3u;
    const std::uint32_t length = 32 + padded;
    put32(6), put32(length), put32(0), put32(0), put32(0);
    put32(static_cast<std::uint32_t>(frame.size())), put32(static_cast<std::uint32_t>(frame.size()));
    file.insert(file.end(), frame.begin(), frame.end());
    file.resize(file.size() + (padded - frame.size()), 0);
    put32(length);
  }
  return file;
}

TEST(PcapReplay, ReadsPcapngFiles) {
  const std::string path = TempPath("replay.pcapng");
  const Bytes first = Packet(6, "one");
  const Bytes second = Packet(17, "second packet");
  WriteBytes(path, PcapngFile({testing::EthernetFrame(first), testing::EthernetFrame(second, 2)}));
  OpenedCapture opened = OpenCaptureFile(path);
  ASSERT_TRUE(opened.source) << opened.error;
  Collector sink;
  std::string error;
  EXPECT_EQ(Drain(*opened.source, sink, error), PacketSource::Next::kEnd) << error;
  ASSERT_EQ(sink.packets.size(), 2u);
  EXPECT_EQ(sink.packets[0], first);
  EXPECT_EQ(sink.packets[1], second);
  std::remove(path.c_str());
}

TEST(PcapReplay, BadFilesAreRefusedWithAReason) {
  const std::string path = TempPath("bad.pcap");
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"empty", {}},
      {"garbage", Bytes(100, 0x5A)},
      {"half a header", {0xD4, 0xC3, 0xB2, 0xA1, 0x02, 0x00}},
  };
  for (const auto& [name, bytes] : files) {
    WriteBytes(path, bytes);
    OpenedCapture opened = OpenCaptureFile(path);
    EXPECT_FALSE(opened.source) << name;
    EXPECT_EQ(opened.error.rfind("Can't read the capture file " + path + ": ", 0), 0u) << name << ": " << opened.error;
    EXPECT_GT(opened.error.size(), ("Can't read the capture file " + path + ": ").size()) << name;
  }
  const OpenedCapture missing = OpenCaptureFile(TempPath("no-such-file.pcap"));
  EXPECT_FALSE(missing.source);
  EXPECT_NE(missing.error.find("no-such-file.pcap"), std::string::npos);
  std::remove(path.c_str());
}

TEST(PcapReplay, DamagedRecordsEndWithAnErrorAfterTheGoodOnes) {
  const std::string path = TempPath("damaged.pcap");
  const Bytes packet = Packet(17, "payload");
  {
    testing::PcapWriter writer(path, DLT_RAW);
    writer.Write(packet);
    writer.Write(packet);
  }
  const Bytes whole = ReadBytes(path);
  const std::size_t recordBytes = 16 + packet.size();
  ASSERT_EQ(whole.size(), 24 + 2 * recordBytes);

  Bytes cutData(whole.begin(), whole.end() - 5);  // second record's data cut short
  Bytes cutHeader(whole.begin(), whole.begin() + 24 + recordBytes + 7);
  Bytes hugeLength = whole;
  const std::size_t second = 24 + recordBytes;
  for (int i = 0; i < 4; ++i) hugeLength[second + 8 + i] = 0xFF;  // caplen 4 GiB
  for (const Bytes& bytes : {cutData, cutHeader, hugeLength}) {
    WriteBytes(path, bytes);
    OpenedCapture opened = OpenCaptureFile(path);
    ASSERT_TRUE(opened.source) << opened.error;
    Collector sink;
    std::string error;
    EXPECT_EQ(Drain(*opened.source, sink, error), PacketSource::Next::kError);
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(sink.packets.size(), 1u);
    EXPECT_EQ(sink.packets[0], packet);
  }
  std::remove(path.c_str());
}

TEST(PcapReplay, UnsupportedLinkTypeIsRefused) {
  const std::string path = TempPath("radio.pcap");
  { testing::PcapWriter writer(path, DLT_IEEE802_11_RADIO); }
  const OpenedCapture opened = OpenCaptureFile(path);
  EXPECT_FALSE(opened.source);
  EXPECT_NE(opened.error.find("is not supported"), std::string::npos) << opened.error;
  std::remove(path.c_str());
}

}  // namespace
}  // namespace quorvel
