// 10,000 new addresses, each with a row, against a stub resolver that answers
// at once: the pool never creates more threads than its size.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "engine/host_resolver.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

class StubResolver final : public NameResolver {
 public:
  std::string HostName() override { return "stub"; }
  std::vector<Ipv4Address> ResolveIpv4(const std::string&) override { return {}; }
  std::vector<IpAddress> ResolveIpv6(const std::string&) override { return {}; }
  std::optional<std::string> ReverseLookup(const IpAddress& address) override {
    return "host-" + IpToText(address) + ".example";
  }
};

void BM_ResolveNewAddresses(benchmark::State& state) {
  const int addresses = static_cast<int>(state.range(0));
  std::size_t threads = 0;
  for (auto _ : state) {
    state.PauseTiming();
    EngineState engine;
    StubResolver names;
    testing::FakeClock clock;
    HostResolverPool pool(engine, names, clock);
    for (int i = 0; i < addresses; ++i) {
      const Ipv4Address address = MakeIpv4(10, 2, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i));
      FlowRow row;
      row.columns[kColumnRemote] = Ipv4ToText(address) + ": 80";
      row.columns[kColumnHost] = Ipv4ToText(address);
      engine.rows.InsertTop(std::move(row));
    }
    pool.Start();
    state.ResumeTiming();
    for (int i = 0; i < addresses; ++i) {
      // As the worker does: under listMutex, right after inserting the row.
      std::lock_guard lock(engine.listMutex);
      pool.Request(MakeIpv4(10, 2, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)));
    }
    while (!pool.Idle()) std::this_thread::yield();
    state.PauseTiming();
    threads = std::max(threads, pool.ThreadsCreated());
    if (pool.LookupsMade() != static_cast<std::uint64_t>(addresses)) state.SkipWithError("lookups lost or repeated");
    for (const auto& entry : *engine.rows.Snapshot().rows) {
      if (entry.row->columns[kColumnHost].rfind("host-", 0) != 0) state.SkipWithError("a row was not named");
    }
    pool.Stop();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * addresses);
  state.counters["threads_created"] = static_cast<double>(threads);
  state.counters["pool_size"] = static_cast<double>(HostResolverPool::kDefaultThreads);
  std::printf("host resolver: %d new addresses, %zu threads created (pool size %zu)\n", addresses, threads,
              HostResolverPool::kDefaultThreads);
}
BENCHMARK(BM_ResolveNewAddresses)->Arg(10'000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
