// Captures replayed from pcap files the tests write themselves, through the
// same path as live capture.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "engine/monitor.h"
#include "platform/linux/pcap_capture.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"
#include "support/pcap_writer.h"

namespace quorvel {
namespace {

using testing::BuildIpv4Packet;
using testing::EthernetFrame;
using testing::LinkFrame;
using testing::PcapWriter;

const MonitorOptions kNoWorker = [] {
  MonitorOptions options;
  options.runWorker = false;
  return options;
}();
const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const Ipv4Address kRemote = MakeIpv4(198, 18, 0, 2);
const Ipv4Address kOther = MakeIpv4(198, 18, 0, 3);

class Silent final : public MonitorObserver {
 public:
  void OnWindowTitle(const std::string&) override {}
  void OnCaptureProblem(const std::string& message) override { problems.push_back(message); }
  std::vector<std::string> problems;
};

class ReplayTest : public ::testing::Test {
 protected:
  std::string PathFor(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("quorvel-replay-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }
  void TearDown() override {
    std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                ("quorvel-replay-" + std::to_string(::getpid())));
  }
  // Replays the file through a monitor watching kLocal.
  void Replay(const std::string& path) {
    OfflinePacketSourceFactory offline(path);
    Platform platform{offline, fakes.owners, fakes.names, fakes.interfaces, fakes.clock};
    state.settings.interfaceAddress = kLocal;
    Monitor monitor(state, platform, observer, kNoWorker);
    monitor.Start();
    monitor.WaitForCaptureEnd();
    monitor.Stop();
    seen = monitor.Status().packetsSeen;
  }
  std::uint64_t Total(const FlowKey& key, bool upload) {
    const auto it = state.stats.flows.find(key);
    if (it == state.stats.flows.end()) return 0;
    return upload ? it->second.upload : it->second.download;
  }

  testing::FakePlatform fakes;
  EngineState state;
  Silent observer;
  std::uint64_t seen = 0;
};

TEST_F(ReplayTest, KnownTotalsAcrossLinkTypesAndProtocols) {
  const std::string path = PathFor("mixed.pcap");
  {
    PcapWriter writer(path, DLT_EN10MB);
    ASSERT_TRUE(writer.ok());
    for (int i = 0; i < 10; ++i) {
      writer.Write(EthernetFrame(BuildIpv4Packet({kLocal, kRemote, 6, 40000, 80, 5, "GET / HTTP/1.1"})));
      writer.Write(EthernetFrame(BuildIpv4Packet({kRemote, kLocal, 6, 80, 40000, 5, std::string(1000, 'x')}),
                                 i % 3));  // some frames carry one or two VLAN tags
    }
    writer.Write(EthernetFrame(BuildIpv4Packet({kRemote, kLocal, 1, 0, 0, 5, std::string(56, 'p')})));
    writer.Write(EthernetFrame(BuildIpv4Packet({kLocal, kRemote, 1, 0, 0, 5, std::string(56, 'p')})));
    writer.Write(EthernetFrame(BuildIpv4Packet({kOther, MakeIpv4(239, 1, 1, 1), 17, 5353, 5353, 5, "mdns"})));
    writer.Write(EthernetFrame(BuildIpv4Packet({kRemote, kOther, 6, 1, 2, 5, "not ours"})));
    std::vector<std::uint8_t> arp(42, 0);
    arp[12] = 0x08;
    arp[13] = 0x06;
    writer.Write(arp);
  }
  Replay(path);
  EXPECT_TRUE(observer.problems.empty());
  EXPECT_EQ(seen, 24u);  // the ARP frame never reaches the engine
  EXPECT_EQ(Total({"TCP protocol: 40000", 40000, kRemote, 80}, true), 10u * 54);
  EXPECT_EQ(Total({"TCP protocol: 40000", 40000, kRemote, 80}, false), 10u * 1040);
  EXPECT_EQ(Total({"ICMP protocol", 0, kRemote, 0}, false), 76u);
  EXPECT_EQ(Total({"ICMP protocol", 0, kRemote, 0}, true), 76u);
  EXPECT_EQ(Total({"UDP protocol: 5353", 5353, kOther, 5353}, false), 32u);
  EXPECT_EQ(state.stats.flows.size(), 3u);
  EXPECT_EQ(state.stats.tickDownload, 10u * 1040 + 76 + 32);
  EXPECT_EQ(state.stats.tickUpload, 10u * 54 + 76);
}

// IPv4 and IPv6 side by side in files of several link types; every total is
// 40 + payload length per IPv6 packet (the IPv4 total length for IPv4).
TEST_F(ReplayTest, MixedIpv4AndIpv6TotalsAcrossLinkTypes) {
  using testing::Ipv6;
  const IpAddress local6 = Ipv6("fd00::1");
  const IpAddress remote6 = Ipv6("2001:db8::2");
  const IpAddress temporary6 = Ipv6("fd00::abcd:1");
  const auto v6 = [](const IpAddress& from, const IpAddress& to, std::vector<testing::ExtensionHeader> chain,
                     std::uint8_t protocol, std::uint16_t sourcePort, std::uint16_t destinationPort,
                     const std::string& payload, bool transport = true) {
    return testing::BuildIpv6Packet(
        {from, to, std::move(chain), protocol, sourcePort, destinationPort, transport, payload});
  };
  for (const int linkType : {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV6, DLT_NULL}) {
    SCOPED_TRACE(linkType);
    state.stats = TrafficStats{};
    const std::string path = PathFor("mixed6.pcap");
    {
      PcapWriter writer(path, linkType);
      ASSERT_TRUE(writer.ok());
      const bool ipv6Only = linkType == DLT_IPV6;
      for (int i = 0; i < 10; ++i) {
        writer.Write(LinkFrame(linkType, v6(local6, remote6, {}, 6, 40000, 443, std::string(20, 'u'))));
        writer.Write(LinkFrame(linkType, v6(remote6, temporary6, {}, 6, 443, 40001, std::string(1000, 'd'))));
        if (!ipv6Only) {
          writer.Write(LinkFrame(linkType, BuildIpv4Packet({kLocal, kRemote, 6, 40000, 80, 5, "GET"})));
        }
      }
      writer.Write(LinkFrame(linkType, v6(remote6, local6, {{0, 8}}, 58, 0, 0, std::string(56, 'p'))));
      writer.Write(LinkFrame(linkType, v6(remote6, local6, {{44, 8, 0x0001}}, 17, 53, 5000, std::string(100, 'f'))));
      writer.Write(LinkFrame(linkType, v6(remote6, local6, {{44, 8, 0x0068}}, 17, 0, 0, std::string(50, 'f'), false)));
      writer.Write(LinkFrame(linkType, v6(Ipv6("fe80::9"), Ipv6("ff02::fb"), {}, 17, 5353, 5353, "mdns")));
      writer.Write(LinkFrame(linkType, v6(remote6, Ipv6("2001:db8::3"), {}, 6, 1, 2, "not ours")));
      auto truncated = v6(remote6, local6, {{43, 64}}, 6, 443, 40000, "cut");
      truncated.resize(60);  // the routing header does not fit: skipped
      writer.Write(LinkFrame(linkType, truncated));
    }
    state.settings.interfaceIpv6Addresses.Set({{local6, 64}, {temporary6, 64}});
    Replay(path);
    EXPECT_TRUE(observer.problems.empty());
    EXPECT_EQ(Total({"TCP protocol: 40000", 40000, remote6, 443}, true), 10u * 80);
    EXPECT_EQ(Total({"TCP protocol: 40001", 40001, remote6, 443}, false), 10u * 1060);
    EXPECT_EQ(Total({"ICMPv6 protocol", 0, remote6, 0}, false), 40u + 8 + 56);
    EXPECT_EQ(Total({"UDP protocol: 5000", 5000, remote6, 53}, false), 40u + 8 + 8 + 100);
    EXPECT_EQ(Total({"UDP protocol: 0", 0, remote6, 0}, false), 40u + 8 + 50);
    EXPECT_EQ(Total({"UDP protocol: 5353", 5353, Ipv6("fe80::9"), 5353}, false), 40u + 8 + 4);
    const std::uint64_t ipv4Upload = linkType == DLT_IPV6 ? 0 : 10u * 43;
    EXPECT_EQ(Total({"TCP protocol: 40000", 40000, kRemote, 80}, true), ipv4Upload);
    EXPECT_EQ(state.stats.tickUpload, 10u * 80 + ipv4Upload);
    EXPECT_EQ(state.stats.tickDownload, 10u * 1060 + 104 + 156 + 98 + 52);
    EXPECT_EQ(state.stats.flows.size(), linkType == DLT_IPV6 ? 6u : 7u);
  }
}

TEST_F(ReplayTest, MalformedPacketsNeverReadPastTheirBytes) {
  const std::string path = PathFor("malformed.pcap");
  auto withHeader = [](std::uint8_t headerWords, int totalLength) {
    testing::PacketSpec shape{kRemote, kLocal, 17, 53, 5000, 5, "payload"};
    shape.totalLengthOverride = totalLength;
    auto packet = BuildIpv4Packet(shape);
    packet[0] = static_cast<std::uint8_t>(0x40 | headerWords);
    return packet;
  };
  {
    PcapWriter writer(path, DLT_EN10MB);
    ASSERT_TRUE(writer.ok());
    const auto good = BuildIpv4Packet({kRemote, kLocal, 17, 53, 5000, 5, "payload"});  // 35 bytes
    writer.Write(EthernetFrame(good), 14 + 10);             // truncated inside the IPv4 header
    writer.Write(EthernetFrame(good), 14 + 21);             // ports cut off
    writer.Write(EthernetFrame(withHeader(15, 35)));        // header length past the packet
    writer.Write(EthernetFrame(withHeader(0, 35)));         // header length 0
    writer.Write(EthernetFrame(withHeader(5, 0)));          // total length 0
    writer.Write(EthernetFrame(withHeader(5, 9000)));       // total length beyond what was received
    writer.Write(EthernetFrame(good), 10);                  // not even a link header
  }
  Replay(path);
  // Header length 0 reads its "ports" from the IPv4 header's first bytes.
  EXPECT_EQ(Total({"UDP protocol: 35", 35, kRemote, 0x4000}, false), 35u);
  EXPECT_EQ(Total({"UDP protocol: 5000", 5000, kRemote, 53}, false), 9000u);
  EXPECT_EQ(state.stats.tickDownload, 35u + 0 + 9000);
}

TEST_F(ReplayTest, UnreadableFileIsReported) {
  const std::string path = PathFor("garbage.pcap");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fputs("this is not a capture file", file);
  std::fclose(file);
  Replay(path);
  ASSERT_EQ(observer.problems.size(), 1u);
  EXPECT_NE(observer.problems[0].find(path), std::string::npos);
}

// The headless tool over the same path: it is built beside the tests folder
// that holds this program.
std::filesystem::path FlowsTool() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "quorvel-flows";
}

std::string RunTool(const std::string& arguments, int& status) {
  const std::string command = FlowsTool().string() + " " + arguments + " 2>&1";
  std::string output;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
  status = WEXITSTATUS(pclose(pipe.release()));
  return output;
}

TEST_F(ReplayTest, FlowsToolPrintsTheTableInKeyOrder) {
  if (!std::filesystem::exists(FlowsTool())) GTEST_SKIP() << FlowsTool() << " is not built";
  const std::string path = PathFor("tool.pcap");
  {
    PcapWriter writer(path, DLT_EN10MB);
    writer.Write(EthernetFrame(BuildIpv4Packet({kLocal, kRemote, 17, 6000, 53, 5, "q"})));
    writer.Write(EthernetFrame(BuildIpv4Packet({kRemote, kLocal, 17, 53, 6000, 5, "answer"})));
    writer.Write(EthernetFrame(BuildIpv4Packet({kRemote, kLocal, 1, 0, 0, 5, "ping"})));
    using testing::Ipv6;
    for (const char* remote : {"2001:db8:1::9", "2001:db8::9", "fd00:1:2::5"}) {
      writer.Write(EthernetFrame(testing::BuildIpv6Packet({Ipv6("fd00:1::1"), Ipv6(remote), {}, 17, 6000, 53})));
    }
    writer.Write(EthernetFrame(testing::BuildIpv6Packet({Ipv6("2001:db8::9"), Ipv6("fd00:1::1"), {}, 58})));
  }
  const std::string heading = "# local source\tlocal port\tremote address\tremote port\tDL bytes\tUL bytes\n";
  int status = -1;
  std::string output = RunTool("--pcap " + path + " --address 198.18.0.1", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, heading +
                        "ICMP protocol\t0\t198.18.0.2\t0\t24\t0\n"
                        "UDP protocol: 6000\t6000\t198.18.0.2\t53\t34\t29\n");
  // IPv6 addresses join the set; remote addresses go IPv4 first, then IPv6 by their bytes.
  output = RunTool("--pcap " + path + " --address fd00:1::1 --address 198.18.0.1", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, heading +
                        "ICMP protocol\t0\t198.18.0.2\t0\t24\t0\n"
                        "ICMPv6 protocol\t0\t2001:db8::9\t0\t40\t0\n"
                        "UDP protocol: 6000\t6000\t198.18.0.2\t53\t34\t29\n"
                        "UDP protocol: 6000\t6000\t2001:db8::9\t53\t0\t48\n"
                        "UDP protocol: 6000\t6000\t2001:db8:1::9\t53\t0\t48\n"
                        "UDP protocol: 6000\t6000\tfd00:1:2::5\t53\t0\t48\n");
  // With the LAN hidden, the prefix decides which IPv6 remotes are local.
  for (const auto& [prefix, rows] : {std::pair<const char*, std::string>{"", "2001:db8::9 2001:db8:1::9 fd00:1:2::5"},
                                     {"--prefix 32 ", "2001:db8::9 2001:db8:1::9"},
                                     {"--prefix 0 ", ""}}) {
    output = RunTool("--pcap " + path + " --no-lan " + prefix + "--address fd00:1::1", status);
    EXPECT_EQ(status, 0);
    std::string remotes;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("UDP", 0) != 0) continue;
      const std::size_t start = line.find('\t', line.find('\t') + 1) + 1;
      remotes += (remotes.empty() ? "" : " ") + line.substr(start, line.find('\t', start) - start);
    }
    EXPECT_EQ(remotes, rows) << prefix;
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
    const std::string message = RunTool(arguments, status);
    EXPECT_EQ(status, 2) << arguments;
    EXPECT_NE(message.find(mention), std::string::npos) << arguments << ": " << message;
  }
}

}  // namespace
}  // namespace quorvel
