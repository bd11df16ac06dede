#include "mainwindow/ui/flow_list_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "mainwindow/ui/gui_test_support.h"

QUORVEL_GUI_TEST_LEAK_SUPPRESSIONS()

namespace quorvel {
namespace {

using testing::GuiApp;

FlowRow MakeRow(const std::string& remote, const std::string& download, const std::string& source = "app(1): 80") {
  FlowRow row;
  row.columns = {remote, remote.substr(0, remote.find(':')), download, "0 B", download, source,
                 "2024-01-01 10:00:00", "2024-01-01 10:00:00", "/usr/bin/app"};
  return row;
}

// The model's texts, top to bottom, column 0 only.
std::vector<std::string> Remotes(const FlowListModel& model) {
  std::vector<std::string> remotes;
  for (int row = 0; row < model.rowCount(); ++row) {
    remotes.push_back(model.data(model.index(row, kColumnRemote)).toString().toStdString());
  }
  return remotes;
}

std::vector<std::string> Remotes(const FlowRowsSnapshot& snapshot) {
  std::vector<std::string> remotes;
  for (const auto& entry : *snapshot.rows) remotes.push_back(entry.row->columns[kColumnRemote]);
  return remotes;
}

class FlowListModelTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  void SetUp() override { GuiApp(); }

  // Applies the store's current rows and checks the model shows exactly them.
  void Show() {
    const FlowRowsSnapshot snapshot = rows.Snapshot();
    model.ShowSnapshot(snapshot);
    ASSERT_EQ(Remotes(model), Remotes(snapshot));
    for (int row = 0; row < model.rowCount(); ++row) {
      ASSERT_EQ(model.RowAt(row), (*snapshot.rows)[static_cast<std::size_t>(row)].row);
    }
  }

  FlowRows rows;
  FlowListModel model;
  QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
  QSignalSpy resets{&model, &QAbstractItemModel::modelReset};
};

TEST_F(FlowListModelTest, FollowsEveryKindOfChangeWithoutAReset) {
  const RowId a = rows.InsertTop(MakeRow("10.0.0.1: 80", "512 B"));
  Show();
  const RowId b = rows.InsertTop(MakeRow("10.0.0.2: 80", "1.00 KB"));
  rows.InsertTop(MakeRow("10.0.0.3: 80", "1.00 MB"));
  Show();  // two inserts at the top

  QPersistentModelIndex followed = model.index(2, 0);  // row a
  rows.SortByColumn(kColumnDownload, true);
  Show();  // a re-order
  EXPECT_EQ(followed.row(), 0);
  EXPECT_EQ(followed.data().toString(), QStringLiteral("10.0.0.1: 80"));

  rows.Update(b, [](FlowRow& row) { row.columns[kColumnDownload] = "2.00 KB"; });
  rows.Erase(a);
  rows.InsertTop(MakeRow("10.0.0.4: 80", "1 B"));
  Show();  // an update, a removal and an insert at once

  rows.SetSelected(b, true);
  Show();
  const std::vector<std::string> shown = Remotes(model);
  const int bRow = static_cast<int>(std::find(shown.begin(), shown.end(), "10.0.0.2: 80") - shown.begin());
  EXPECT_TRUE(model.data(model.index(bRow, 0), FlowListModel::kSelectedRole).toBool());

  rows.Clear();
  Show();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(resets.count(), 0);
}

TEST_F(FlowListModelTest, SignalsOnlyTheChangedRows) {
  std::vector<RowId> ids;
  for (int i = 0; i < 10; ++i) ids.push_back(rows.InsertTop(MakeRow("10.0.0." + std::to_string(i) + ": 80", "1 B")));
  Show();
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  rows.Update(ids[3], [](FlowRow& row) { row.columns[kColumnDownload] = "9 B"; });  // shown at row 6
  rows.Update(ids[4], [](FlowRow& row) { row.columns[kColumnDownload] = "9 B"; });  // row 5
  rows.Update(ids[8], [](FlowRow& row) { row.columns[kColumnDownload] = "9 B"; });  // row 1
  Show();
  ASSERT_EQ(changed.count(), 2);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 1);
  EXPECT_EQ(changed[0][1].toModelIndex().row(), 1);
  EXPECT_EQ(changed[1][0].toModelIndex().row(), 5);
  EXPECT_EQ(changed[1][1].toModelIndex().row(), 6);
  EXPECT_EQ(changed[1][1].toModelIndex().column(), kFlowColumnCount - 1);
  EXPECT_EQ(inserted.count(), 0);

