#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "attribution/local_sources.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using Millis = std::chrono::milliseconds;

template <typename F>
std::int64_t MillisecondsOf(F&& body) {
  const auto started = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - started).count();
}

// True once the tables were read at least `passes` times, within 5 s.
bool AwaitPasses(testing::FakeOwnerSource& owners, int passes) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (owners.Passes() < passes && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(Millis(1));
  return owners.Passes() >= passes;
}

// The connection table thread over fake tables and the real clock, started
// and past its first pass.
class ConnectionTableThread : public ::testing::Test {
 protected:
  void Begin() {
    sources.Start();
    ASSERT_TRUE(AwaitPasses(owners, 1));
  }
  void TearDown() override {
    owners.Hold(false);
    sources.Stop();
  }
  testing::FakeOwnerSource owners;
  SystemClock clock;
  LocalSources sources{owners, clock};
};

// A miss waits for a pass that starts after it: the completion of a pass
// nobody waited for does not answer it.
TEST_F(ConnectionTableThread, AMissWaitsForAPassThatStartsAfterIt) {
  Begin();
  std::this_thread::sleep_for(Millis(20));  // the first pass's completion stays unobserved
  owners.SetOwners({{7000, false, 42, true, "late", "/bin/late"}});
  EXPECT_EQ(sources.LookupLocalSource(7000, 6), "late(42): 7000");
}

TEST_F(ConnectionTableThread, PeriodicPassesWaitForTheTablesToChangeButNotForLong) {
  owners.SetStamp(1);
  Begin();
  std::this_thread::sleep_for(Millis(1000));
  EXPECT_EQ(owners.Passes(), 1) << "no socket came or went: no pass";
  // Waits (bounded) for a pass to change the map, without a lookup that would ask for one.
  const auto untilNamed = [this] {
    const std::uint64_t from = sources.Generation();
    return MillisecondsOf([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
      while (sources.Generation() == from && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(Millis(1));
      }
    });
  };
  owners.SetOwners({{5000, false, 8, true, "new", "/bin/new"}});
  owners.SetStamp(2);
  EXPECT_LT(untilNamed(), 1000);
  EXPECT_EQ(sources.LookupLocalSource(5000, 6), "new(8): 5000");
  // A socket that replaced another leaves the stamp as it was: it is seen
  // by the pass that runs after at most ten periods anyway.
  owners.SetOwners({{5000, false, 9, true, "newer", "/bin/newer"}});
  EXPECT_LT(untilNamed(), 4500);
  EXPECT_EQ(sources.LookupLocalSource(5000, 6), "newer(9): 5000");
}

TEST_F(ConnectionTableThread, EndedThreadNeverMakesLookupsWait) {
  owners.Fail(true);
  Begin();
  std::this_thread::sleep_for(Millis(20));  // let the thread finish ending
  std::string text;
  EXPECT_LT(MillisecondsOf([&] {
              for (int port = 1; port <= 100; ++port) text = sources.LookupLocalSource(port, 17);
            }),
            500);
  EXPECT_EQ(text, "UDP protocol: 100");
}

TEST_F(ConnectionTableThread, MissesUnderAScanWaitWithinABudget) {
  Begin();
  owners.Hold(true);  // the requested passes never finish
  // Without a budget each of these misses would wait a full second.
  EXPECT_LT(MillisecondsOf([&] {
              for (int port = 20000; port < 20030; ++port) sources.LookupLocalSource(port, 6);
            }),
            2500);
}

// Kernel events that know of no socket on any port, over the tables.
class NoEventOwners final : public OwnerSource {
 public:
  explicit NoEventOwners(OwnerSource& tables) : tables_(tables) {}
  bool ReadOwners(std::vector<SocketOwner>& owners) override { return tables_.ReadOwners(owners); }
  std::optional<std::uint64_t> TablesStamp() override { return tables_.TablesStamp(); }
  bool TracksSockets() const override { return true; }
  OwnerLookup FindOwner(bool, std::uint16_t, Ipv4Address, SocketOwner&) override { return OwnerLookup::kNone; }

 private:
  OwnerSource& tables_;
};

// A miss asks for a pass only when that pass could name it: not once kernel
// events and a pass made since they came up both know no owner, nor again
// for a port a requested pass just found unowned. A later pass still names
// such a port.
TEST(ConnectionTableMisses, AskForPassesOnlyWhenOneCouldNameThem) {
  for (const bool events : {true, false}) {
    testing::FakeOwnerSource owners;
    owners.SetStamp(1);  // periodic passes left out for three seconds
    NoEventOwners tracked(owners);
    SystemClock clock;
    LocalSources sources(events ? static_cast<OwnerSource&>(tracked) : owners, clock);
    sources.Start();
    ASSERT_TRUE(AwaitPasses(owners, 1));
    EXPECT_EQ(sources.LookupLocalSource(7000, 6), "TCP protocol: 7000");
    EXPECT_EQ(owners.Passes(), 2) << events;
    for (int port = 7000; port < (events ? 7100 : 7001); ++port) sources.LookupLocalSource(port, 6);
    EXPECT_EQ(owners.Passes(), 2) << events;
    const std::uint64_t generation = sources.Generation();
    owners.SetOwners({{7000, false, 5, true, "late", "/bin/late"}, {9000, false, 6, true, "new", "/bin/new"}});
    // With events the new socket is theirs to name; the tables' slowest
    // periodic pass comes anyway, whatever their stamp.
    if (!events) {
      EXPECT_EQ(sources.LookupLocalSource(9000, 6), "new(6): 9000");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sources.Generation() == generation && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(Millis(1));
    }
    EXPECT_EQ(owners.Passes(), 3) << events;
    EXPECT_EQ(sources.LookupLocalSource(7000, 6), "late(5): 7000") << events;
    sources.Stop();
  }
}

TEST_F(ConnectionTableThread, StopReleasesAWaitingLookup) {
  Begin();
  owners.Hold(true);
  std::thread lookup([&] { sources.LookupLocalSource(2, 6); });
  std::this_thread::sleep_for(Millis(50));
  owners.Hold(false);
  sources.Stop();
  lookup.join();
}

}  // namespace
}  // namespace quorvel
