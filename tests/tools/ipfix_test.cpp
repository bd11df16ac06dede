#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tools/export/ipfix_encoder.h"
#include "tools/export/ipfix_exporter.h"
#include "support/packet_builder.h"
#include "support/pcap_writer.h"

namespace quorvel::ipfix {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

std::uint32_t Read32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// One template record: its id, then the addresses' elements and length,
// then the fields both families share.
std::string TemplateRecord(int id, int source, int destination, int length) {
  return Bytes({0x01, id, 0x00, 0x0C,  // template id, 12 fields
                0x00, source, 0x00, length, 0x00, destination, 0x00, length}) +
         Bytes({
             0x00, 0x07, 0x00, 0x02,  // sourceTransportPort
             0x00, 0x0B, 0x00, 0x02,  // destinationTransportPort
             0x00, 0x04, 0x00, 0x01,  // protocolIdentifier
             0x00, 0x98, 0x00, 0x08,  // flowStartMilliseconds
             0x00, 0x99, 0x00, 0x08,  // flowEndMilliseconds
             0x00, 0x01, 0x00, 0x08,  // octetDeltaCount
             0x00, 0x02, 0x00, 0x08,  // packetDeltaCount
             0x80, 0x01, 0x00, 0x08, 0x00, 0x00, 0x72, 0x79,  // reverse octetDeltaCount (PEN 29305)
             0x80, 0x02, 0x00, 0x08, 0x00, 0x00, 0x72, 0x79,  // reverse packetDeltaCount
             0x00, 0x60, 0xFF, 0xFF,  // applicationName, variable length
         });
}

// One IPv4 TCP flow from 198.18.0.1:40000 to 198.18.5.7:443.
FlowRecord Sample(std::int64_t start, std::int64_t end, std::uint64_t downloadOctets, std::string name) {
  FlowRecord record;
  record.localAddress = MakeIpv4(198, 18, 0, 1);
  record.remoteAddress = MakeIpv4(198, 18, 5, 7);
  record.localPort = 40000;
  record.remotePort = 443;
  record.protocol = 6;
  record.startMilliseconds = start;
  record.endMilliseconds = end;
  record.uploadOctets = 212;
  record.uploadPackets = 3;
  record.downloadOctets = downloadOctets;
  record.downloadPackets = 2;
  record.applicationName = std::move(name);
  return record;
}

TEST(IpfixTest, TemplateSetIsByteExact) {
  // 256: sourceIPv4Address 8, destinationIPv4Address 12; 257: sourceIPv6Address
  // 27, destinationIPv6Address 28.
  const std::string expected = Bytes({0x00, 0x02, 0x00, 0x7C}) + TemplateRecord(0x00, 8, 12, 4) +
                               TemplateRecord(0x01, 27, 28, 16);
  EXPECT_EQ(TemplateSet(), expected);
  MessageBuilder builder(7);
  EXPECT_EQ(builder.TemplateMessage(0x01020304),
            Bytes({0x00, 0x0A, 0x00, 0x8C, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0, 0, 0, 7}) + expected);
}

TEST(IpfixTest, DataRecordsAreByteExactAndSequencesCountRecords) {
  FlowRecord record = Sample(0x0102030405, 0x0102030406, 0x1'0000'0000, "curl(7): 40000");
  MessageBuilder builder(1);
  const auto one = builder.DataMessages({record}, 100);
  ASSERT_EQ(one.size(), 1u);
  const std::string recordBytes =
      Bytes({198, 18, 0, 1, 198, 18, 5, 7, 0x9C, 0x40, 0x01, 0xBB, 6, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0, 1, 2, 3, 4, 6,
             0, 0, 0, 0, 0, 0, 0, 212, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 14}) +
      "curl(7): 40000";
  EXPECT_EQ(one[0], Bytes({0x00, 0x0A, 0x00, 0x60, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 1, 0x01, 0x00, 0x00, 0x50}) +
                        recordBytes);

  // Many records: messages stay under the bound and each carries the count
  // of records sent before it; a long name is cut on a character boundary.
  record.applicationName = std::string(253, 'a') + "\xC3\xA9";
  const auto many = builder.DataMessages(std::vector<FlowRecord>(40, record), 100);
  std::uint32_t before = 1;
  for (const std::string& message : many) {
    EXPECT_LE(message.size(), kMaxMessageBytes);
    EXPECT_EQ(Read32(message, 8), before);
    const std::size_t records = (message.size() - 20) / (62 + 253);
    EXPECT_EQ((message.size() - 20) % (62 + 253), 0u) << "253 name bytes and their length byte";
    before += static_cast<std::uint32_t>(records);
  }
  EXPECT_EQ(before, 41u);
  EXPECT_EQ(builder.Sequence(), 41u);

  // IPv6 records go in sets of their own template, never mixed with IPv4.
  FlowRecord six = record;
  six.localAddress = *ParseIp("2001:db8::1");
  six.remoteAddress = *ParseIp("2001:db8::5:7");
  six.applicationName = "a";
  record.applicationName = "a";
  const auto mixed = builder.DataMessages({record, six, six}, 100);
  ASSERT_EQ(mixed.size(), 2u);
  EXPECT_EQ(mixed[0].substr(16, 2), Bytes({0x01, 0x00}));
  EXPECT_EQ(mixed[0].size(), 20u + 62 + 1);
  EXPECT_EQ(mixed[1].substr(16, 2), Bytes({0x01, 0x01}));
  ASSERT_EQ(mixed[1].size(), 20u + 2 * (86 + 1));
  EXPECT_EQ(mixed[1].substr(20, 32), Bytes({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                                            0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 7}));
  EXPECT_EQ(Read32(mixed[1], 8), 42u);
}

std::pair<FlowKey, TrafficFlow> Flow(std::uint64_t upPackets, std::uint64_t downPackets, std::int64_t firstMs,
                                     std::int64_t lastMs) {
  TrafficFlow flow;
  flow.uploadPackets = upPackets;
  flow.upload = upPackets * 100;
  flow.downloadPackets = downPackets;
  flow.download = downPackets * 1000;
  flow.firstMicroseconds = firstMs * 1000;
  flow.lastMicroseconds = lastMs * 1000;
  return {FlowKey{"app(1): 5", 5, MakeIpv4(198, 18, 0, 9), 80}, flow};
}

TEST(IpfixTest, RecordsEndAtIdleActiveAndFinal) {
  // The record due, if any: start, end, upload packets, download packets.
  using Due = std::optional<std::tuple<std::int64_t, std::int64_t, std::uint64_t, std::uint64_t>>;
  const std::tuple<std::int64_t, std::pair<FlowKey, TrafficFlow>, bool, Due> steps[] = {
      {1'000, Flow(1, 0, 500, 500), false, {}},                                  // fresh, nothing due
      {15'499, Flow(1, 0, 500, 500), false, {}},                                 // idle 14.999 s
      {15'500, Flow(1, 0, 500, 500), false, {{500, 500, 1, 0}}},                 // idle 15 s
      {16'500, Flow(1, 0, 500, 500), false, {}},                                 // no news
      {30'000, Flow(3, 2, 500, 29'800), false, {}},                              // opens after the last snapshot
      {76'499, Flow(9, 9, 500, 76'400), false, {}},                              // active 59.999 s
      {76'500, Flow(10, 9, 500, 76'450), false, {{16'500, 76'450, 9, 9}}},       // active 60 s since 16.5 s
      {90'500, Flow(12, 10, 500, 90'400), true, {{76'500, 90'400, 2, 1}}},       // at exit
      {91'000, Flow(12, 10, 500, 90'400), true, {}},                             // nothing new at exit
  };
  RecordTracker tracker(Timeouts{});
  for (const auto& [now, flow, final, due] : steps) {
    SCOPED_TRACE(now);
    const auto records = tracker.Due({flow}, now, final);
    ASSERT_EQ(records.size(), due ? 1u : 0u);
    if (!due) continue;
    const FlowRecord& r = records[0];
    EXPECT_EQ(Due({r.startMilliseconds, r.endMilliseconds, r.uploadPackets, r.downloadPackets}), due);
    EXPECT_EQ(std::tuple(r.uploadOctets, r.downloadOctets, r.applicationName),
              std::tuple(r.uploadPackets * 100, r.downloadPackets * 1000, "app(1): 5"));
  }
}

