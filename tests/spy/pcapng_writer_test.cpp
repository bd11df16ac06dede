#include "spy/pcapng_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "persistence/scratch_directory.h"
#include "spy/spy_session.h"
#include "spy_test_support.h"

namespace quorvel {
namespace {

struct Fed {
  std::string received;  // the buffer from the IPv4 header on
  std::uint16_t length;  // the IPv4 total length
  std::int64_t microseconds;
};

struct PcapRecord {
  std::int64_t microseconds;
  std::uint32_t originalLength;
  std::string bytes;
  friend bool operator==(const PcapRecord&, const PcapRecord&) = default;
};

std::string Packet(std::size_t size, char fill) { return '\x45' + std::string(size - 1, fill); }

void Feed(SpyFeedRegistry& registry, const Fed& packet) {
  const auto* start = reinterpret_cast<const std::uint8_t*>(packet.received.data());
  registry.Feed(SpyPacket{"app(1): 5", MakeIpv4(10, 0, 0, 5), 443, start + 20, packet.length,
                          start + packet.received.size(), start, packet.microseconds});
}

std::string RunShell(const std::string& command) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return "did not start";
  std::string out;
  char buffer[4096];
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  const int status = ::pclose(pipe);
  // tshark's notice about running as root (as tests in CI do) is no warning about the file.
  const std::string rootNotice = "Running as user \"root\" and group \"root\". This could be dangerous.\n";
  if (out.starts_with(rootNotice)) out.erase(0, rootNotice.size());
  return status == 0 ? out : "failed: " + out;
}

// The records of a classic little-endian microsecond pcap file of raw IP.
std::vector<PcapRecord> ReadPcap(const std::string& file) {
  const auto u32 = [&file](std::size_t at) {
    std::uint32_t value;
    std::memcpy(&value, file.data() + at, 4);
    return value;
  };
  std::vector<PcapRecord> records;
  if (file.size() < 24 || u32(0) != 0xA1B2C3D4 || u32(20) != 101) return records;
  for (std::size_t at = 24; at + 16 <= file.size(); at += 16 + u32(at + 8)) {
    const std::int64_t microseconds = std::int64_t{u32(at)} * 1'000'000 + u32(at + 4);
    records.push_back({microseconds, u32(at + 12), file.substr(at + 16, u32(at + 8))});
  }
  return records;
}

TEST(PcapngWriterTest, TsharkReadsEveryPacketWithItsBytesAndTime) {
  if (RunShell("command -v tshark").find("tshark") == std::string::npos) GTEST_SKIP() << "tshark is not installed";
  const std::vector<Fed> fed = {
      {Packet(60, 'a'), 60, 1'700'000'000'000'001},
      {Packet(60, 'b'), 46, 1'700'000'000'250'000},  // link padding after the IPv4 packet is left out
      {Packet(1500, 'c'), 1500, 1'700'000'001'999'999},
      {Packet(100, 'd'), 4000, 1'700'000'002'000'000},  // a cut capture keeps what was received
      {Packet(20, 'e'), 20, 1'800'000'000'123'456},
  };
  std::vector<PcapRecord> expected;
  for (const Fed& packet : fed) {
    expected.push_back({packet.microseconds, packet.length, packet.received.substr(0, packet.length)});
  }
  SpyFeedRegistry registry;
  SpySession session(registry, testing::AllTrafficTarget());
  session.Open();
  for (const Fed& packet : fed) Feed(registry, packet);
  session.SetFilter(true, "zzz");  // turned away: neither shown nor kept
  Feed(registry, fed[0]);
  session.Drain();

  testing::ScratchDirectory scratch;
  const std::string pcapng = (scratch / "spy.pcapng").string();
  const std::string pcap = (scratch / "back.pcap").string();
  testing::WriteBytes(pcapng, PcapngBytes(session.Recorder().Packets(), session.Recorder().Comment()));
  // Read back by tshark without a word of warning, and written out again as
  // a classic pcap whose records are compared.
  EXPECT_EQ(RunShell("tshark -r '" + pcapng + "' -F pcap -w '" + pcap + "'"), "");
  EXPECT_EQ(ReadPcap(testing::ReadBytes(pcap)), expected);
  EXPECT_EQ(RunShell("tshark -r '" + pcapng + "' -T fields -e frame.time_epoch | head -1"), "1700000000.000001000\n");
}

TEST(PcapngWriterTest, KeepsTheNewestPacketsWithinItsBound) {
  SpyFeedRegistry registry;
  SpySession session(registry, testing::AllTrafficTarget(), kSpyMaxPendingCaptureBytes, 3 * RecordedPacketCost(60));
  session.Open();
  for (int i = 0; i < 5; ++i) Feed(registry, {Packet(60, static_cast<char>('a' + i)), 60, i * 1'000'000});
  session.Drain();
  const auto& packets = session.Recorder().Packets();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets.front().bytes[1], 'c');
  EXPECT_EQ(packets.back().arrivalMicroseconds, 4'000'000);
  EXPECT_EQ(session.Recorder().Dropped(), 2u);
  EXPECT_EQ(session.Recorder().Comment().rfind("2 packets seen since the Traffic Spy opened are not in this file", 0),
            0u);
}

}  // namespace
}  // namespace quorvel
