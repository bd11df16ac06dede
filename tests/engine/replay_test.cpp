// Captures replayed from pcap files the tests write themselves, through the
// same path as live capture.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "engine/monitor.h"
#include "platform/linux/pcap_capture.h"
#include "support/fake_platform.h"
#include "support/name_packets.h"
#include "support/packet_builder.h"
#include "support/pcap_writer.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;
using testing::BuildIpv6Packet;
using testing::EthernetFrame;
using testing::Ipv6;
using Packet = std::vector<std::uint8_t>;

const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const Ipv4Address kRemote = MakeIpv4(198, 18, 0, 2);
const IpAddress kLocal6 = Ipv6("fd00::1");
const IpAddress kRemote6 = Ipv6("2001:db8::2");

std::string Text(const Packet& bytes) { return {bytes.begin(), bytes.end()}; }

class Silent final : public MonitorObserver {
 public:
  void OnWindowTitle(const std::string&) override {}
  void OnCaptureProblem(const std::string& message) override { problems.push_back(message); }
  std::vector<std::string> problems;
};

class ReplayTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // A capture file of that link type, written by `write`.
  std::string File(int linkType, const std::function<void(testing::PcapWriter&)>& write) {
    std::filesystem::create_directories(dir_);
    const std::string path = (dir_ / "replay.pcap").string();
    testing::PcapWriter writer(path, linkType);
    EXPECT_TRUE(writer.ok());
    write(writer);
    return path;
  }
  std::string Ethernet(const std::vector<Packet>& packets) {
    return File(DLT_EN10MB, [&](testing::PcapWriter& writer) {
      for (const auto& packet : packets) writer.Write(EthernetFrame(packet));
    });
  }
  // Replays the file through a monitor watching kLocal and kLocal6.
  void Replay(const std::string& path) {
    OfflinePacketSourceFactory offline(path);
    Platform platform{offline, fakes.owners, fakes.names, fakes.interfaces, fakes.clock};
    state.settings.interfaceAddress = kLocal;
    MonitorOptions options;
    options.runWorker = false;
    Monitor monitor(state, platform, observer, options);
    monitor.Start();
    monitor.WaitForCaptureEnd();
    monitor.Stop();
    seen = monitor.Status().packetsSeen;
  }
  std::uint64_t Total(const FlowKey& key, bool upload) {
    const auto it = state.stats.flows.find(key);
    return it == state.stats.flows.end() ? 0 : upload ? it->second.upload : it->second.download;
  }
  std::string NameOf(const FlowKey& key) {
    const auto flow = state.stats.flows.find(key);
    if (flow == state.stats.flows.end()) return "no flow";
    return flow->second.observedName ? *flow->second.observedName : "";
  }

  const std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("quorvel-replay-" + std::to_string(::getpid()));
  testing::FakePlatform fakes;
  EngineState state;
  Silent observer;
  std::uint64_t seen = 0;
};

