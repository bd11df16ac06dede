// Row lookups at 1,000 and 100,000 rows. The indexed lookup must not grow
// with the list: with the same 1,000 looked-up rows its time stays flat, and
// spread over all 100,000 rows it grows only by cache misses; a scan from the
// top (what the lookups replace) is shown for contrast. Ratios are printed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/flow_rows.h"

namespace quorvel {
namespace {

std::string Remote(int i) {
  return "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255) + ": 443";
}
std::string Source(int i) { return "app.exe(" + std::to_string(1000 + i % 7) + "): " + std::to_string(1024 + i % 60000); }

struct Fixture {
  FlowRows store;
  std::vector<std::pair<std::string, std::string>> keys;

  explicit Fixture(int rows) {
    for (int i = 0; i < rows; ++i) {
      FlowRow row;
      row.columns[kColumnRemote] = Remote(i);
      row.columns[kColumnHost] = "host" + std::to_string(i);
      row.columns[kColumnLocalSource] = Source(i);
      store.InsertTop(std::move(row));
      keys.emplace_back(Remote(i), Source(i));
    }
  }
  // Indexes of `count` distinct random rows, cycled through by a benchmark.
  std::vector<std::size_t> Picks(std::size_t count) const {
    std::vector<std::size_t> all(keys.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::shuffle(all.begin(), all.end(), std::mt19937(1));
    all.resize(std::min(count, all.size()));
    return all;
  }
};

// (benchmark, rows, distinct rows looked up) -> ns per lookup
std::map<std::tuple<std::string, long, long>, double> results;

void BM_FindRowByEndpoint(benchmark::State& state) {
  const Fixture fixture(static_cast<int>(state.range(0)));
  const auto picks = fixture.Picks(static_cast<std::size_t>(state.range(1)));
  std::size_t next = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    const auto& [remote, source] = fixture.keys[picks[next]];
    next = next + 1 == picks.size() ? 0 : next + 1;
    const auto id = fixture.store.FindRowByEndpoint(remote, source);
    found += id.has_value();
    benchmark::DoNotOptimize(id);
  }
  if (found != static_cast<std::size_t>(state.iterations())) state.SkipWithError("a row was not found");
  state.counters["ns_per_lookup"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FindRowByEndpoint)->Args({1000, 1000})->Args({100'000, 1000})->Args({100'000, 100'000});

// The scan from the top that a list without indexes needs.
void BM_ScanFromTop(benchmark::State& state) {
  const Fixture fixture(static_cast<int>(state.range(0)));
  const auto snapshot = fixture.store.Snapshot();
  const auto picks = fixture.Picks(static_cast<std::size_t>(state.range(1)));
  std::size_t next = 0;
  for (auto _ : state) {
    const auto& [remote, source] = fixture.keys[picks[next]];
    next = next + 1 == picks.size() ? 0 : next + 1;
    RowId found = 0;
    for (const auto& entry : *snapshot.rows) {
      if (entry.row->columns[kColumnRemote] == remote && entry.row->columns[kColumnLocalSource] == source) {
        found = entry.id;
        break;
      }
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_ScanFromTop)->Args({1000, 1000})->Args({100'000, 1000});

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      long rows = 0;
      long distinct = 0;
      std::sscanf(run.run_name.args.c_str(), "%ld/%ld", &rows, &distinct);
      results[{run.run_name.function_name, rows, distinct}] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  using quorvel::results;
  benchmark::Initialize(&argc, argv);
  quorvel::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double small = results[{"BM_FindRowByEndpoint", 1000, 1000}];
  const double sameRows = results[{"BM_FindRowByEndpoint", 100'000, 1000}];
  const double allRows = results[{"BM_FindRowByEndpoint", 100'000, 100'000}];
  const double scanSmall = results[{"BM_ScanFromTop", 1000, 1000}];
  const double scanLarge = results[{"BM_ScanFromTop", 100'000, 1000}];
  if (small > 0 && scanSmall > 0) {
    std::printf("flow rows: lookup %.0f ns at 1,000 rows, %.0f ns at 100,000 rows (same 1,000 rows looked up), "
                "ratio %.2f; %.0f ns over all 100,000 rows, ratio %.2f (cache misses only)\n",
                small, sameRows, sameRows / small, allRows, allRows / small);
    std::printf("flow rows: scan from the top %.0f ns at 1,000 rows, %.0f ns at 100,000 rows, ratio %.1f\n", scanSmall,
                scanLarge, scanLarge / scanSmall);
  }
  benchmark::Shutdown();
  return 0;
}