  changed.clear();
  Show();  // the same snapshot again: nothing
  EXPECT_EQ(changed.count(), 0);
}

TEST_F(FlowListModelTest, ByteCellsHaveTheirValueAndCellsPastTheEndAreEmpty) {
  rows.InsertTop(MakeRow("10.0.0.9: 443", "1.50 KB"));
  Show();
  EXPECT_DOUBLE_EQ(model.data(model.index(0, kColumnDownload), FlowListModel::kRawValueRole).toDouble(), 1536.0);
  EXPECT_EQ(model.data(model.index(0, kColumnHost), FlowListModel::kRawValueRole).toString(), QStringLiteral("10.0.0.9"));
  EXPECT_EQ(model.Cell(5, kColumnHost), "");  // past the last row: an empty cell
  EXPECT_EQ(model.Cell(0, kFlowColumnCount), "");
}

TEST_F(FlowListModelTest, RefreshNeverWaitsForTheListLock) {
  std::mutex listMutex;
  rows.InsertTop(MakeRow("10.0.0.1: 80", "1 B"));
  EXPECT_EQ(RefreshFromRows(model, listMutex, rows), RefreshResult::kUpdated);
  EXPECT_EQ(RefreshFromRows(model, listMutex, rows), RefreshResult::kUnchanged);

  rows.InsertTop(MakeRow("10.0.0.2: 80", "1 B"));
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    std::lock_guard lock(listMutex);
    held = true;
    while (!release) std::this_thread::yield();
  });
  while (!held) std::this_thread::yield();
  EXPECT_EQ(RefreshFromRows(model, listMutex, rows), RefreshResult::kBusy);
  EXPECT_EQ(model.rowCount(), 1);  // the old picture stays
  release = true;
  holder.join();
  EXPECT_EQ(RefreshFromRows(model, listMutex, rows), RefreshResult::kUpdated);
  EXPECT_EQ(model.rowCount(), 2);
}

TEST_F(FlowListModelTest, LargeReordersAndScatteredRemovals) {
  std::vector<RowId> ids;
  for (int i = 0; i < 300; ++i) {
    ids.push_back(rows.InsertTop(MakeRow("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ": 80",
                                         std::to_string((i * 7919) % 1000) + " B")));
  }
  Show();
  for (std::size_t i = 0; i < ids.size(); i += 3) rows.Erase(ids[i]);
  rows.SortByColumn(kColumnDownload, false);
  for (int i = 0; i < 5; ++i) rows.InsertTop(MakeRow("192.0.2." + std::to_string(i) + ": 53", "5 B"));
  Show();
  EXPECT_EQ(resets.count(), 0);
}

TEST_F(FlowListModelTest, WritesTheRowsAsTabSeparatedLines) {
  FlowRow row = MakeRow("10.0.0.1: 80", "512 B");
  row.selected = true;
  rows.InsertTop(row);
  Show();
  const auto path = std::filesystem::temp_directory_path() / ("quorvel_rows_" + std::to_string(::getpid()) + ".txt");
  ASSERT_TRUE(WriteModelRows(model, path).ok);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "10.0.0.1: 80\t10.0.0.1\t512 B\t0 B\t512 B\tapp(1): 80\t2024-01-01 10:00:00\t2024-01-01 10:00:00\t"
            "/usr/bin/app\tselected\n");
  std::filesystem::remove(path);
  EXPECT_FALSE(WriteModelRows(model, "/nonexistent-dir/rows.txt").ok);
}

}  // namespace
}  // namespace quorvel
