// Cost of quorvel-flows' exports per flow: one snapshot of the flow table,
// then IPFIX records, the CSV table and the Prometheus text made from it.
#include <benchmark/benchmark.h>

#include "engine/engine_state.h"
#include "tools/export/flow_snapshot.h"
#include "tools/export/flow_table_csv.h"
#include "tools/export/ipfix_exporter.h"
#include "tools/export/prometheus_text.h"

namespace quorvel {
namespace {

void FillFlows(EngineState& state, int count, std::uint64_t round) {
  std::lock_guard lock(state.statMutex);
  for (int i = 0; i < count; ++i) {
    TrafficFlow& flow = state.stats.flows[FlowKey{"firefox-esr(" + std::to_string(1000 + i % 50) + "): " +
                                                      std::to_string(40000 + i),
                                                  static_cast<std::uint32_t>(40000 + i),
                                                  MakeIpv4(198, 18, static_cast<std::uint8_t>(i / 250),
                                                           static_cast<std::uint8_t>(i % 250)),
                                                  443}];
    flow.localAddress = MakeIpv4(198, 18, 0, 1);
    flow.protocol = 6;
    flow.uploadPackets = flow.downloadPackets = round;
    flow.upload = round * 100;
    flow.download = round * 1400;
    flow.firstMicroseconds = 1'700'000'000'000'000;
    flow.lastMicroseconds = flow.firstMicroseconds + static_cast<std::int64_t>(round) * 1'000'000;
  }
}

void BM_Snapshot(benchmark::State& bench) {
  EngineState state;
  FillFlows(state, static_cast<int>(bench.range(0)), 1);
  for (auto _ : bench) benchmark::DoNotOptimize(TakeFlowSnapshot(state));
  bench.SetItemsProcessed(bench.iterations() * bench.range(0));
}

// Every flow has news and falls due: the worst tick.
void BM_IpfixRecords(benchmark::State& bench) {
  EngineState state;
  ipfix::RecordTracker tracker(ipfix::Timeouts{});
  ipfix::MessageBuilder builder(1);
  std::uint64_t round = 1;
  for (auto _ : bench) {
    bench.PauseTiming();
    FillFlows(state, static_cast<int>(bench.range(0)), round++);
    const FlowSnapshot flows = TakeFlowSnapshot(state);
    bench.ResumeTiming();
    benchmark::DoNotOptimize(builder.DataMessages(tracker.Due(flows, 0, true), 0));
  }
  bench.SetItemsProcessed(bench.iterations() * bench.range(0));
}

void BM_CsvTable(benchmark::State& bench) {
  EngineState state;
  FillFlows(state, static_cast<int>(bench.range(0)), 1);
  const FlowSnapshot flows = TakeFlowSnapshot(state);
  for (auto _ : bench) benchmark::DoNotOptimize(FlowTableCsv(flows));
  bench.SetItemsProcessed(bench.iterations() * bench.range(0));
}

void BM_PrometheusText(benchmark::State& bench) {
  EngineState state;
  FillFlows(state, static_cast<int>(bench.range(0)), 1);
  const FlowSnapshot flows = TakeFlowSnapshot(state);
  for (auto _ : bench) benchmark::DoNotOptimize(PrometheusText(flows, CaptureCounts{}));
  bench.SetItemsProcessed(bench.iterations() * bench.range(0));
}

BENCHMARK(BM_Snapshot)->Arg(10'000);
BENCHMARK(BM_IpfixRecords)->Arg(10'000);
BENCHMARK(BM_CsvTable)->Arg(10'000);
BENCHMARK(BM_PrometheusText)->Arg(10'000);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
