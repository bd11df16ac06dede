// The Traffic Spy's cost on the capture path: the check when no spy is open,
// full parse and accounting with and without an open spy, and a paced run of
// 200,000 packets a second for 10 seconds (QUORVEL_SPY_BENCH_SECONDS) into an
// open spy window, with the window's thread busy share.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "attribution/local_sources.h"
#include "engine/accounting.h"
#include "engine/capture_loop.h"
#include "mainwindow/ui/message_boxes.h"
#include "persistence/profile_store.h"
#include "spy/spy_session.h"
#include "spy/spy_text.h"
#include "spy/ui/traffic_spy_dialog.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const SpyTarget kAllTraffic{"All IP addresses", "All hosts", "All local applications", "All local applications"};

// Payloads of 0 to 1460 bytes, HTTP-like text with a NUL and binary bytes.
std::vector<std::string> Payloads() {
  std::vector<std::string> payloads;
  const std::string head = "GET /index.html HTTP/1.1\r\nHost: example.org\r\nAccept: */*\r\n\r\n";
  for (int i = 0; i < 64; ++i) {
    std::string payload;
    const std::size_t size = static_cast<std::size_t>((i * 977) % 1461);
    while (payload.size() < size) payload += head;
    payload.resize(size);
    if (size > 10) payload[size / 2] = '\0';
    payloads.push_back(std::move(payload));
  }
  return payloads;
}

struct EnginePackets {
  std::vector<std::vector<std::uint8_t>> packets;
  EnginePackets() {
    const auto payloads = Payloads();
    for (int i = 0; i < 1000; ++i) {
      const Ipv4Address remote = MakeIpv4(198, 19, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i));
      const auto port = static_cast<std::uint16_t>(20000 + i);
      const std::string& payload = payloads[static_cast<std::size_t>(i) % payloads.size()];
      packets.push_back(testing::BuildIpv4Packet({remote, kLocal, 6, 443, port, 5, payload}));
      packets.push_back(testing::BuildIpv4Packet({kLocal, remote, 6, port, 443, 5, "ack"}));
    }
  }
};

