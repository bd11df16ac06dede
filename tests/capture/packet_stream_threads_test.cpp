#include "capture/packet_stream.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/fake_platform.h"

namespace quorvel {
namespace {

using Steady = std::chrono::steady_clock;

// A monitor that reads nothing while a burst arrives: the helper must go on
// capturing, and every packet it could not hand over must be counted.
TEST(PacketStream, ABurstThatDoesNotFitIsCountedNotWaitedFor) {
  int sockets[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  const int small = 64 * 1024;
  setsockopt(sockets[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

  constexpr std::size_t kPackets = 120'000;
  constexpr std::size_t kBytes = 120;
  testing::FakePacketSource source;
  for (std::size_t i = 0; i < kPackets; ++i) source.Push(std::vector<std::uint8_t>(kBytes, 0x45));
  source.Finish();

  PacketStream stream(sockets[0], source);
  std::atomic<bool> stop{false};
  std::thread capture([&] { stream.Run(stop); });
  // Every packet is taken from the capture while nobody reads.
  const auto deadline = Steady::now() + std::chrono::seconds(30);
  while (source.Delivered() < kPackets && Steady::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(source.Delivered(), kPackets);

  FrameReader reader(kMaxReplyBytes);
  std::size_t records = 0;
  std::uint64_t dropped = 0;
  while (records + dropped < kPackets && Steady::now() < deadline) {
    pollfd wait{sockets[1], POLLIN, 0};
    if (poll(&wait, 1, 100) <= 0) continue;
    const auto room = reader.Room(kReplyChunkBytes);
    const ssize_t got = read(sockets[1], room.data(), room.size());
    ASSERT_GT(got, 0);
    reader.Received(static_cast<std::size_t>(got));
    std::span<const std::uint8_t> body;
    while (reader.Take(body) == FrameReader::Next::kFrame) {
      const auto reply = ParseReply(body);
      ASSERT_TRUE(reply);
      const auto& packets = std::get<PacketsReply>(*reply);
      ForEachPacketRecord(packets.records, [&](const PacketRecord& record) {
        EXPECT_EQ(record.bytes.size(), kBytes);
        ++records;
      });
      dropped = packets.counters.helperDropped;
    }
  }
  stop = true;
  capture.join();
  close(sockets[0]);
  close(sockets[1]);
  EXPECT_GT(dropped, 0u);
  EXPECT_GT(records, PacketStream::kMaxUnsentBytes / (kPacketRecordHeaderBytes + kBytes) / 2);
  EXPECT_EQ(records + dropped, kPackets);
}

}  // namespace
}  // namespace quorvel
