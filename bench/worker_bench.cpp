// One worker cycle applying one due event to each of 100,000 flows that
// already have rows (new-row pauses and the cycle's sleep cost nothing on the
// fake clock). Target: at most 200 ms per cycle.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <mutex>

#include "attribution/host_resolver.h"
#include "attribution/local_sources.h"
#include "engine/worker.h"
#include "common/format.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

constexpr std::int64_t kStart = 1'700'050'000;

FlowKey KeyOf(int i) {
  const std::uint32_t localPort = 1024 + static_cast<std::uint32_t>(i % 60000);
  const Ipv4Address remote = MakeIpv4(10, static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8),
                                      static_cast<std::uint8_t>(i));
  return FlowKey{ProtocolSourceText(localPort, 6), localPort, remote, 443};
}

void BM_WorkerCycleUpdatesExistingRows(benchmark::State& state) {
  const int flows = static_cast<int>(state.range(0));
  testing::FakePlatform fakes;
  fakes.clock.SetSeconds(kStart);
  EngineState engine;
  LocalSources sources(fakes.owners, fakes.clock);  // not started: protocol texts
  HostResolverPool resolver(engine, fakes.names, fakes.clock);
  Worker worker(engine, sources, resolver, fakes.names, fakes.clock, {});
  for (int i = 0; i < flows; ++i) {
    const FlowKey key = KeyOf(i);
    engine.stats.flows[key] = TrafficFlow{key.remoteAddress, 1000, 2000};
    FlowRow row;
    row.columns[kColumnRemote] = Ipv4ToText(key.remoteAddress) + ": 443";
    row.columns[kColumnHost] = Ipv4ToText(key.remoteAddress);
    row.columns[kColumnLocalSource] = key.localSource;
    row.columns[kColumnFirstActivity] = FormatTimestamp(kStart - 100);
    row.columns[kColumnLastActivity] = row.columns[kColumnFirstActivity];
    engine.rows.InsertTop(std::move(row));
  }

  double worstMilliseconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fakes.clock.SetSeconds(kStart);
    {
      std::lock_guard lock(engine.queueMutex);
      for (int i = 0; i < flows; ++i) engine.events.push_back(PacketEvent{KeyOf(i), 6, kStart - 3});
    }
    state.ResumeTiming();
    const auto started = std::chrono::steady_clock::now();
    worker.RunCycle();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
    worstMilliseconds = std::max(worstMilliseconds, took.count());
  }
  if (!engine.events.empty() || engine.rows.Size() != static_cast<std::size_t>(flows)) {
    state.SkipWithError("events were not all applied");
  }
  state.SetItemsProcessed(state.iterations() * flows);
  state.counters["events_per_s"] = benchmark::Counter(static_cast<double>(state.iterations() * flows),
                                                      benchmark::Counter::kIsRate);
  state.counters["worst_cycle_ms"] = worstMilliseconds;
  std::printf("worker: %d due events on existing rows, worst cycle %.1f ms (target 200 ms)\n", flows,
              worstMilliseconds);
}
BENCHMARK(BM_WorkerCycleUpdatesExistingRows)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
