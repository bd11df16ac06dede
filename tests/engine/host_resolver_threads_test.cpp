#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/host_resolver.h"
#include "engine/resolver_fixture.h"

namespace quorvel {
namespace {

using testing::WaitUntil;

const Ipv4Address kServer = MakeIpv4(10, 0, 0, 1);
const Ipv4Address kNeighbour = MakeIpv4(10, 0, 0, 15);

using HostResolverThreadsTest = testing::ResolverFixture;

TEST_F(HostResolverThreadsTest, LookupsAreMergedCachedAndFailuresRetriedLater) {
  names_.SetReverse(kServer, "server.example");
  const auto named = [this](RowId id, const char* name) {
    return WaitUntil([&] { return pool_.Idle() && Row(id)->columns[kColumnHost] == name; });
  };
  const RowId first = AddRow("10.0.0.1: 443", "10.0.0.1", "a");
  // Requests made before the threads run, and repeated ones, merge into one lookup.
  for (int i = 0; i < 50; ++i) pool_.Request(kServer);
  pool_.Request(kNeighbour);  // no reverse entry
  pool_.Start();
  ASSERT_TRUE(named(first, "server.example"));
  EXPECT_EQ(pool_.LookupsMade(), 2u);
  // A new row of a known address is named from the cache.
  const RowId second = AddRow("10.0.0.1: 80", "10.0.0.1", "a");
  pool_.Request(kServer);
  ASSERT_TRUE(named(second, "server.example"));
  EXPECT_EQ(pool_.LookupsMade(), 2u);
  // A failure is not asked again at once, but after a while.
  const RowId neighbour = AddRow("10.0.0.15: 80", "10.0.0.15", "a");
  pool_.Request(kNeighbour);
  ASSERT_TRUE(WaitUntil([this] { return pool_.Idle(); }));
  EXPECT_EQ(pool_.LookupsMade(), 2u);
  names_.SetReverse(kNeighbour, "neighbour.example");
  clock_.Advance(HostResolverPool::kRetryFailureMilliseconds);
  pool_.Request(kNeighbour);
  ASSERT_TRUE(named(neighbour, "neighbour.example"));
  EXPECT_EQ(pool_.LookupsMade(), 3u);
  EXPECT_EQ(pool_.ThreadsCreated(), 2u);
}

TEST(HostResolverPoolTest, StopLeavesLookupsBehindAndTheyDeliverNothing) {
  EngineState state;
  testing::GatedResolver names;
  testing::FakeClock clock;
  state.rows.InsertTop(testing::MakeRow("10.0.0.1: 80", "10.0.0.1"));
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
  const auto address = [](int index) { return MakeIpv4(10, 9, 0, static_cast<std::uint8_t>(index)); };
  for (int i = 0; i < 64; ++i) names_.SetReverse(address(i), "n" + std::to_string(i));
  pool_.Start();
  // Two "workers" add rows and ask for names holding listMutex, as the worker
  // does; a third empties everything now and then, as Save and Clear does.
  std::atomic<bool> clearing{true};
  const auto work = [&](int seed) {
    for (int i = 0; i < 3000; ++i) {
      const Ipv4Address remote = address((i * 7 + seed) % 64);
      const FlowRow row = testing::MakeRow(Ipv4ToText(remote) + ": " + std::to_string(i % 5), Ipv4ToText(remote),
                                           "s" + std::to_string(seed));
      std::lock_guard list(state_.listMutex);
      if (!state_.rows.FindRowByEndpoint(row.columns[kColumnRemote], row.columns[kColumnLocalSource])) {
        state_.rows.InsertTop(row);
        pool_.Request(remote);
      }
    }
  };
  std::thread first(work, 1), second(work, 2);
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
    std::lock_guard list(state_.listMutex);
    state_.rows.InsertTop(testing::MakeRow(Ipv4ToText(address(i)) + ": 1", Ipv4ToText(address(i))));
    pool_.Request(address(i));
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
