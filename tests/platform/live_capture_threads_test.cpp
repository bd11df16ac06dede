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
#include <map>
#include <thread>

#include "platform/linux/capabilities.h"
#include "platform/linux/pcap_capture.h"

namespace quorvel {
namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

const Ipv4Address kLoopback = MakeIpv4(127, 0, 0, 1);

class LiveCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MissingCaptureRights().empty()) GTEST_SKIP() << "capture rights missing";
  }
};

class Discard final : public PacketSink {
  void OnPacket(const std::uint8_t*, std::size_t) override {}
};

// Keeps the total length of the UDP datagrams between two ports, checking each is captured whole.
class UdpCollector final : public PacketSink {
 public:
  UdpCollector(std::uint16_t from, std::uint16_t to) : from_(from), to_(to) {}
  void OnPacket(const std::uint8_t* data, std::size_t received) override {
    if (received < 20 || data[9] != 17) return;
    const std::size_t header = (data[0] & 0x0F) * 4u;
    if (received < header + 4 || ((data[header] << 8) | data[header + 1]) != from_ ||
        ((data[header + 2] << 8) | data[header + 3]) != to_) {
      return;
    }
    const std::size_t total = static_cast<std::size_t>((data[2] << 8) | data[3]);
    ++seen[total];
    EXPECT_EQ(received, total);
  }
  std::map<std::size_t, int> seen;  // IPv4 total length -> times captured

 private:
  int from_, to_;
};

TEST_F(LiveCapture, LoopbackDatagramsArriveWithTheirExactLengths) {
  OpenedCapture opened = OpenLiveCaptureOn("lo");
  ASSERT_TRUE(opened.source) << opened.error;
  EXPECT_EQ(opened.source->Name(), "lo");
  int sockets[2];
  std::uint16_t ports[2];
  sockaddr_in address{};
  for (int i = 0; i < 2; ++i) {
    sockets[i] = socket(AF_INET, SOCK_DGRAM, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = kLoopback;
    ASSERT_EQ(bind(sockets[i], reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(sockets[i], reinterpret_cast<sockaddr*>(&address), &length);
    ports[i] = ntohs(address.sin_port);
  }
  std::map<std::size_t, int> expected;
  for (int i = 1; i <= 20; ++i) {  // to the second socket, whose address is left in `address`
    const std::string payload(static_cast<std::size_t>(i) * 61, static_cast<char>('a' + i));
    const auto* to = reinterpret_cast<sockaddr*>(&address);
    ASSERT_EQ(sendto(sockets[0], payload.data(), payload.size(), 0, to, sizeof address),
              static_cast<ssize_t>(payload.size()));
    expected[20 + 8 + payload.size()] = 1;
  }
  UdpCollector sink(ports[0], ports[1]);
  std::string error;
  const auto deadline = Steady::now() + std::chrono::seconds(5);
  while (sink.seen.size() < expected.size() && Steady::now() < deadline) {
    ASSERT_NE(opened.source->Dispatch(sink, error), PacketSource::Next::kError) << error;
  }
  EXPECT_EQ(sink.seen, expected);
  EXPECT_GE(opened.source->Stats().received, 20u);
  for (const int fd : sockets) close(fd);
}

TEST_F(LiveCapture, InterruptEndsABlockedDispatchPromptly) {
  // A poll timeout far beyond the limit, so only Interrupt can end the wait.
  LiveCaptureOptions options;
  options.pollTimeoutMilliseconds = 5000;
  OpenedCapture opened = OpenLiveCaptureOn("lo", options);
  ASSERT_TRUE(opened.source) << opened.error;
  Discard sink;
  std::atomic<bool> running{true}, started{false};
  std::atomic<Steady::rep> returned{0};
  std::thread capture([&] {
    std::string error;
    started = true;
    while (running) opened.source->Dispatch(sink, error);
    returned = Steady::now().time_since_epoch().count();
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(milliseconds(200));  // let it block in the poll
  running = false;
  const auto interrupted = Steady::now();
  opened.source->Interrupt();
  capture.join();
  EXPECT_LT(Steady::time_point(Steady::duration(returned.load())) - interrupted, milliseconds(200));
}

TEST_F(LiveCapture, QuietDispatchReturnsAfterThePollTimeout) {
  OpenedCapture opened = OpenLiveCaptureOn("lo");
  ASSERT_TRUE(opened.source) << opened.error;
  Discard sink;
  std::atomic<bool> done{false};
  std::atomic<Steady::rep> longest{0};
  std::thread capture([&] {
    std::string error;
    for (int i = 0; i < 5; ++i) {
      const auto start = Steady::now();
      opened.source->Dispatch(sink, error);
      longest = std::max(longest.load(), (Steady::now() - start).count());
    }
    done = true;
  });
  // Dispatch must not wait for traffic that may never come; if it does, end it so the test fails instead of hanging.
  const auto deadline = Steady::now() + std::chrono::seconds(3);
  while (!done && Steady::now() < deadline) std::this_thread::sleep_for(milliseconds(10));
  const bool returnedByItself = done;
  while (!done) {
    opened.source->Interrupt();
    std::this_thread::sleep_for(milliseconds(10));
  }
  capture.join();
  EXPECT_TRUE(returnedByItself);
  EXPECT_LT(Steady::duration(longest.load()), milliseconds(500));
}

}  // namespace
}  // namespace quorvel
