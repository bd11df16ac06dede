#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "persistence/scratch_directory.h"
#include "spy/spy_session.h"
#include "spy/spy_test_support.h"

namespace quorvel {
namespace {

// A capture thread feeding numbered packets "P00000042" as fast as it can.
// `started` counts the Feed calls begun, `finished` those that returned.
struct Feeder {
  explicit Feeder(SpyFeedRegistry& registry) : thread([this, &registry] {
    char data[16];
    while (!stop) {
      std::snprintf(data, sizeof data, "P%08llu", static_cast<unsigned long long>(started.fetch_add(1)));
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
      registry.Feed(SpyPacket{"app(1): 5", 0x0500000A, 443, bytes, 9, bytes + 9});
      finished.fetch_add(1);
    }
  }) {}
  ~Feeder() { Stop(); }
  void Stop() {
    stop = true;
    if (thread.joinable()) thread.join();
  }

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> started{0}, finished{0};
  std::thread thread;
};

std::uint64_t NumberOf(const std::string& line) { return std::stoull(line.substr(1)); }

// Closing while packets pour in: nothing that started after Close returned is
// shown or captured, everything handed over before closing began is in the
// files, in order and whole, also across a change of file, and feeding on
// after the session is gone is safe.
TEST(SpySessionThreadsTest, ClosingWhilePacketsPourIn) {
  testing::ScratchDirectory scratch;
  const std::string paths[] = {(scratch / "first.dmp").string(), (scratch / "second.dmp").string()};
  SpyFeedRegistry registry;
  auto session = std::make_unique<SpySession>(registry, testing::AllTrafficTarget());
  session->Open();
  ASSERT_TRUE(session->OpenCaptureFile(paths[0]).ok);
  session->SetCaptureToFile(true);

  Feeder feeder(registry);
  // Switch files only once the first has packets, and go on until the second has too.
  std::uint64_t switchedAt = 0;
  for (int round = 0; round < 200 || switchedAt == 0 || feeder.finished < switchedAt + 10000; ++round) {
    session->Drain();
    switch (round % 50) {
      case 10: session->SetFrozen(true); break;
      case 20: session->SetFrozen(false); break;
      case 30: session->SetFilter(true, "p0"); break;  // every packet passes
      case 40: session->Clear(); session->SetFilter(false, ""); break;
      default: break;
    }
    if (switchedAt == 0 && round >= 120 && feeder.finished >= 10000) {
      ASSERT_TRUE(session->OpenCaptureFile(paths[1]).ok);
      switchedAt = feeder.finished;
    }
    std::this_thread::yield();
  }
  session->Drain();
  const std::uint64_t finishedBeforeClose = feeder.finished;
  session->Close();
  const std::uint64_t startedAfterClose = feeder.started;
  const std::vector<std::string> shown = session->List().Lines();
  EXPECT_EQ(session->DroppedCapturePackets(), 0u);
  session.reset();
  const std::uint64_t target = feeder.finished + 5000;
  while (feeder.finished < target) std::this_thread::yield();  // into a registry with no listener
  feeder.Stop();

  for (const std::string& line : shown) EXPECT_LT(NumberOf(line), startedAfterClose) << line;
  const std::string first = testing::ReadBytes(paths[0]);
  const std::string second = testing::ReadBytes(paths[1]);
  EXPECT_FALSE(first.empty());
  EXPECT_FALSE(second.empty());
  const std::string file = first + second;
  ASSERT_EQ(file.size() % 11, 0u) << "whole records of 9 bytes and CR LF";
  const std::uint64_t records = file.size() / 11;
  EXPECT_GE(records, finishedBeforeClose);
  EXPECT_LE(records, startedAfterClose);
  for (std::uint64_t i = 0; i < records; ++i) {
    ASSERT_EQ(file.substr(i * 11 + 9, 2), "\r\n") << i;
    ASSERT_EQ(NumberOf(file.substr(i * 11, 9)), i) << "captured in order, none lost";
  }
}

// Two capture threads at once (an interface change starts a new one before
// the old one has ended) while the window drains and closes.
TEST(SpySessionThreadsTest, TwoCaptureThreadsAndClose) {
  SpyFeedRegistry registry;
  SpySession session(registry, testing::AllTrafficTarget());
  session.Open();
  Feeder first(registry);
  Feeder second(registry);
  while (first.finished < 5000 || second.finished < 5000) {
    session.Drain();
    std::this_thread::yield();
  }
  session.Drain();  // feeders that finish before the first drain still leave lines
  session.Close();
  const std::uint64_t lines = session.List().Lines().size();
  first.Stop();
  second.Stop();
  session.Drain();
  EXPECT_EQ(session.List().Lines().size(), lines);
  EXPECT_GE(lines, 1u);
  EXPECT_LE(lines, 26u);
}

}  // namespace
}  // namespace quorvel
