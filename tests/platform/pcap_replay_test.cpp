#include <gtest/gtest.h>
#include <pcap/dlt.h>

#include <fstream>
#include <string>
#include <vector>

#include "persistence/scratch_directory.h"
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

Bytes Packet(std::uint8_t protocol, std::string_view payload) {
  return testing::BuildIpv4Packet({MakeIpv4(192, 168, 1, 2), MakeIpv4(8, 8, 4, 4), protocol, 40000, 53, 5, payload});
}

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class PcapReplay : public ::testing::Test {
 protected:
  // Replays the file to its end or an error: what Dispatch said last, and the packets.
  PacketSource::Next Drain(const std::string& path, Collector& sink, std::string& error) {
    OpenedCapture opened = OpenCaptureFile(path);
    EXPECT_TRUE(opened.source) << opened.error;
    if (!opened.source) return PacketSource::Next::kError;
    for (int round = 0; round < 1000; ++round) {
      const auto next = opened.source->Dispatch(sink, error);
      if (next != PacketSource::Next::kPackets) return next;
    }
    return PacketSource::Next::kPackets;
  }
  std::string Path(const char* name) const { return (dir / name).string(); }

  testing::ScratchDirectory dir;
};

TEST_F(PcapReplay, DeliversEachIpPacketWithItsCapturedBytes) {
  const Bytes tcp = Packet(6, "GET / HTTP/1.0\r\n\r\n");
  const Bytes udp = Packet(17, "query");
  const Bytes big = Packet(17, std::string(200, 'x'));
  Bytes arp(12, 0);
  arp.insert(arp.end(), {0x08, 0x06});
  arp.resize(42, 0x01);
  {
    testing::PcapWriter writer(Path("replay.pcap"), DLT_EN10MB);
    writer.Write(testing::EthernetFrame(tcp));
    writer.Write(testing::EthernetFrame(udp, 1));
    writer.Write(arp);
    writer.Write(testing::EthernetFrame(big), 14 + 30);  // snapped after 30 bytes of IPv4
  }
  OpenedCapture opened = OfflinePacketSourceFactory(Path("replay.pcap")).Open(MakeIpv4(1, 2, 3, 4));
  ASSERT_TRUE(opened.source) << opened.error;
  EXPECT_FALSE(opened.promiscuousFailed);
  EXPECT_EQ(opened.source->Name(), Path("replay.pcap"));
  Collector sink;
  std::string error;
  // Interrupted first: it returns at once, and no packet is lost.
  opened.source->Interrupt();
  EXPECT_EQ(opened.source->Dispatch(sink, error), PacketSource::Next::kTimeout);
  PacketSource::Next next = PacketSource::Next::kPackets;
  while (next == PacketSource::Next::kPackets) next = opened.source->Dispatch(sink, error);
  EXPECT_EQ(next, PacketSource::Next::kEnd);
  EXPECT_EQ(error, "");
  EXPECT_EQ(sink.packets, (std::vector<Bytes>{tcp, udp, Bytes(big.begin(), big.begin() + 30)}));
  EXPECT_EQ(opened.source->Stats().received, 4u);  // frames read, the ARP one included
  EXPECT_EQ(opened.source->Dispatch(sink, error), PacketSource::Next::kEnd);

  // pcapng: section header, one Ethernet interface, enhanced packet blocks.
  std::string pcapng;
  const auto put32 = [&pcapng](std::uint32_t value) { pcapng.append(reinterpret_cast<const char*>(&value), 4); };
  for (const std::uint32_t word : {0x0A0D0D0Au, 28u, 0x1A2B3C4Du, 1u, 0xFFFFFFFFu, 0xFFFFFFFFu, 28u,  //
                                   1u, 20u, static_cast<std::uint32_t>(DLT_EN10MB), 65535u, 20u}) {
    put32(word);
  }
  for (const Bytes& frame : {testing::EthernetFrame(tcp), testing::EthernetFrame(udp, 2)}) {
    const auto size = static_cast<std::uint32_t>(frame.size());
    const std::uint32_t padded = (size + 3) & ~3u;
    for (const std::uint32_t word : {6u, 32 + padded, 0u, 0u, 0u, size, size}) put32(word);
    pcapng += AsText(frame) + std::string(padded - size, '\0');
    put32(32 + padded);
  }
  testing::WriteBytes(dir / "replay.pcapng", pcapng);
  Collector ng;
  EXPECT_EQ(Drain(Path("replay.pcapng"), ng, error), PacketSource::Next::kEnd) << error;
  EXPECT_EQ(ng.packets, (std::vector<Bytes>{tcp, udp}));
}

TEST_F(PcapReplay, LongFilesArriveWholeAcrossBatches) {
  constexpr int kFrames = 10'000;
  {
    testing::PcapWriter writer(Path("long.pcap"), DLT_RAW);
    for (int i = 0; i < kFrames; ++i) writer.Write(Packet(17, std::string(static_cast<std::size_t>(i % 50), 'p')));
  }
  Collector sink;
  std::string error;
  EXPECT_EQ(Drain(Path("long.pcap"), sink, error), PacketSource::Next::kEnd);
  ASSERT_EQ(sink.packets.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(sink.packets[static_cast<std::size_t>(i)].size(), 28u + static_cast<std::size_t>(i % 50)) << i;
  }
}

TEST_F(PcapReplay, BadFilesAreRefusedWithAReason) {
  { testing::PcapWriter writer(Path("radio.pcap"), DLT_IEEE802_11_RADIO); }
  EXPECT_NE(OpenCaptureFile(Path("radio.pcap")).error.find("is not supported"), std::string::npos);
  const std::string prefix = "Can't read the capture file " + Path("bad.pcap") + ": ";
  for (const std::string& bytes : {std::string(), std::string(100, 'Z'), std::string("\xD4\xC3\xB2\xA1\x02\x00", 6)}) {
    testing::WriteBytes(dir / "bad.pcap", bytes);
    const OpenedCapture opened = OpenCaptureFile(Path("bad.pcap"));
    EXPECT_FALSE(opened.source) << bytes.size();
    EXPECT_TRUE(opened.error.starts_with(prefix) && opened.error.size() > prefix.size()) << opened.error;
  }
  const OpenedCapture missing = OpenCaptureFile(Path("no-such-file.pcap"));
  EXPECT_FALSE(missing.source);
  EXPECT_NE(missing.error.find("no-such-file.pcap"), std::string::npos);
}

TEST_F(PcapReplay, DamagedRecordsEndWithAnErrorAfterTheGoodOnes) {
  const Bytes packet = Packet(17, "payload");
  {
    testing::PcapWriter writer(Path("good.pcap"), DLT_RAW);
    writer.Write(packet);
    writer.Write(packet);
  }
  const std::string whole = testing::ReadBytes(dir / "good.pcap");
  const std::size_t second = 24 + 16 + packet.size();
  ASSERT_EQ(whole.size(), second + 16 + packet.size());
  std::string hugeLength = whole;
  hugeLength.replace(second + 8, 4, "\xFF\xFF\xFF\xFF");  // caplen 4 GiB
  // The second record's data cut short, its header cut short, its length impossible.
  for (const std::string& bytes : {whole.substr(0, whole.size() - 5), whole.substr(0, second + 7), hugeLength}) {
    testing::WriteBytes(dir / "damaged.pcap", bytes);
    Collector sink;
    std::string error;
    EXPECT_EQ(Drain(Path("damaged.pcap"), sink, error), PacketSource::Next::kError);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(sink.packets, std::vector<Bytes>{packet});
  }
}

}  // namespace
}  // namespace quorvel
