#include "attribution/host_resolver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>

#include "attribution/resolver_fixture.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::FakeClock;

const Ipv4Address kServer = MakeIpv4(10, 0, 0, 1);
const Ipv4Address kNeighbour = MakeIpv4(10, 0, 0, 15);

// Waits for the pool's threads, with a bound so that a hang fails the test.
bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

using HostResolverThreadsTest = testing::ResolverFixture;

TEST_F(HostResolverThreadsTest, LookupsAreMergedCachedAndFailuresRetriedLater) {
  names_.SetReverse(kServer, "server.example");
  const RowId first = AddRow("10.0.0.1: 443", "10.0.0.1", "a");
  // Requests made before the threads run, and repeated ones, merge into one lookup.
  for (int i = 0; i < 50; ++i) pool_.Request(kServer);
  pool_.Request(kNeighbour);  // no reverse entry
  pool_.Start();
  ASSERT_TRUE(WaitUntil([this] { return pool_.Idle(); }));
  EXPECT_EQ(pool_.LookupsMade(), 2u);
  EXPECT_EQ(Row(first)->columns[kColumnHost], "server.example");

  // A new row of a known address is named from the cache.
  const RowId second = AddRow("10.0.0.1: 80", "10.0.0.1", "a");
  pool_.Request(kServer);
  ASSERT_TRUE(WaitUntil([&] { return pool_.Idle() && Row(second)->columns[kColumnHost] == "server.example"; }));
  EXPECT_EQ(pool_.LookupsMade(), 2u);

  // A failure is not asked again at once, but after a while.
  const RowId neighbour = AddRow("10.0.0.15: 80", "10.0.0.15", "a");
  pool_.Request(kNeighbour);
  ASSERT_TRUE(WaitUntil([this] { return pool_.Idle(); }));
  EXPECT_EQ(pool_.LookupsMade(), 2u);
  names_.SetReverse(kNeighbour, "neighbour.example");
  clock_.Advance(HostResolverPool::kRetryFailureMilliseconds);
  pool_.Request(kNeighbour);
  ASSERT_TRUE(WaitUntil([&] { return pool_.Idle() && Row(neighbour)->columns[kColumnHost] == "neighbour.example"; }));
  EXPECT_EQ(pool_.LookupsMade(), 3u);
  EXPECT_EQ(pool_.ThreadsCreated(), 2u);
}

TEST(HostResolverPoolTest, StopLeavesLookupsBehindAndTheyDeliverNothing) {
  EngineState state;
  testing::GatedResolver names;
  FakeClock clock;
  {
    FlowRow row;
    row.columns[kColumnRemote] = "10.0.0.1: 80";
    row.columns[kColumnHost] = "10.0.0.1";
    std::lock_guard lock(state.listMutex);
    state.rows.InsertTop(row);
  }
  {
    HostResolverPool pool(state, names, clock, 2);
    pool.Start();
    pool.Request(kServer);
    for (std::uint8_t i = 0; i < 200; ++i) pool.Request(MakeIpv4(192, 0, 2, i));
    ASSERT_TRUE(WaitUntil([&] { return names.Started() == 2; }));
    pool.Stop();  // returns with both lookups still blocked
    EXPECT_EQ(pool.Waiting(), 0u);
    EXPECT_EQ(pool.ThreadsAlive(), 2u);
  }  // and the pool may go before its threads
  names.Release();
  ASSERT_TRUE(WaitUntil([&] { return names.Returned() == 2; }));
  std::lock_guard lock(state.listMutex);
  EXPECT_EQ(state.rows.Snapshot().rows->at(0).row->columns[kColumnHost], "10.0.0.1");
}

TEST_F(HostResolverThreadsTest, RequestsUnderListMutexWhileRowsComeAndGoNeverDeadlock) {
  for (int i = 0; i < 64; ++i) names_.SetReverse(MakeIpv4(10, 9, 0, static_cast<std::uint8_t>(i)), "n" + std::to_string(i));
  pool_.Start();
  // Two "workers" add rows and ask for names holding listMutex, as the worker
  // does; a third empties everything now and then, as Save and Clear does.
  std::atomic<bool> clearing{true};
  const auto work = [this](int seed) {
    for (int i = 0; i < 3000; ++i) {
      const int index = (i * 7 + seed) % 64;
      const Ipv4Address address = MakeIpv4(10, 9, 0, static_cast<std::uint8_t>(index));
      FlowRow row;
      row.columns[kColumnRemote] = Ipv4ToText(address) + ": " + std::to_string(i % 5);
      row.columns[kColumnHost] = Ipv4ToText(address);
      row.columns[kColumnLocalSource] = "s" + std::to_string(seed);
      std::lock_guard list(state_.listMutex);
      if (!state_.rows.FindRowByEndpoint(row.columns[kColumnRemote], row.columns[kColumnLocalSource])) {
        state_.rows.InsertTop(row);
        pool_.Request(address);
      }
    }
  };
  std::thread first(work, 1);
  std::thread second(work, 2);
  std::thread clearer([&] {
    while (clearing) {
      {
        std::lock_guard list(state_.listMutex);
        state_.rows.Clear();
      }
      std::lock_guard stat(state_.statMutex);
      state_.stats.downloadRemotes.clear();
      std::this_thread::yield();
    }
  });
  first.join();
  second.join();
  clearing = false;
  clearer.join();
  // Rows added now are named from the cache.
  for (int i = 0; i < 64; ++i) {
    const Ipv4Address address = MakeIpv4(10, 9, 0, static_cast<std::uint8_t>(i));
    std::lock_guard list(state_.listMutex);
    FlowRow row;
    row.columns[kColumnRemote] = Ipv4ToText(address) + ": 1";
    row.columns[kColumnHost] = Ipv4ToText(address);
    state_.rows.InsertTop(row);
    pool_.Request(address);
  }
  ASSERT_TRUE(WaitUntil([this] { return pool_.Idle(); }));
  pool_.Stop();
  EXPECT_LE(pool_.LookupsMade(), 64u * 2);  // merged and cached: no lookup per row
  std::lock_guard list(state_.listMutex);
  for (const auto& entry : *state_.rows.Snapshot().rows) {
    EXPECT_EQ(entry.row->columns[kColumnHost].front(), 'n') << entry.row->columns[kColumnRemote];
  }
}

}  // namespace
}  // namespace quorvel
