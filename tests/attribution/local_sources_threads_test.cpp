#include <gtest/gtest.h>

#include <chrono>
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

// The connection table thread over fake tables and the real clock, started
// and past its first pass.
class ConnectionTableThread : public ::testing::Test {
 protected:
  void Begin() {
    sources.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (owners.Passes() < 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(Millis(1));
    ASSERT_EQ(owners.Passes(), 1);
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