// IPv4 and IPv6 side by side in files of every link type the capture reads
// (the parser's and the accountant's own rules have their own tests).
TEST_F(ReplayTest, KnownTotalsAcrossLinkTypes) {
  const IpAddress temporary6 = Ipv6("fd00::abcd:1");
  state.settings.interfaceIpv6Addresses.Set({{kLocal6, 64}, {temporary6, 64}});
  for (const int linkType : {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV6, DLT_NULL}) {
    SCOPED_TRACE(linkType);
    state.stats = TrafficStats{};
    const bool ipv4 = linkType != DLT_IPV6;
    Replay(File(linkType, [&](testing::PcapWriter& writer) {
      const auto write = [&](const Packet& packet) { writer.Write(testing::LinkFrame(linkType, packet)); };
      for (int i = 0; i < 10; ++i) {  // Ethernet frames carry zero to two VLAN tags
        write(BuildIpv6Packet({kLocal6, kRemote6, {}, 6, 40000, 443, true, std::string(20, 'u')}));
        write(BuildIpv6Packet({kRemote6, temporary6, {}, 6, 443, 40001, true, std::string(1000 + i, 'd')}));
        if (ipv4) write(BuildIpv4Packet({kLocal, kRemote, 6, 40000, 80, 5, "GET"}));
      }
      write(BuildIpv6Packet({kRemote6, kLocal6, {{0, 8}}, 58, 0, 0, true, std::string(56, 'p')}));
      if (ipv4) write(BuildIpv4Packet({kRemote, kLocal, 1, 0, 0, 5, std::string(56, 'p')}));
      if (linkType == DLT_EN10MB) {  // ARP never reaches the engine
        Packet arp(42, 0);
        arp[12] = 0x08;
        arp[13] = 0x06;
        writer.Write(arp);
      }
    }));
    EXPECT_TRUE(observer.problems.empty());
    EXPECT_EQ(seen, ipv4 ? 32u : 21u);
    EXPECT_EQ(Total({"TCP protocol: 40000", 40000, kRemote6, 443}, true), 10u * 80);
    EXPECT_EQ(Total({"TCP protocol: 40001", 40001, kRemote6, 443}, false), 10u * 1060 + 45);
    EXPECT_EQ(Total({"ICMPv6 protocol", 0, kRemote6, 0}, false), 40u + 8 + 56);
    EXPECT_EQ(Total({"TCP protocol: 40000", 40000, kRemote, 80}, true), ipv4 ? 10u * 43 : 0);
    EXPECT_EQ(Total({"ICMP protocol", 0, kRemote, 0}, false), ipv4 ? 76u : 0);
    EXPECT_EQ(state.stats.tickUpload, 10u * 80 + (ipv4 ? 10u * 43 : 0));
    EXPECT_EQ(state.stats.tickDownload, 10u * 1060 + 45 + 104 + (ipv4 ? 76 : 0));
    EXPECT_EQ(state.stats.flows.size(), ipv4 ? 5u : 3u);
  }
}

// Frames the file holds only in part: nothing past the captured bytes is read.
TEST_F(ReplayTest, TruncatedFramesNeverReadPastTheirBytes) {
  Replay(File(DLT_EN10MB, [&](testing::PcapWriter& writer) {
    const auto good = BuildIpv4Packet({kRemote, kLocal, 17, 53, 5000, 5, "payload"});  // 35 bytes
    writer.Write(EthernetFrame(good), 14 + 10);  // truncated inside the IPv4 header
    writer.Write(EthernetFrame(good), 14 + 21);  // ports cut off
    writer.Write(EthernetFrame(good), 10);       // not even a link header
    writer.Write(EthernetFrame(BuildIpv4Packet({kRemote, kLocal, 17, 53, 5000, 5, "payload", 9000})));
  }));
  EXPECT_EQ(state.stats.tickDownload, 9000u) << "the length field counts, not the bytes received";
  EXPECT_EQ(state.stats.flows.size(), 1u);
}

TEST_F(ReplayTest, UnreadableFileIsReported) {
  std::filesystem::create_directories(dir_);
  const std::string path = (dir_ / "garbage.pcap").string();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fputs("this is not a capture file", file);
  std::fclose(file);
  Replay(path);
  ASSERT_EQ(observer.problems.size(), 1u);
  EXPECT_NE(observer.problems[0].find(path), std::string::npos);
}

