#include "persistence/save_and_clear.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/accounting.h"
#include "engine/worker.h"
#include "persistence/traffic_log.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::FakeClock;

constexpr std::int64_t kStart = 1'700'006'520;  // 2023-11-15 00:02:00 UTC
const Ipv4Address kInterface = MakeIpv4(192, 168, 1, 2);

class SaveAndClearTest : public ::testing::Test {
 protected:
  SaveAndClearTest() {
    directory_ = std::filesystem::path(::testing::TempDir()) /
                 ("save_and_clear_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(directory_);
    state_.settings.interfaceAddress = kInterface;
    owners_.SetOwners({SocketOwner{5000, false, 1, true, "app", "/usr/bin/app"},
                       SocketOwner{5001, false, 2, true, "hidden", "/usr/bin/hidden"}});
    EXPECT_TRUE(sources_.RunPass());
    state_.filters.rules = {FilterRule{"<ANY>", "hidden"}};
  }
  ~SaveAndClearTest() override { std::filesystem::remove_all(directory_); }

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
  static std::uint64_t Bytes(const FlowRowTexts& row) {
    return static_cast<std::uint64_t>(ByteTextValue(row[kColumnTotal]));
  }
  std::uint64_t ListBytes() {
    std::lock_guard lock(state_.listMutex);
    std::uint64_t sum = 0;
    for (const auto& row : state_.rows.TextsTopDown()) sum += Bytes(row);
    return sum;
  }
  std::uint64_t LogBytes() {
    std::uint64_t sum = 0;
    for (const auto& log : ListLogs(directory_)) {
      for (const auto& row : ReadTrafficLog(directory_ / log.fileName)) sum += Bytes(row);
    }
    return sum;
  }
  // What a cut empties, as counts: rows, flows, proxy flows, cumulative DL and UL, remote maps.
  std::array<std::uint64_t, 7> Counts() {
    std::lock_guard list(state_.listMutex);
    std::lock_guard stat(state_.statMutex);
    const auto& stats = state_.stats;
    return {state_.rows.Size(),          stats.flows.size(),          stats.proxyFlows.size(),
            stats.cumulativeDownload,    stats.cumulativeUpload,      stats.downloadRemotes.size(),
            stats.uploadRemotes.size()};
  }

  EngineState state_;
  FakeClock clock_{kStart};
  testing::FakeOwnerSource owners_;
  testing::FakeNameResolver names_;
  LocalSources sources_{owners_, clock_};
  HostResolverPool resolver_{state_, names_, clock_, 1};  // not started
  Accountant accountant_{state_, sources_, clock_};
  Worker worker_{state_, sources_, resolver_, names_, clock_, {}};
  std::filesystem::path directory_;
};

TEST_F(SaveAndClearTest, TheLogAndTheNewListHoldExactlyWhatWasCounted) {
  std::uint64_t shown = 0;
  for (std::uint8_t remote : {1, 2}) {
    Send(5000, remote);
    shown += 100;
  }
  Send(5001, 1);  // hidden: in neither
  Drain();
  // Counted after the rows were last refreshed, and a flow whose row is still to come.
  clock_.Advance(1000);
  Send(5000, 1);
  Send(5000, 3);
  Send(5001, 3);
  shown += 200;
  {
    std::lock_guard stat(state_.statMutex);
    state_.stats.cumulativeDownload = 700;
    state_.stats.proxyFlows.push_back(ProxyFlow{5000, "proxied.example", "app(1): 5000", 0, 0});
  }
  ASSERT_TRUE(SaveAndClear(state_, directory_, clock_).ok);
  EXPECT_EQ(Counts(), (std::array<std::uint64_t, 7>{}));
  EXPECT_EQ(LogBytes(), shown);
  const auto saved = ReadTrafficLog(directory_ / ListLogs(directory_).at(0).fileName);
  EXPECT_EQ(saved.size(), 3u);

  // The waiting events find no flow; new packets start new rows.
  Send(5000, 1);
  Send(5000, 4);
  shown += 200;
  Drain();
  EXPECT_EQ(LogBytes() + ListBytes(), shown);
}

TEST_F(SaveAndClearTest, WhatIsClearedWhenTheLogCannotBeWrittenOrACutRuns) {
  const struct Case {
    const char* name;
    bool rows;
    bool unwritable;
    bool cutRunning;
    bool ok;
    bool cleared;
    std::size_t logs;
  } cases[] = {
      {"rows", true, false, false, true, true, 1},
      {"an empty list still clears the totals", false, false, false, true, true, 1},
      {"unwritable log", true, true, false, false, false, 0},
      {"a second click while one runs", true, false, true, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(directory_);
    if (c.unwritable) {
      std::filesystem::create_directories(directory_.parent_path());
      std::ofstream(directory_.string()) << "a file where the directory should be";
    }
    if (c.rows) {
      Send(5000, 1);
      Drain();
    }
    {
      std::lock_guard stat(state_.statMutex);
      state_.stats.cumulativeUpload = 100;
      state_.stats.downloadRemotes[1] = RemoteTotal{"x", 1};
    }
    const auto before = Counts();
    state_.cuttingLog = c.cutRunning;
    const Status status = SaveAndClear(state_, directory_, clock_);
    state_.cuttingLog = false;
    EXPECT_EQ(status.ok, c.ok) << status.error;
    if (!c.ok) {
      EXPECT_EQ(status.error.rfind("Can't write to ", 0), 0u) << status.error;
    }
    EXPECT_EQ(Counts(), (c.cleared ? std::array<std::uint64_t, 7>{} : before));
    EXPECT_EQ(ListLogs(directory_).size(), c.logs);
    std::filesystem::remove_all(directory_);
    ASSERT_TRUE(SaveAndClear(state_, directory_, clock_).ok);
  }
}

}  // namespace
}  // namespace quorvel
