// Cost of one share-pie rebuild from a large remote map, as the one-second
// timer does it for each direction with statMutex held.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>

#include "common/ipv4.h"
#include "graphs/chart.h"
#include "graphs/recording_canvas.h"
#include "graphs/share_pie.h"

namespace {

using quorvel::RemoteMap;

RemoteMap MakeRemotes(int count) {
  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::uint64_t> bytes(40, 50'000'000);
  RemoteMap remotes;
  remotes.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto n = static_cast<std::uint32_t>(i);
    const quorvel::Ipv4Address address =
        quorvel::MakeIpv4(198, static_cast<std::uint8_t>(18 + (n >> 16)),
                          static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n));
    // Every fourth remote has a resolved host name longer than the short-string buffer.
    std::string name = i % 4 == 0 ? "host-" + std::to_string(i) + ".resolved.example.net"
                                  : quorvel::Ipv4ToText(address);
    remotes[address] = {std::move(name), bytes(random)};
  }
  return remotes;
}

void BM_BuildSharePie(benchmark::State& state) {
  const RemoteMap remotes = MakeRemotes(static_cast<int>(state.range(0)));
  std::unique_ptr<quorvel::CChart> chart;
  double totalMs = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    quorvel::BuildSharePie(remotes, chart);
    totalMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                   .count();
    benchmark::DoNotOptimize(chart.get());
  }
  state.counters["ms_per_build"] = benchmark::Counter(totalMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BuildSharePie)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_DrawSharePie(benchmark::State& state) {
  const RemoteMap remotes = MakeRemotes(100'000);
  std::unique_ptr<quorvel::CChart> chart;
  quorvel::BuildSharePie(remotes, chart);
  for (auto _ : state) {
    quorvel::RecordingCanvas canvas({400, 300}, {7, 14, 16});
    chart->DrawChart(canvas);
    benchmark::DoNotOptimize(canvas.Primitives().data());
  }
}
BENCHMARK(BM_DrawSharePie)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