// Names from traffic: DNS answers name addresses for their TTL, a
// connection's own TLS, QUIC or HTTP name wins over them.
TEST_F(ReplayTest, EachNameSourceNamesItsFlows) {
  using testing::ARecord;
  const Ipv4Address resolver = MakeIpv4(198, 18, 0, 53);
  const IpAddress resolver6 = Ipv6("fd00::53");
  const auto remote = [](std::uint8_t last) { return MakeIpv4(198, 19, 0, last); };
  // A TCP packet whose header carries 12 bytes of options, as most do.
  const auto withOptions = [](Ipv4Address to, std::uint16_t from, std::uint16_t port, const std::string& payload) {
    auto packet = BuildIpv4Packet({kLocal, to, 6, from, port, 5, payload});
    packet.insert(packet.begin() + 40, 12, 0x01);  // NOP options
    packet[32] = 0x80;
    packet[2] = static_cast<std::uint8_t>(packet.size() >> 8);
    packet[3] = static_cast<std::uint8_t>(packet.size());
    return packet;
  };
  // A segment of `payload` from offset `from` on, with that TCP sequence number.
  const auto segment = [](Ipv4Address to, const Packet& payload, std::size_t from, std::size_t end) {
    auto packet =
        BuildIpv4Packet({kLocal, to, 6, 41010, 443, 5, std::string(payload.begin() + from, payload.begin() + end)});
    for (int i = 0; i < 4; ++i) packet[24 + i] = static_cast<std::uint8_t>((1000 + from) >> (24 - 8 * i));
    return packet;
  };
  const auto hello = [](std::optional<std::string> name, bool tls13 = true) {
    return Text(testing::TlsRecord(testing::BuildClientHello(std::move(name), tls13)));
  };
  const auto dns = testing::BuildDnsResponse(
      "www.Example.com", {testing::CnameRecord("www.Example.com", "edge.cdn.test"),
                          ARecord("edge.cdn.test", 198, 19, 0, 10, 30), ARecord("edge.cdn.test", 198, 19, 0, 11, 30)});
  const auto tcpDns = testing::BuildDnsResponse("tcp.example", {ARecord("tcp.example", 198, 19, 0, 30, 7200)});
  testing::DnsRecordSpec aaaa{"v6.example", 28, 300, {}, {}};
  aaaa.data.assign(kRemote6.bytes.begin(), kRemote6.bytes.end());
  // ClientHellos whose server name comes only in their second packet.
  const auto longHello = testing::TlsRecord(testing::BuildClientHello("long.example", true, 1500));
  const auto longQuic = testing::BuildClientHello("longquic.example", true, 1500);
  const Packet dcid = {1, 1, 2, 3, 5, 8, 13, 21};
  const auto initial = [&](std::uint64_t number, std::size_t from, std::size_t end) {
    return Text(testing::BuildQuicClientInitial(
        dcid, number, testing::CryptoFrame(from, Packet(longQuic.begin() + from, longQuic.begin() + end))));
  };
  state.settings.interfaceIpv6Addresses.Set({{kLocal6, 64}});
  Replay(Ethernet({
      BuildIpv4Packet({resolver, kLocal, 17, 53, 40000, 5, Text(dns)}),
      BuildIpv4Packet(
          {resolver, kLocal, 6, 53, 40001, 5, std::string{0, static_cast<char>(tcpDns.size())} + Text(tcpDns)}),
      BuildIpv4Packet({kLocal, remote(10), 1, 0, 0, 5, "ping"}),
      withOptions(remote(11), 41000, 443, hello("api.example.net")),
      BuildIpv4Packet({kLocal, remote(11), 6, 41001, 443, 5, hello(std::nullopt, false)}),
      BuildIpv4Packet({kLocal, remote(20), 6, 41002, 443, 5, hello("shop.example.org", false)}),
      withOptions(remote(21), 41003, 8080, "GET / HTTP/1.1\r\nHost: web.example:8080\r\n\r\n"),
      BuildIpv4Packet({kLocal, remote(22), 17, 41004, 443, 5,
                       Text(testing::BuildQuicClientInitial(
                           {9, 8, 7, 6, 5, 4, 3, 2}, 0,
                           testing::CryptoFrame(0, testing::BuildClientHello("quic.example", true))))}),
      BuildIpv4Packet({kLocal, remote(30), 6, 41005, 22, 5, "SSH-2.0-x"}),
      BuildIpv4Packet({kLocal, remote(40), 17, 41006, 9999, 5, "plain"}),
      segment(remote(50), longHello, 0, 1400),
      segment(remote(50), longHello, 0, 1400),  // a retransmission is skipped
      segment(remote(50), longHello, 1400, longHello.size()),
      BuildIpv4Packet({kLocal, remote(51), 17, 41011, 443, 5, initial(0, 0, 1000)}),
      BuildIpv4Packet({kLocal, remote(51), 17, 41011, 443, 5, initial(1, 1000, longQuic.size())}),
      // Names are what this computer asked: a request coming in names nothing.
      BuildIpv4Packet({remote(41), kLocal, 6, 41007, 80, 5, "GET / HTTP/1.1\r\nHost: me.example\r\n\r\n"}),
      BuildIpv6Packet(
          {resolver6, kLocal6, {}, 17, 53, 40002, true, Text(testing::BuildDnsResponse("v6.example", {aaaa}))}),
      BuildIpv6Packet({kLocal6, kRemote6, {}, 6, 41020, 22, true, "SSH-2.0-x"}),
  }));
  const std::pair<FlowKey, const char*> cases[] = {
      {{"ICMP protocol", 0, remote(10), 0}, "www.example.com"},
      {{"TCP protocol: 41000", 41000, remote(11), 443}, "api.example.net"},
      {{"TCP protocol: 41001", 41001, remote(11), 443}, "www.example.com"},
      {{"TCP protocol: 41002", 41002, remote(20), 443}, "shop.example.org"},
      {{"TCP protocol: 41003", 41003, remote(21), 8080}, "web.example"},
      {{"UDP protocol: 41004", 41004, remote(22), 443}, "quic.example"},
      {{"TCP protocol: 41005", 41005, remote(30), 22}, "tcp.example"},
      {{"UDP protocol: 41006", 41006, remote(40), 9999}, ""},
      {{"TCP protocol: 80", 80, remote(41), 41007}, ""},
      {{"TCP protocol: 41010", 41010, remote(50), 443}, "long.example"},
      {{"UDP protocol: 41011", 41011, remote(51), 443}, "longquic.example"},
      {{"TCP protocol: 41020", 41020, kRemote6, 22}, "v6.example"},
  };
  for (const auto& [key, name] : cases) EXPECT_EQ(NameOf(key), name) << IpToText(key.remoteAddress);

  // A 30-second answer is held ten minutes: a flow starting later is unnamed.
  fakes.clock.Advance(599'000);
  Replay(Ethernet({BuildIpv4Packet({kLocal, remote(10), 17, 42000, 9, 5, "x"})}));
  fakes.clock.Advance(1'000);
  Replay(Ethernet({BuildIpv4Packet({kLocal, remote(10), 17, 42001, 9, 5, "x"}),
                   BuildIpv4Packet({kLocal, remote(30), 17, 42002, 9, 5, "x"})}));
  EXPECT_EQ(NameOf({"UDP protocol: 42000", 42000, remote(10), 9}), "www.example.com");
  EXPECT_EQ(NameOf({"UDP protocol: 42001", 42001, remote(10), 9}), "");
  EXPECT_EQ(NameOf({"UDP protocol: 42002", 42002, remote(30), 9}), "tcp.example");
  EXPECT_EQ(NameOf({"ICMP protocol", 0, remote(10), 0}), "www.example.com") << "a flow keeps the name it started with";
}

// The headless tool over the same path, built beside this program's folder.
std::string RunFlowsTool(const std::string& arguments, int& status) {
  const auto tool = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "quorvel-flows";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((tool.string() + " " + arguments + " 2>&1").c_str(), "r"), pclose);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
  status = WEXITSTATUS(pclose(pipe.release()));
  return output;
}

TEST_F(ReplayTest, FlowsToolPrintsTheTableInKeyOrderAndRefusesBadArguments) {
  int status = -1;
  if (RunFlowsTool("--bogus", status).find("unknown argument") == std::string::npos) {
    GTEST_SKIP() << "quorvel-flows is not built";
  }
  const std::string path = Ethernet({
      BuildIpv4Packet({kLocal, kRemote, 17, 6000, 53, 5, "q"}),
      BuildIpv4Packet({kRemote, kLocal, 17, 53, 6000, 5, "answer"}),
      BuildIpv4Packet({kRemote, kLocal, 1, 0, 0, 5, "ping"}),
      BuildIpv6Packet({Ipv6("fd00:1::1"), Ipv6("2001:db8:1::9"), {}, 17, 6000, 53}),
      BuildIpv6Packet({Ipv6("fd00:1::1"), Ipv6("2001:db8::9"), {}, 17, 6000, 53}),
      BuildIpv6Packet({Ipv6("fd00:1::1"), Ipv6("fd00:1:2::5"), {}, 17, 6000, 53}),
      BuildIpv6Packet({Ipv6("2001:db8::9"), Ipv6("fd00:1::1"), {}, 58}),
  });
  const std::string heading = "# local source\tlocal port\tremote address\tremote port\tDL bytes\tUL bytes\n";
  const std::string ipv4 = "ICMP protocol\t0\t198.18.0.2\t0\t24\t0\nUDP protocol: 6000\t6000\t198.18.0.2\t53\t34\t29\n";
  EXPECT_EQ(RunFlowsTool("--pcap " + path + " --address 198.18.0.1", status), heading + ipv4);
  EXPECT_EQ(status, 0);
  // IPv6 addresses join the set; remote addresses go IPv4 first, then IPv6 by their bytes.
  EXPECT_EQ(RunFlowsTool("--pcap " + path + " --address fd00:1::1 --address 198.18.0.1", status),
            heading +
                "ICMP protocol\t0\t198.18.0.2\t0\t24\t0\n"
                "ICMPv6 protocol\t0\t2001:db8::9\t0\t40\t0\n"
                "UDP protocol: 6000\t6000\t198.18.0.2\t53\t34\t29\n"
                "UDP protocol: 6000\t6000\t2001:db8::9\t53\t0\t48\n"
                "UDP protocol: 6000\t6000\t2001:db8:1::9\t53\t0\t48\n"
                "UDP protocol: 6000\t6000\tfd00:1:2::5\t53\t0\t48\n");
  // With the LAN hidden, the prefix decides which IPv6 remotes are local.
  for (const auto& [prefix, rows] : {std::pair<std::string, int>{"", 3}, {"--prefix 32 ", 2}, {"--prefix 0 ", 0}}) {
    const std::string output = RunFlowsTool("--pcap " + path + " --no-lan " + prefix + "--address fd00:1::1", status);
    int udp = 0;
    for (std::size_t at = output.find("\nUDP"); at != std::string::npos; at = output.find("\nUDP", at + 1)) ++udp;
    EXPECT_EQ(udp, rows) << prefix << output;
  }
  const std::pair<const char*, const char*> bad[] = {
      {"", "usage"},
      {"--pcap /nonexistent/file.pcap --address 198.18.0.1", "/nonexistent/file.pcap"},
      {"--pcap x.pcap", "--address"},
      {"--live --address 300.1.2.3", "not an IPv4 or IPv6 address"},
      {"--pcap x.pcap --address 10.0.0.1 --address 10.0.0.2", "one IPv4 address"},
      {"--pcap x.pcap --address fd00::1 --prefix 129", "--prefix"},
      {"--pcap x.pcap --address fd00::1 --interface eth0", "--interface goes with --live"},
      {"--live --interface no-such-interface-here", "no interface no-such-interface-here"},
      {"--live --seconds -4", "--seconds"},
      {"--bogus", "unknown argument"},
  };
  for (const auto& [arguments, mention] : bad) {
    const std::string message = RunFlowsTool(arguments, status);
    EXPECT_EQ(status, 2) << arguments;
    EXPECT_NE(message.find(mention), std::string::npos) << arguments << ": " << message;
  }
}

}  // namespace
}  // namespace quorvel
