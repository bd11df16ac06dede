// The flow list's refresh on the user-interface thread with 100,000 rows:
// the snapshot taken under listMutex plus the model's update, with a table
// view attached. Target: at most 10 ms per refresh.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableView>
#include <clocale>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine/flow_rows.h"
#include "mainwindow/ui/flow_list_model.h"

namespace quorvel {
namespace {

constexpr int kRows = 100'000;

// Texts are built with snprintf: GCC 12 warns falsely on chains of string +.
std::string Text(const char* format, int a, int b = 0, int c = 0, int d = 0) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
  return buffer;
}

FlowRow MakeRow(int i) {
  FlowRow row;
  const std::string address = Text("10.%d.%d.%d", i / 65536, i / 256 % 256, i % 256);
  row.columns = {address + ": 443", address, Text("%d B", i % 1000), "1.00 KB", "1.50 KB",
                 Text("app(%d): %d", i % 5000, 1024 + i % 60000), "2024-03-01 08:00:00", "2024-03-01 08:00:01",
                 "/usr/bin/app"};
  return row;
}

struct Fixture {
  std::mutex listMutex;
  FlowRows rows;
  std::vector<RowId> ids;
  FlowListModel model;
  QTableView view;
  int next = kRows;

  Fixture() {
    for (int i = 0; i < kRows; ++i) ids.push_back(rows.InsertTop(MakeRow(i)));
    view.setModel(&model);
    view.resize(1000, 600);
    RefreshFromRows(model, listMutex, rows);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// Changes one column of ten rows spread over the list.
void UpdateTenRows(Fixture& fixture, int round, int column) {
  for (int k = 0; k < 10; ++k) {
    const RowId id = fixture.ids[static_cast<std::size_t>((round * 7919 + k * 104729) % kRows)];
    fixture.rows.Update(id, [&](FlowRow& row) { row.columns[static_cast<std::size_t>(column)] = Text("%d B", round); });
  }
}

void Refresh(benchmark::State& state, Fixture& fixture) {
  state.ResumeTiming();
  const RefreshResult result = RefreshFromRows(fixture.model, fixture.listMutex, fixture.rows);
  state.PauseTiming();
  benchmark::DoNotOptimize(result);
}

void BM_RefreshUnchanged(benchmark::State& state) {
  Fixture& fixture = Shared();
  for (auto _ : state) {
    benchmark::DoNotOptimize(RefreshFromRows(fixture.model, fixture.listMutex, fixture.rows));
  }
}

void BM_RefreshTenUpdatedRows(benchmark::State& state) {
  Fixture& fixture = Shared();
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    UpdateTenRows(fixture, round++, kColumnDownload);
    Refresh(state, fixture);
    state.ResumeTiming();
  }
}

void BM_RefreshTenNewRowsAtTheTop(benchmark::State& state) {
  Fixture& fixture = Shared();
  for (auto _ : state) {
    state.PauseTiming();
    for (int k = 0; k < 10; ++k) fixture.ids.push_back(fixture.rows.InsertTop(MakeRow(fixture.next++)));
    Refresh(state, fixture);
    state.ResumeTiming();
  }
}

void BM_RefreshAfterSort(benchmark::State& state) {
  Fixture& fixture = Shared();
  bool ascending = false;
  for (auto _ : state) {
    state.PauseTiming();
    fixture.rows.SortByColumn(kColumnLocalSource, ascending);
    ascending = !ascending;
    Refresh(state, fixture);
    state.ResumeTiming();
  }
}

// The core's share of a refresh: the snapshot taken under listMutex.
void BM_SnapshotAfterTenUpdates(benchmark::State& state) {
  Fixture& fixture = Shared();
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    UpdateTenRows(fixture, round++, kColumnUpload);
    state.ResumeTiming();
    benchmark::DoNotOptimize(fixture.rows.Snapshot());
  }
  RefreshFromRows(fixture.model, fixture.listMutex, fixture.rows);
}

void BM_SnapshotAfterSort(benchmark::State& state) {
  Fixture& fixture = Shared();
  bool ascending = true;
  for (auto _ : state) {
    state.PauseTiming();
    fixture.rows.SortByColumn(kColumnHost, ascending);
    ascending = !ascending;
    state.ResumeTiming();
    benchmark::DoNotOptimize(fixture.rows.Snapshot());
  }
  RefreshFromRows(fixture.model, fixture.listMutex, fixture.rows);
}

// The model's share of a refresh after a sort: the re-order alone.
void BM_ShowSortedSnapshot(benchmark::State& state) {
  Fixture& fixture = Shared();
  fixture.rows.SortByColumn(kColumnHost, true);
  const FlowRowsSnapshot byHost = fixture.rows.Snapshot();
  fixture.rows.SortByColumn(kColumnLocalSource, true);
  const FlowRowsSnapshot bySource = fixture.rows.Snapshot();
  bool flip = false;
  for (auto _ : state) {
    fixture.model.ShowSnapshot(flip ? byHost : bySource);
    flip = !flip;
  }
  RefreshFromRows(fixture.model, fixture.listMutex, fixture.rows);
}

BENCHMARK(BM_ShowSortedSnapshot)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SnapshotAfterSort)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SnapshotAfterTenUpdates)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshTenUpdatedRows)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_RefreshTenNewRowsAtTheTop)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_RefreshAfterSort)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
