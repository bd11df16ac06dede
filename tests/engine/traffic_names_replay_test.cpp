// Names from replayed traffic: DNS answers name addresses for their TTL, a
// connection's own TLS, QUIC or HTTP name wins over them.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <memory>
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
using testing::EthernetFrame;

const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const Ipv4Address kResolver = MakeIpv4(198, 18, 0, 53);

const IpAddress kLocal6 = testing::Ipv6("fd00:1::1");
const IpAddress kResolver6 = testing::Ipv6("fd00:1::53");
const IpAddress kRemote6 = testing::Ipv6("fd00:2::10");

Ipv4Address Remote(std::uint8_t last) { return MakeIpv4(198, 19, 0, last); }

std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// A TCP packet whose header carries 12 bytes of options, as most do.
std::vector<std::uint8_t> TcpWithOptions(Ipv4Address to, std::uint16_t from, std::uint16_t port,
                                         const std::string& payload) {
  auto packet = BuildIpv4Packet({kLocal, to, 6, from, port, 5, payload});
  packet.insert(packet.begin() + 40, 12, 0x01);  // NOP options
  packet[32] = 0x80;
  packet[2] = static_cast<std::uint8_t>(packet.size() >> 8);
  packet[3] = static_cast<std::uint8_t>(packet.size());
  return packet;
}

// Runs the headless tool built beside this test program's folder.
std::string RunFlowsTool(const std::string& arguments) {
  const auto tool = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "quorvel-flows";
  if (!std::filesystem::exists(tool)) return "not built";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((tool.string() + " " + arguments + " 2>&1").c_str(), "r"), pclose);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
  return output;
}

// A packet of `payload` from offset `from` on, with that TCP sequence number.
std::vector<std::uint8_t> Segment(Ipv4Address to, std::uint16_t port, const std::vector<std::uint8_t>& payload,
                                  std::size_t from, std::size_t to_) {
  const std::string part(payload.begin() + static_cast<std::ptrdiff_t>(from),
                         payload.begin() + static_cast<std::ptrdiff_t>(to_));
  auto packet = BuildIpv4Packet({kLocal, to, 6, 41010, port, 5, part});
  for (int i = 0; i < 4; ++i) packet[24 + i] = static_cast<std::uint8_t>((1000 + from) >> (24 - 8 * i));
  return packet;
}

class Silent final : public MonitorObserver {
 public:
  void OnWindowTitle(const std::string&) override {}
  void OnCaptureProblem(const std::string&) override {}
};

class TrafficNamesReplayTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::vector<std::vector<std::uint8_t>>& packets) {
    std::filesystem::create_directories(dir_);
    const std::string path = (dir_ / "names.pcap").string();
    testing::PcapWriter writer(path, DLT_EN10MB);
    for (const auto& packet : packets) writer.Write(EthernetFrame(packet));
    return path;
  }
  void Replay(const std::vector<std::vector<std::uint8_t>>& packets) {
    const std::string path = Write(packets);
    OfflinePacketSourceFactory offline(path);
    Platform platform{offline, fakes.owners, fakes.names, fakes.interfaces, fakes.clock};
    state.settings.interfaceAddress = kLocal;
    state.settings.interfaceIpv6Addresses.Set({{kLocal6, 64}});
    MonitorOptions options;
    options.runWorker = false;
    Monitor monitor(state, platform, observer, options);
    monitor.Start();
    monitor.WaitForCaptureEnd();
    monitor.Stop();
  }
  std::string NameOf(const FlowKey& key) {
    const auto flow = state.stats.flows.find(key);
    if (flow == state.stats.flows.end()) return "no flow";
    return flow->second.observedName ? *flow->second.observedName : "";
  }

  const std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("quorvel-names-" + std::to_string(::getpid()));
  testing::FakePlatform fakes;
  EngineState state;
  Silent observer;
};

