// Live capture on the loopback interface: needs cap_net_raw and
// cap_net_admin, and sends only to 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "platform/linux/capabilities.h"
#include "platform/linux/pcap_capture.h"

namespace quorvel {
namespace {

using Steady = std::chrono::steady_clock;

const Ipv4Address kLoopback = MakeIpv4(127, 0, 0, 1);

bool MayCapture() {
  const std::vector<std::string> missing = MissingCaptureRights();
  if (missing.empty()) return true;
  std::string names;
  for (const std::string& name : missing) names += " " + name;
  std::printf("Skipping live capture: this process lacks%s\n", names.c_str());
  return false;
}

int BoundUdpSocket(std::uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = kLoopback;
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// Keeps the total length and captured size of the datagrams between two ports.
class UdpCollector final : public PacketSink {
 public:
  UdpCollector(std::uint16_t from, std::uint16_t to) : from_(from), to_(to) {}
  void OnPacket(const std::uint8_t* data, std::size_t received) override {
    if (received < 20 || data[9] != 17) return;
    const std::size_t header = (data[0] & 0x0F) * 4u;
    if (received < header + 4) return;
    const std::uint16_t source = static_cast<std::uint16_t>((data[header] << 8) | data[header + 1]);
    const std::uint16_t destination = static_cast<std::uint16_t>((data[header + 2] << 8) | data[header + 3]);
    if (source != from_ || destination != to_) return;
    const std::size_t total = static_cast<std::size_t>((data[2] << 8) | data[3]);
    ++seen[total];
    EXPECT_EQ(received, total);
  }
  std::map<std::size_t, int> seen;  // IPv4 total length -> times captured

 private:
  std::uint16_t from_;
  std::uint16_t to_;
};

TEST(LiveCapture, LoopbackDatagramsArriveWithTheirExactLengths) {
  if (!MayCapture()) GTEST_SKIP() << "capture rights missing";
  LivePacketSourceFactory factory;
  OpenedCapture opened = factory.Open(kLoopback);
  ASSERT_TRUE(opened.source) << opened.error;
  EXPECT_EQ(opened.source->Name(), "lo");

  std::uint16_t senderPort = 0, receiverPort = 0;
  const int sender = BoundUdpSocket(senderPort);
  const int receiver = BoundUdpSocket(receiverPort);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = kLoopback;
  target.sin_port = htons(receiverPort);
  constexpr int kDatagrams = 20;
  std::map<std::size_t, int> expected;
  for (int i = 1; i <= kDatagrams; ++i) {
    const std::string payload(static_cast<std::size_t>(i) * 61, static_cast<char>('a' + i));
    ASSERT_EQ(sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target),
              static_cast<ssize_t>(payload.size()));
    expected[20 + 8 + payload.size()] = 1;
  }

  UdpCollector sink(senderPort, receiverPort);
  std::string error;
  const auto deadline = Steady::now() + std::chrono::seconds(5);
  while (sink.seen.size() < expected.size() && Steady::now() < deadline) {
    ASSERT_NE(opened.source->Dispatch(sink, error), PacketSource::Next::kError) << error;
  }
  EXPECT_EQ(sink.seen, expected);
  EXPECT_GE(opened.source->Stats().received, static_cast<std::uint64_t>(kDatagrams));
  close(sender);
  close(receiver);
}

TEST(LiveCapture, InterruptEndsABlockedDispatchPromptly) {
  if (!MayCapture()) GTEST_SKIP() << "capture rights missing";
  // A poll timeout far beyond the limit, so only Interrupt can end the wait.
  LiveCaptureOptions options;
  options.pollTimeoutMilliseconds = 5000;
  OpenedCapture opened = OpenLiveCapture(kLoopback, options);
  ASSERT_TRUE(opened.source) << opened.error;

  class Discard final : public PacketSink {
    void OnPacket(const std::uint8_t*, std::size_t) override {}
  } sink;
  std::atomic<bool> running{true};
  std::atomic<bool> started{false};
  std::atomic<Steady::rep> returned{0};
  std::thread capture([&] {
    std::string error;
    started = true;
    while (running) opened.source->Dispatch(sink, error);
    returned = Steady::now().time_since_epoch().count();
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it block in the poll

  running = false;
  const auto interrupted = Steady::now();
  opened.source->Interrupt();
  capture.join();
  const auto elapsed = Steady::time_point(Steady::duration(returned.load())) - interrupted;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 200);
}

TEST(LiveCapture, QuietDispatchReturnsAfterThePollTimeout) {
  if (!MayCapture()) GTEST_SKIP() << "capture rights missing";
  OpenedCapture opened = LivePacketSourceFactory().Open(kLoopback);
  ASSERT_TRUE(opened.source) << opened.error;
  class Discard final : public PacketSink {
    void OnPacket(const std::uint8_t*, std::size_t) override {}
  } sink;
  std::atomic<bool> done{false};
  std::atomic<std::int64_t> longest{0};
  std::thread capture([&] {
    std::string error;
    for (int i = 0; i < 5; ++i) {
      const auto start = Steady::now();
      opened.source->Dispatch(sink, error);
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
      longest = std::max<std::int64_t>(longest, took);
    }
    done = true;
  });
  // Dispatch must not wait for traffic that may never come; if it does, end
  // it so the test fails instead of hanging.
  const auto deadline = Steady::now() + std::chrono::seconds(3);
  while (!done && Steady::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool returnedByItself = done;
  while (!done) {
    opened.source->Interrupt();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  capture.join();
  EXPECT_TRUE(returnedByItself);
  EXPECT_LT(longest.load(), 500);
}

TEST(LiveCapture, AddressNoInterfaceHoldsIsNamed) {
  const OpenedCapture opened = LivePacketSourceFactory().Open(MakeIpv4(198, 18, 255, 254));
  EXPECT_FALSE(opened.source);
  EXPECT_EQ(opened.error, "No network interface holds the address 198.18.255.254");
}

}  // namespace
}  // namespace quorvel
