#include "engine/save_and_clear.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "persistence/traffic_log.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::FakeClock;

class SaveAndClearTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::path(::testing::TempDir()) /
                 ("save_and_clear_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  void Fill() {
    for (const char* remote : {"10.0.0.1: 80", "10.0.0.2: 443"}) {
      FlowRow row;
      row.columns = {remote, "host", "1.50 KB", "512 B", "2.00 KB", "app(1): 5", "t1", "t2", "/bin/app"};
      std::lock_guard lock(state_.listMutex);
      state_.rows.InsertTop(row);
    }
    std::lock_guard lock(state_.statMutex);
    state_.stats.flows[FlowKey{"app(1): 5", 5, MakeIpv4(10, 0, 0, 1), 80}] = TrafficFlow{1, 2};
    state_.stats.proxyFlows.push_back(ProxyFlow{5, "h", "app(1): 5", 1, 1});
    state_.stats.cumulativeDownload = 100;
    state_.stats.cumulativeUpload = 200;
    state_.stats.downloadRemotes[MakeIpv4(10, 0, 0, 1)] = RemoteTotal{"10.0.0.1", 2};
    state_.stats.uploadRemotes[MakeIpv4(10, 0, 0, 1)] = RemoteTotal{"10.0.0.1", 1};
  }
  // Everything that the command empties, as counts.
  std::array<std::size_t, 7> Counts() {
    std::size_t rows;
    {
      std::lock_guard lock(state_.listMutex);
      rows = state_.rows.Size();
    }
    std::lock_guard lock(state_.statMutex);
    const auto& stats = state_.stats;
    return {rows,
            stats.flows.size(),
            stats.proxyFlows.size(),
            static_cast<std::size_t>(stats.cumulativeDownload),
            static_cast<std::size_t>(stats.cumulativeUpload),
            stats.downloadRemotes.size(),
            stats.uploadRemotes.size()};
  }

  EngineState state_;
  FakeClock clock_{1'700'000'000};
  std::filesystem::path directory_;
};

TEST_F(SaveAndClearTest, WritesTheRowsTopToBottomThenClearsEverything) {
  Fill();
  ASSERT_TRUE(SaveAndClear(state_, directory_, clock_).ok);
  EXPECT_EQ(Counts(), (std::array<std::size_t, 7>{0, 0, 0, 0, 0, 0, 0}));

  const auto logs = ListLogs(directory_);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].displayText, "2023-11-14 22:13:20");
  // The file holds the bottom row first, so the viewer shows list order.
  const auto saved = ReadTrafficLog(directory_ / logs[0].fileName);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0][kColumnRemote], "10.0.0.1: 80");
  EXPECT_EQ(saved[1][kColumnRemote], "10.0.0.2: 443");
  EXPECT_EQ(saved[1][kColumnDownload], "1.50 KB");
  EXPECT_EQ(saved[1][kColumnFullPath], "/bin/app");

  // A second save within the same second does not overwrite the first.
  Fill();
  ASSERT_TRUE(SaveAndClear(state_, directory_, clock_).ok);
  EXPECT_EQ(ListLogs(directory_).size(), 2u);
}

TEST_F(SaveAndClearTest, TheRemoteMapsAreClearedLastInsideGraphMutex) {
  Fill();
  std::unique_lock graph(state_.graphMutex);  // the pie chart is being drawn
  std::thread command([this] { EXPECT_TRUE(SaveAndClear(state_, directory_, clock_).ok); });
  const auto rowCount = [this] {
    std::lock_guard lock(state_.listMutex);
    return state_.rows.Size();
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (rowCount() != 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(rowCount(), 0u);
  // The rows are gone while the remote maps wait for graphMutex, inside statMutex.
  const auto statHeld = [this] {
    if (!state_.statMutex.try_lock()) return true;
    state_.statMutex.unlock();
    return false;
  };
  while (!statHeld() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(statHeld());
  graph.unlock();
  command.join();
  EXPECT_EQ(Counts(), (std::array<std::size_t, 7>{0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(SaveAndClearTest, AnEmptyListStillClearsTheTotals) {
  Fill();
  {
    std::lock_guard lock(state_.listMutex);
    state_.rows.Clear();
  }
  ASSERT_TRUE(SaveAndClear(state_, directory_, clock_).ok);
  EXPECT_EQ(Counts(), (std::array<std::size_t, 7>{0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(SaveAndClearTest, WhenTheLogCannotBeWrittenNothingIsCleared) {
  // A plain file stands where the log directory should be.
  std::filesystem::create_directories(directory_.parent_path());
  { std::ofstream(directory_.string()) << "not a directory"; }
  Fill();
  const auto before = Counts();
  const Status status = SaveAndClear(state_, directory_, clock_);
  EXPECT_FALSE(status.ok);
  EXPECT_EQ(status.error.rfind("Can't write to ", 0), 0u) << status.error;
  EXPECT_EQ(Counts(), before);
}

}  // namespace
}  // namespace quorvel
