#include "persistence/save_and_clear.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/accounting.h"
#include "engine/worker.h"
#include "persistence/scratch_directory.h"
#include "persistence/traffic_log.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

const Ipv4Address kInterface = MakeIpv4(192, 168, 1, 2);
using Counts = std::array<std::uint64_t, 7>;

class SaveAndClearTest : public ::testing::Test {
 protected:
  SaveAndClearTest() {
    state_.settings.interfaceAddress = kInterface;
    owners_.SetOwners({SocketOwner{5000, false, 1, true, "app", "/usr/bin/app"},
                       SocketOwner{5001, false, 2, true, "hidden", "/usr/bin/hidden"}});
    EXPECT_TRUE(sources_.RunPass());
    state_.filters.rules = {FilterRule{"<ANY>", "hidden"}};
  }

  // One 100-byte packet from the local port to 10.0.0.<remote>:80.
  void Send(std::uint16_t localPort, std::uint8_t remote) {
    PacketFacts packet;
    packet.source = kInterface;
    packet.destination = MakeIpv4(10, 0, 0, remote);
    packet.sourcePort = localPort;
    packet.destinationPort = 80;
    packet.protocol = 6;
    packet.length = 100;
    accountant_.AccountPacket(packet);
  }
  // Worker cycles until every queued event is applied.
  void Drain() {
    for (int i = 0; i < 5; ++i) worker_.RunCycle();
  }
  static std::uint64_t Bytes(const auto& row) { return static_cast<std::uint64_t>(ByteTextValue(row[kColumnTotal])); }
  std::uint64_t ListBytes() {
    std::lock_guard lock(state_.listMutex);
    std::uint64_t sum = 0;
    for (const auto& row : state_.rows.TextsTopDown()) sum += Bytes(row);
    return sum;
  }
  std::uint64_t LogBytes() {
    std::uint64_t sum = 0;
    for (const auto& log : ListLogs(logs_.path())) {
      for (const auto& row : ReadTrafficLog(logs_ / log.fileName)) sum += Bytes(row);
    }
    return sum;
  }
  // What a cut empties: rows, flows, proxy flows, cumulative DL and UL, remote maps.
  Counts Held() {
    std::lock_guard list(state_.listMutex);
    std::lock_guard stat(state_.statMutex);
    const auto& stats = state_.stats;
    return {state_.rows.Size(),       stats.flows.size(),       stats.proxyFlows.size(),  stats.cumulativeDownload,
            stats.cumulativeUpload, stats.downloadRemotes.size(), stats.uploadRemotes.size()};
  }

  testing::ScratchDirectory logs_;
  EngineState state_;
  testing::FakeClock clock_{1'700'006'520};  // 2023-11-15 00:02:00 UTC
  testing::FakeOwnerSource owners_;
  testing::FakeNameResolver names_;
  LocalSources sources_{owners_, clock_};
  HostResolverPool resolver_{state_, names_, clock_, 1};  // not started
  Accountant accountant_{state_, sources_, clock_};
  Worker worker_{state_, sources_, resolver_, names_, clock_, {}};
};

TEST_F(SaveAndClearTest, TheLogAndTheNewListHoldExactlyWhatWasCounted) {
  Send(5000, 1);
  Send(5000, 2);
  Send(5001, 1);  // hidden: in neither
  Drain();
  // Counted after the rows were last refreshed, and a flow whose row is still to come.
  clock_.Advance(1000);
  Send(5000, 1);
  Send(5000, 3);
  Send(5001, 3);
  {
    std::lock_guard stat(state_.statMutex);
    state_.stats.cumulativeDownload = 700;
    state_.stats.proxyFlows.push_back(ProxyFlow{5000, "proxied.example", "app(1): 5000", 0, 0});
  }
  ASSERT_TRUE(SaveAndClear(state_, logs_.path(), clock_).ok);
  EXPECT_EQ(Held(), Counts{});
  EXPECT_EQ(LogBytes(), 400u);
  EXPECT_EQ(ReadTrafficLog(logs_ / ListLogs(logs_.path()).at(0).fileName).size(), 3u);

  // The waiting events find no flow; new packets start new rows.
  Send(5000, 1);
  Send(5000, 4);
  Drain();
  EXPECT_EQ(LogBytes() + ListBytes(), 600u);
}

TEST_F(SaveAndClearTest, WhatIsClearedWhenTheLogCannotBeWrittenOrACutRuns) {
  const struct {
    const char* name;
    bool rows, unwritable, cutRunning, ok, cleared;
    std::size_t logs;
  } cases[] = {
      {"rows", true, false, false, true, true, 1},
      {"an empty list still clears the totals", false, false, false, true, true, 1},
      {"unwritable log", true, true, false, false, false, 0},
      {"a second click while one runs", true, false, true, true, false, 0},
  };
  const auto directory = logs_ / "logs";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(directory);
    if (c.unwritable) std::ofstream(directory.string()) << "a file where the directory should be";
    if (c.rows) {
      Send(5000, 1);
      Drain();
    }
    {
      std::lock_guard stat(state_.statMutex);
      state_.stats.cumulativeUpload = 100;
      state_.stats.downloadRemotes[1] = RemoteTotal{"x", 1};
    }
    const Counts before = Held();
    state_.cuttingLog = c.cutRunning;
    const Status status = SaveAndClear(state_, directory, clock_);
    state_.cuttingLog = false;
    EXPECT_EQ(status.ok, c.ok) << status.error;
    if (!c.ok) {
      EXPECT_EQ(status.error.rfind("Can't write to ", 0), 0u) << status.error;
    }
    EXPECT_EQ(Held(), c.cleared ? Counts{} : before);
    EXPECT_EQ(ListLogs(directory).size(), c.logs);
    std::filesystem::remove_all(directory);
    ASSERT_TRUE(SaveAndClear(state_, directory, clock_).ok);
  }
}

}  // namespace
}  // namespace quorvel
