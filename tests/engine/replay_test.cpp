// Captures replayed from pcap files the tests write themselves, through the
// same path as live capture.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <memory>
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
  }
  int status = -1;
  const std::string output = RunTool("--pcap " + path + " --address 198.18.0.1", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output,
            "# local source\tlocal port\tremote address\tremote port\tDL bytes\tUL bytes\n"
            "ICMP protocol\t0\t198.18.0.2\t0\t24\t0\n"
            "UDP protocol: 6000\t6000\t198.18.0.2\t53\t34\t29\n");

  const std::pair<const char*, const char*> bad[] = {
      {"", "usage"},
      {"--pcap /nonexistent/file.pcap --address 198.18.0.1", "/nonexistent/file.pcap"},
      {"--pcap x.pcap", "--address"},
      {"--live --address 300.1.2.3", "not a dotted IPv4 address"},
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
