#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "common/format.h"
#include "engine/accounting.h"
#include "engine/flow_sort.h"
#include "engine/host_resolver.h"
#include "engine/resolver_fixture.h"
#include "engine/worker.h"
#include "persistence/save_and_clear.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::WaitUntil;

// 2023-11-15 00:02:00 UTC: a whole day of fake time before the next midnight reset.
constexpr std::int64_t kStart = 1'700'006'520;

Ipv4Address Remote(int index) {
  return MakeIpv4(10, 1, static_cast<std::uint8_t>(index / 256), static_cast<std::uint8_t>(index % 256));
}

TEST(WorkerThreadsTest, CaptureWorkerResolverAndReaderRunTogetherAndTotalsAddUp) {
  constexpr int kRemotes = 200, kNamedRemotes = 50, kPackets = 30'000;
  const std::uint16_t kLocalPorts[] = {5000, 5001, 5002};  // app.exe, hidden.exe, no owner
  const Ipv4Address interface = MakeIpv4(192, 168, 1, 2);
  EngineState state;
  state.settings.interfaceAddress = interface;
  state.filters = FilterSet{{FilterRule{"<ANY>", "hidden.exe"}}, FilterMode::kBlackList};
  testing::FakeClock clock(kStart);
  testing::FakeOwnerSource owners;
  owners.SetOwners({SocketOwner{5000, false, 1, true, "app.exe", "/usr/bin/app"},
                    SocketOwner{5001, false, 2, true, "hidden.exe", "/usr/bin/hidden"}});
  LocalSources sources(owners, clock);
  ASSERT_TRUE(sources.RunPass());
  testing::FakeNameResolver names;
  for (int i = 0; i < kNamedRemotes; ++i) names.SetReverse(Remote(i), "r" + std::to_string(i) + ".example");
  HostResolverPool pool(state, names, clock, 4);
  pool.Start();
  const auto logs = std::filesystem::path(::testing::TempDir()) / "worker_threads_logs";
  Worker worker(state, sources, pool, names, clock,
                [&](std::int64_t now) { return CutToTrafficLog(state, logs, now, false, true); });
  RunFlag workerRun;
  workerRun.Set(true);
  std::thread workerThread([&] { worker.WorkerThread(workerRun); });

  // The user interface: try-lock snapshots, and now and then a sort thread.
  std::atomic<bool> reading{true};
  std::atomic<int> snapshots{0};
  std::thread reader([&] {
    std::vector<std::thread> sorts;
    for (int attempt = 1; reading; ++attempt) {
      if (state.listMutex.try_lock()) {
        const FlowRowsSnapshot snapshot = state.rows.Snapshot();
        state.listMutex.unlock();
        for (const auto& entry : *snapshot.rows) {
          if (!entry.row || entry.row->columns[kColumnRemote].empty()) ADD_FAILURE() << "broken row";
        }
        ++snapshots;
      }
      if (attempt % 200 == 0 && sorts.size() < 20) {
        sorts.emplace_back([&state, attempt] { SortFlowList(state, attempt % kFlowColumnCount, attempt % 400 == 0); });
      }
      std::this_thread::yield();
    }
    for (auto& sort : sorts) sort.join();
  });

  // The capture thread.
  std::uint64_t sent = 0;
  std::thread producer([&] {
    Accountant accountant(state, sources, clock);
    std::mt19937 random(7);
    for (int i = 0; i < kPackets; ++i) {
      const Ipv4Address remote = Remote(static_cast<int>(random() % kRemotes));
      const std::uint16_t localPort = kLocalPorts[random() % 3];
      const bool outgoing = random() % 2 == 0;
      PacketFacts packet;
      packet.source = outgoing ? interface : remote;
      packet.destination = outgoing ? remote : interface;
      packet.sourcePort = outgoing ? localPort : 443;
      packet.destinationPort = outgoing ? 443 : localPort;
      packet.protocol = 6;
      packet.length = static_cast<std::uint16_t>(40 + random() % 1460);
      accountant.AccountPacket(packet);
      sent += packet.length;
    }
  });
  producer.join();
  // Every event becomes due as the worker's sleeps move the fake clock.
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(state.queueMutex);
    return state.events.empty();
  }));
  workerRun.Set(false);
  workerThread.join();  // the cycle that took the last events has applied them
  ASSERT_TRUE(WaitUntil([&] { return pool.Idle(); }));
  reading = false;
  reader.join();
  pool.Stop();
  std::filesystem::remove_all(logs);
  EXPECT_GT(snapshots.load(), 0);
  ASSERT_LT(clock.NowSeconds() - kStart, 23 * 3600) << "a midnight reset would have cleared the totals";

  std::lock_guard list(state.listMutex);
  std::lock_guard stat(state.statMutex);
  const TrafficStats& stats = state.stats;
  std::uint64_t inFlows = 0, inRemotes = 0;
  for (const auto& [key, flow] : stats.flows) inFlows += flow.download + flow.upload;
  for (const auto* remotes : {&stats.downloadRemotes, &stats.uploadRemotes}) {
    for (const auto& [address, total] : *remotes) inRemotes += total.bytes;
  }
  EXPECT_EQ(inFlows, sent);
  EXPECT_EQ(stats.tickDownload + stats.tickUpload, sent);
  EXPECT_EQ(inRemotes, sent);
  // Each shown flow has one row with its final totals; hidden flows have none.
  std::size_t shown = 0;
  for (const auto& [key, flow] : stats.flows) {
    const std::string address = IpToText(key.remoteAddress);
    const auto id = state.rows.FindRowByEndpoint(address + ": " + std::to_string(key.remotePort), key.localSource);
    const bool hidden = key.localSource.find("hidden.exe") != std::string::npos;
    ASSERT_EQ(id.has_value(), !hidden) << address << " " << key.localSource;
    if (hidden) continue;
    ++shown;
    const FlowRowPtr row = state.rows.Get(*id);
    EXPECT_EQ(row->columns[kColumnDownload], FormatBytes(flow.download));
    EXPECT_EQ(row->columns[kColumnUpload], FormatBytes(flow.upload));
    EXPECT_EQ(row->columns[kColumnHost], names.ReverseLookup(key.remoteAddress).value_or(address));
  }
  EXPECT_EQ(state.rows.Size(), shown);
}