TEST_F(TrafficNamesReplayTest, EachSourceNamesItsFlows) {
  using testing::ARecord;
  using testing::CnameRecord;
  const auto dns = testing::BuildDnsResponse(
      "www.Example.com", {CnameRecord("www.Example.com", "edge.cdn.test"), ARecord("edge.cdn.test", 198, 19, 0, 10, 30),
                          ARecord("edge.cdn.test", 198, 19, 0, 11, 30)});
  const auto tcpDns = [] {
    const auto message = testing::BuildDnsResponse("tcp.example", {ARecord("tcp.example", 198, 19, 0, 30, 7200)});
    std::string framed = {static_cast<char>(message.size() >> 8), static_cast<char>(message.size())};
    return framed + Text(message);
  }();
  testing::DnsRecordSpec aaaa{"v6.example", 28, 300, {}, {}};
  aaaa.data.assign(kRemote6.bytes.begin(), kRemote6.bytes.end());
  const auto dns6 = testing::BuildDnsResponse("v6.example", {aaaa});
  const std::vector<std::uint8_t> quicFrames = testing::CryptoFrame(0, testing::BuildClientHello("quic.example", true));
  // ClientHellos whose server name comes only in their second packet.
  const auto longHello = testing::TlsRecord(testing::BuildClientHello("long.example", true, 1500));
  const auto longQuic = testing::BuildClientHello("longquic.example", true, 1500);
  const std::vector<std::uint8_t> dcid = {1, 1, 2, 3, 5, 8, 13, 21};
  const auto firstInitial = testing::BuildQuicClientInitial(
      dcid, 0, testing::CryptoFrame(0, std::vector<std::uint8_t>(longQuic.begin(), longQuic.begin() + 1000)));
  const auto secondInitial = testing::BuildQuicClientInitial(
      dcid, 1, testing::CryptoFrame(1000, std::vector<std::uint8_t>(longQuic.begin() + 1000, longQuic.end())));
  Replay({
      BuildIpv4Packet({kResolver, kLocal, 17, 53, 40000, 5, Text(dns)}),
      BuildIpv4Packet({kResolver, kLocal, 6, 53, 40001, 5, tcpDns}),
      BuildIpv4Packet({kLocal, Remote(10), 1, 0, 0, 5, "ping"}),
      TcpWithOptions(Remote(11), 41000, 443, Text(testing::TlsRecord(testing::BuildClientHello("api.example.net", true)))),
      BuildIpv4Packet({kLocal, Remote(11), 6, 41001, 443, 5,
                       Text(testing::TlsRecord(testing::BuildClientHello(std::nullopt, false)))}),
      BuildIpv4Packet({kLocal, Remote(20), 6, 41002, 443, 5,
                       Text(testing::TlsRecord(testing::BuildClientHello("shop.example.org", false)))}),
      TcpWithOptions(Remote(21), 41003, 8080, "GET / HTTP/1.1\r\nHost: web.example:8080\r\n\r\n"),
      BuildIpv4Packet({kLocal, Remote(22), 17, 41004, 443, 5,
                       Text(testing::BuildQuicClientInitial({9, 8, 7, 6, 5, 4, 3, 2}, 0, quicFrames))}),
      BuildIpv4Packet({kLocal, Remote(30), 6, 41005, 22, 5, "SSH-2.0-x"}),
      BuildIpv4Packet({kLocal, Remote(40), 17, 41006, 9999, 5, "plain"}),
      Segment(Remote(50), 443, longHello, 0, 1400),
      Segment(Remote(50), 443, longHello, 0, 1400),  // a retransmission is skipped
      Segment(Remote(50), 443, longHello, 1400, longHello.size()),
      BuildIpv4Packet({kLocal, Remote(51), 17, 41011, 443, 5, Text(firstInitial)}),
      BuildIpv4Packet({kLocal, Remote(51), 17, 41011, 443, 5, Text(secondInitial)}),
      // Names are what this computer asked: a request coming in names nothing.
      BuildIpv4Packet({Remote(41), kLocal, 6, 41007, 80, 5, "GET / HTTP/1.1\r\nHost: me.example\r\n\r\n"}),
      testing::BuildIpv6Packet({kResolver6, kLocal6, {}, 17, 53, 40002, true, Text(dns6)}),
      testing::BuildIpv6Packet({kLocal6, kRemote6, {}, 6, 41020, 22, true, "SSH-2.0-x"}),
  });
  const struct {
    FlowKey key;
    const char* expected;
  } cases[] = {
      {{"ICMP protocol", 0, Remote(10), 0}, "www.example.com"},
      {{"TCP protocol: 41000", 41000, Remote(11), 443}, "api.example.net"},
      {{"TCP protocol: 41001", 41001, Remote(11), 443}, "www.example.com"},
      {{"TCP protocol: 41002", 41002, Remote(20), 443}, "shop.example.org"},
      {{"TCP protocol: 41003", 41003, Remote(21), 8080}, "web.example"},
      {{"UDP protocol: 41004", 41004, Remote(22), 443}, "quic.example"},
      {{"TCP protocol: 41005", 41005, Remote(30), 22}, "tcp.example"},
      {{"UDP protocol: 41006", 41006, Remote(40), 9999}, ""},
      {{"TCP protocol: 80", 80, Remote(41), 41007}, ""},
      {{"TCP protocol: 41010", 41010, Remote(50), 443}, "long.example"},
      {{"UDP protocol: 41011", 41011, Remote(51), 443}, "longquic.example"},
      {{"TCP protocol: 41020", 41020, kRemote6, 22}, "v6.example"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameOf(c.key), c.expected) << IpToText(c.key.remoteAddress);

  // A 30-second answer is held ten minutes: a flow starting later is unnamed.
  fakes.clock.Advance(599'000);
  Replay({BuildIpv4Packet({kLocal, Remote(10), 17, 42000, 9, 5, "x"})});
  fakes.clock.Advance(1'000);
  Replay({BuildIpv4Packet({kLocal, Remote(10), 17, 42001, 9, 5, "x"}),
          BuildIpv4Packet({kLocal, Remote(30), 17, 42002, 9, 5, "x"})});
  EXPECT_EQ(NameOf({"UDP protocol: 42000", 42000, Remote(10), 9}), "www.example.com");
  EXPECT_EQ(NameOf({"UDP protocol: 42001", 42001, Remote(10), 9}), "");
  EXPECT_EQ(NameOf({"UDP protocol: 42002", 42002, Remote(30), 9}), "tcp.example");
  // The earlier flow keeps the name it started with.
  EXPECT_EQ(NameOf({"ICMP protocol", 0, Remote(10), 0}), "www.example.com");
}

TEST_F(TrafficNamesReplayTest, FlowsToolPrintsTheNameFromTrafficAsASeventhColumn) {
  const auto dns = testing::BuildDnsResponse("dns.example", {testing::ARecord("dns.example", 198, 19, 0, 10)});
  const std::string path = Write({
      BuildIpv4Packet({kResolver, kLocal, 17, 53, 40000, 5, Text(dns)}),
      BuildIpv4Packet({kLocal, Remote(10), 6, 41000, 80, 5, "GET / HTTP/1.1\r\nHost: web.example:8080\r\n\r\n"}),
      BuildIpv4Packet({kLocal, Remote(10), 1, 0, 0, 5, "ping"}),
  });
  const std::string output = RunFlowsTool("--pcap " + path + " --address 198.18.0.1 --names");
  if (output == "not built") GTEST_SKIP() << "quorvel-flows is not built";
  EXPECT_EQ(output,
            "# local source\tlocal port\tremote address\tremote port\tDL bytes\tUL bytes\tname from traffic\n"
            "ICMP protocol\t0\t198.19.0.10\t0\t0\t24\tdns.example\n"
            "TCP protocol: 41000\t41000\t198.19.0.10\t80\t0\t82\tweb.example\n"
            "UDP protocol: 40000\t40000\t198.18.0.53\t53\t" + std::to_string(28 + dns.size()) + "\t0\t\n");
}

}  // namespace
}  // namespace quorvel