// Wireshark's IPFIX decoder, given the messages as UDP datagrams, names
// every element of the template and the record's values.
TEST(IpfixTest, WiresharkDecodesTheTemplateAndTheRecords) {
  if (std::system("command -v tshark >/dev/null") != 0) GTEST_SKIP() << "tshark is not installed";
  const FlowRecord record = Sample(1'700'000'000'250, 1'700'000'010'999, 2200, "Web Content(7): 40000");
  MessageBuilder builder(1);
  const std::string file = ::testing::TempDir() + "ipfix-" + std::to_string(::getpid()) + ".pcap";
  {
    testing::PcapWriter writer(file, DLT_RAW);
    ASSERT_TRUE(writer.ok());
    std::vector<std::string> messages = {builder.TemplateMessage(1'700'000'011)};
    FlowRecord six = record;
    six.localAddress = *ParseIp("2001:db8::1");
    six.remoteAddress = *ParseIp("2001:db8::5:7");
    for (const std::string& data : builder.DataMessages({record, six}, 1'700'000'011)) messages.push_back(data);
    for (const std::string& message : messages) {
      std::vector<std::uint8_t> packet = testing::BuildIpv4Packet(
          {MakeIpv4(127, 0, 0, 1), MakeIpv4(127, 0, 0, 1), 17, 50000, 4739, 5, message});
      const std::size_t udpLength = 8 + message.size();
      packet[24] = static_cast<std::uint8_t>(udpLength >> 8);
      packet[25] = static_cast<std::uint8_t>(udpLength);
      writer.Write(packet);
    }
  }
  const std::string command = "TZ=UTC tshark -r '" + file + "' -d udp.port==4739,cflow -V 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string decoded;
  char buffer[4096];
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) decoded.append(buffer, got);
  ::pclose(pipe);
  ::unlink(file.c_str());
  for (const char* line : {"SrcAddr: 198.18.0.1", "DstAddr: 198.18.5.7", "SrcAddr: 2001:db8::1",
                           "DstAddr: 2001:db8::5:7", "SrcPort: 40000", "DstPort: 443",
                           "Protocol: TCP (6)", "StartTime: Nov 14, 2023 22:13:20.250000000 UTC",
                           "EndTime: Nov 14, 2023 22:13:30.999000000 UTC", "Octets: 212\n", "Packets: 3\n",
                           "Octets: 2200 (Reverse Type 1 BYTES)", "Packets: 2 (Reverse Type 2 PKTS)",
                           "ApplicationName: Web Content(7): 40000"}) {
    EXPECT_NE(decoded.find(line), std::string::npos) << line << "\n" << decoded;
  }
  EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded;
}

TEST(IpfixTest, ExporterSendsTemplatesAtStartAndEveryTenMinutes) {
  const int collector = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(collector, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(collector, reinterpret_cast<sockaddr*>(&address), &length), 0);
  // Loopback delivers a datagram before send returns, so a non-blocking read sees it or nothing.
  const auto received = [collector] {
    char buffer[2048];
    const ssize_t got = ::recv(collector, buffer, sizeof buffer, MSG_DONTWAIT);
    return got < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(got));
  };
  const std::int64_t start = 1'700'000'000'000;
  Exporter exporter(Timeouts{});
  ASSERT_TRUE(exporter.Open("127.0.0.1:" + std::to_string(ntohs(address.sin_port)), start).ok);
  EXPECT_EQ(received().substr(16), TemplateSet());
  exporter.Tick({}, start + Exporter::kTemplateIntervalMilliseconds - 1);
  EXPECT_EQ(received(), "");
  exporter.Tick({}, start + Exporter::kTemplateIntervalMilliseconds);
  EXPECT_EQ(received().substr(16), TemplateSet());
  EXPECT_EQ(received(), "");
  ::close(collector);
}

}  // namespace
}  // namespace quorvel::ipfix