// A flow is shown exactly when the rules admit it with its address text and,
// once known, its host name; hidden flows stay hidden without a decision per
// event, and their names are still looked up.
TEST(WorkerHostFiltersTest, RowsFollowTheRulesWithAddressAndName) {
  const struct Case {
    const char* name;
    FilterMode mode;
    FilterRule rule;
    const char* reverse;  // nullptr: no reverse entry
    bool shownUnnamed, shownNamed;
  } cases[] = {
      {"white list by name", FilterMode::kWhiteList, {"example", "<ANY>"}, "www.example", false, true},
      {"white list by address", FilterMode::kWhiteList, {"10.0.0", "<ANY>"}, "www.example", true, true},
      {"black list by name", FilterMode::kBlackList, {"ads.", "app"}, "ads.example", true, false},
      {"black list by address", FilterMode::kBlackList, {"10.0.0", "<ANY>"}, "www.example", false, false},
      {"black list, other source", FilterMode::kBlackList, {"ads.", "other"}, "ads.example", true, true},
      {"white list by name, no name", FilterMode::kWhiteList, {"example", "<ANY>"}, nullptr, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineState state;
    state.filters = FilterSet{{c.rule}, c.mode};
    testing::FakeClock clock(kStart);
    testing::FakeOwnerSource owners;
    owners.SetOwners({SocketOwner{5000, false, 1, true, "app.exe", "/usr/bin/app"}});
    LocalSources sources(owners, clock);
    ASSERT_TRUE(sources.RunPass());
    testing::FakeNameResolver names;
    const Ipv4Address remote = MakeIpv4(10, 0, 0, 5);
    if (c.reverse) names.SetReverse(remote, c.reverse);
    HostResolverPool pool(state, names, clock, 1);
    Worker worker(state, sources, pool, names, clock, {});
    const FlowKey key{sources.LookupLocalSource(5000, 6), 5000, remote, 443};
    const auto cycle = [&](std::uint64_t download) {
      std::unique_lock stat(state.statMutex);
      state.stats.flows[key].download = download;
      stat.unlock();
      std::unique_lock queue(state.queueMutex);
      state.events.push_back(PacketEvent{key, 6, clock.NowSeconds() - 3, {}});
      queue.unlock();
      worker.RunCycle();
    };
    const auto shown = [&]() -> std::optional<FlowRow> {
      std::lock_guard lock(state.listMutex);
      const auto id = state.rows.FindRowByEndpoint("10.0.0.5: 443", key.localSource);
      return id ? std::optional(*state.rows.Get(*id)) : std::nullopt;
    };
    cycle(100);  // the resolver is not running yet: decided by the address
    EXPECT_EQ(shown().has_value(), c.shownUnnamed);
    pool.Start();
    ASSERT_TRUE(WaitUntil([&] { return pool.Idle(); }));
    EXPECT_EQ(shown().has_value(), c.shownNamed);
    const std::int64_t slept = clock.TotalSlept();
    for (std::uint64_t download : {200, 300}) {
      cycle(download);
      EXPECT_EQ(shown().has_value(), c.shownNamed) << "before any name is applied again";
    }
    ASSERT_TRUE(WaitUntil([&] { return pool.Idle(); }));
    EXPECT_EQ(clock.TotalSlept() - slept, 2 * Worker::kCycleMilliseconds) << "no new row after the first";
    EXPECT_EQ(pool.LookupsMade(), 1u);
    if (const auto row = shown()) {
      EXPECT_EQ(row->columns[kColumnHost], c.reverse ? c.reverse : "10.0.0.5");
      EXPECT_EQ(row->columns[kColumnDownload], "300 B");
    }
    pool.Stop();
  }
}

TEST(WorkerThreadsTest, AStoppedWorkerEndsWhileAForwardLookupHangs) {
  EngineState state;
  testing::FakeClock clock(kStart);
  testing::FakeOwnerSource owners;
  LocalSources sources(owners, clock);
  testing::GatedResolver names;
  {
    HostResolverPool pool(state, names, clock, 1);
    Worker worker(state, sources, pool, names, clock, {});
    state.proxyEvents.push_back(ProxyEvent{"www.example", 5000, kStart - 3, 100, Direction::kOutgoing});
    RunFlag run;
    run.Set(true);
    std::thread thread([&] { worker.WorkerThread(run); });
    ASSERT_TRUE(WaitUntil([&] { return names.Started() == 1; }));
    run.Set(false);
    thread.join();  // with the lookup still blocked
  }
  names.Release();
  ASSERT_TRUE(WaitUntil([&] { return names.Returned() == 1; }));
}

}  // namespace
}  // namespace quorvel