// What the capture path adds when no spy is open: one relaxed load.
void BM_SpyCheckNoSpy(benchmark::State& state) {
  SpyFeedRegistry registry;
  const std::uint8_t data[4] = {1, 2, 3, 4};
  const SpyPacket packet{"app(1): 5", kLocal, 443, data, 4, data + 4};
  for (auto _ : state) {
    benchmark::DoNotOptimize(&registry);
    if (registry.Active()) registry.Feed(packet);
  }
  state.counters["ns_per_packet"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SpyCheckNoSpy);

// Parse and accounting of established flows as bench/accounting_bench does,
// with no spy (arg 0), a spy for all traffic (1), or a spy for one flow (2).
void BM_AccountWithSpy(benchmark::State& state) {
  testing::FakePlatform fakes;
  SystemClock clock;
  EngineState engine;
  engine.settings.interfaceAddress = kLocal;
  std::vector<SocketOwner> owners;
  for (int i = 0; i < 1000; ++i) {
    owners.push_back({static_cast<std::uint16_t>(20000 + i), false, 4000 + i, true, "browser", "/usr/bin/browser"});
  }
  fakes.owners.SetOwners(owners);
  LocalSources sources(fakes.owners, clock);
  sources.RunPass();
  Accountant accountant(engine, sources, clock);
  CaptureLoop loop(accountant);
  static const EnginePackets packets;
  for (const auto& packet : packets.packets) loop.OnPacket(packet.data(), packet.size());
  const FlowKey& key = engine.stats.flows.begin()->first;
  const SpyTarget oneFlow{SpyKeyText(key.remoteAddress, key.remotePort), "h", key.localSource, ""};
  SpySession session(engine.spy, state.range(0) == 2 ? oneFlow : kAllTraffic);
  if (state.range(0) != 0) session.Open();
  std::size_t next = 0;
  std::uint64_t sinceDrain = 0;
  for (auto _ : state) {
    const auto& packet = packets.packets[next];
    loop.OnPacket(packet.data(), packet.size());
    next = next + 1 == packets.packets.size() ? 0 : next + 1;
    // The window drains 30 times a second; at 10 million packets a second
    // that is once per 300,000 packets.
    if (++sinceDrain == 300'000) {
      state.PauseTiming();
      session.Drain();
      sinceDrain = 0;
      state.ResumeTiming();
    }
  }
  session.Close();
  state.SetItemsProcessed(state.iterations());
  state.counters["ns_per_packet"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AccountWithSpy)->Arg(0)->Arg(1)->Arg(2);

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int RunSeconds() {
  const char* text = std::getenv("QUORVEL_SPY_BENCH_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 10;
  return seconds > 0 ? seconds : 10;
}

// 200,000 packets a second from a capture thread into an open spy window for
// all traffic; arg 1 adds the text filter "host" and capture to a file.
void BM_SpyWindowPaced(benchmark::State& state) {
  constexpr int kPacketsPerSecond = 200'000;
  constexpr int kPerBatch = 100;  // paced and timed 100 packets at a time
  const bool filterAndCapture = state.range(0) == 1;
  const int seconds = RunSeconds();
  const std::string capturePath = (std::filesystem::temp_directory_path() / "quorvel_spy_bench.dmp").string();
  std::filesystem::remove(capturePath);
  const auto payloads = Payloads();

  for (auto _ : state) {
    SpyFeedRegistry registry;
    MemoryProfileStore profile;
    StderrMessageBoxes messages;
    profile.SetInt(kSettingsSection, kApplyFilterValue, filterAndCapture ? 1 : 0);
    profile.SetString(kSettingsSection, kFilterTextValue, "host");
    CTrafficSpyDlg dialog(
        TrafficSpyParts{registry, profile, messages, [&](QWidget*) { return std::optional<QString>(QString::fromStdString(capturePath)); }},
        kAllTraffic);
    dialog.show();
    if (filterAndCapture) {
      dialog.OnCaptureBox(true);
      dialog.OnBrowse();
    }

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> fed{0};
    std::atomic<std::int64_t> feedNanoseconds{0};
    std::thread capture([&] {
      using Clock = std::chrono::steady_clock;
      const Clock::time_point start = Clock::now();
      std::uint64_t sent = 0;
      std::int64_t spent = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(sent * 1'000'000'000ull / kPacketsPerSecond));
        const Clock::time_point before = Clock::now();
        for (int i = 0; i < kPerBatch; ++i) {
          const std::string& payload = payloads[(sent + static_cast<std::uint64_t>(i)) % payloads.size()];
          const auto* data = reinterpret_cast<const std::uint8_t*>(payload.data());
          const SpyPacket packet{"browser(4242): 50000", kLocal, 443, data,
                                 static_cast<std::uint16_t>(payload.size() + 40), data + payload.size()};
          if (registry.Active()) registry.Feed(packet);
        }
        spent += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - before).count();
        sent += kPerBatch;
      }
      fed = sent;
      feedNanoseconds = spent;
    });

    const double cpuBefore = ThreadCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    QTimer::singleShot(seconds * 1000, &dialog, [] { QCoreApplication::quit(); });
    QApplication::exec();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    stop = true;
    capture.join();
    dialog.reject();

    const auto packets = static_cast<double>(fed.load());
    state.counters["packets_per_second"] = packets / wall;
    state.counters["added_ns_per_packet"] = static_cast<double>(feedNanoseconds.load()) / packets;
    state.counters["ui_busy_share"] = cpu / wall;
    state.counters["shown_lines"] = static_cast<double>(dialog.session().List().Lines().size());
    state.counters["capture_dropped"] = static_cast<double>(dialog.session().DroppedCapturePackets());
    if (filterAndCapture) {
      state.counters["capture_MB"] = static_cast<double>(std::filesystem::file_size(capturePath)) / 1e6;
    }
  }
  std::filesystem::remove(capturePath);
}
BENCHMARK(BM_SpyWindowPaced)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
