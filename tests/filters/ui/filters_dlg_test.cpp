#include "filters/ui/filters_dlg.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "filters/filters_file.h"
#include "filters/ui/dialog_controls.h"
#include "filters/ui/dialog_test_support.h"
#include "filters/ui/new_filter_dlg.h"
#include "mainwindow/ui/gui_test_support.h"
#include "persistence/scratch_directory.h"

QUORVEL_GUI_TEST_LEAK_SUPPRESSIONS()

namespace quorvel {
namespace {

using testing::AnswerNextDialog;
using testing::Control;
using testing::FakeMessageBoxes;
using testing::GoldenFile;
using testing::PixelsNear;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

const QColor kFiltersCaption(10, 10, 155);
const QColor kNewFilterText(50, 0, 225);

class FiltersDlgTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  DataDirectory Data() const { return DataDirectory(scratch.path()); }
  std::filesystem::path FiltersFile() const { return scratch / "filters.dat"; }

  // Presses "&Add filter..." and types the two patterns into the New filter dialog.
  static void AddFilter(CFiltersDlg& dialog, const QString& remote, const QString& local) {
    AnswerNextDialog<CNewFilterDlg>([remote, local](CNewFilterDlg& newFilter) {
      Control<QLineEdit>(newFilter, CNewFilterDlg::kIdRemoteEdit).setText(remote);
      Control<QLineEdit>(newFilter, CNewFilterDlg::kIdLocalEdit).setText(local);
      Control<QPushButton>(newFilter, kIdOk).click();
    });
    Control<QPushButton>(dialog, CFiltersDlg::kIdAddFilter).click();
  }

  static std::vector<std::vector<std::string>> Cells(const CFiltersDlg& dialog) {
    auto& list = Control<QTableWidget>(dialog, CFiltersDlg::kIdList);
    std::vector<std::vector<std::string>> cells;
    for (int row = 0; row < list.rowCount(); ++row) {
      cells.push_back({list.item(row, 0)->text().toStdString(), list.item(row, 1)->text().toStdString()});
    }
    return cells;
  }

  static void SelectRows(CFiltersDlg& dialog, std::initializer_list<int> rows) {
    auto& list = Control<QTableWidget>(dialog, CFiltersDlg::kIdList);
    list.clearSelection();
    for (const int row : rows) {
      list.setRangeSelected(QTableWidgetSelectionRange(row, 0, row, 1), true);
    }
  }

  ScratchDirectory scratch;
  FakeMessageBoxes boxes;
};

TEST_F(FiltersDlgTest, ShowsTheControlsWithTheirTextsAndColours) {
  CFiltersDlg dialog(Data(), boxes);
  EXPECT_EQ(dialog.windowTitle(), "Filters");
  EXPECT_TRUE(Control<QPushButton>(dialog, kIdOk).isDefault());
  auto& list = Control<QTableWidget>(dialog, CFiltersDlg::kIdList);
  ASSERT_EQ(list.columnCount(), 2);
  EXPECT_EQ(list.horizontalHeaderItem(0)->text(), "Remote host");
  EXPECT_EQ(list.horizontalHeaderItem(1)->text(), "Local source");

  dialog.show();
  for (const auto& [id, caption] : {std::pair{CFiltersDlg::kIdModeGroup, "Use filters as:"},
                                    std::pair{CFiltersDlg::kIdListGroup, "Filter list:"}}) {
    auto& group = Control<QGroupBox>(dialog, id);
    EXPECT_EQ(group.title(), caption);
    EXPECT_GT(PixelsNear(group, kFiltersCaption), 5) << caption << " is not drawn in RGB(10, 10, 155)";
  }
  // The caption colour stays on the caption.
  EXPECT_EQ(PixelsNear(Control<QRadioButton>(dialog, CFiltersDlg::kIdBlackList), kFiltersCaption), 0);
}

TEST_F(FiltersDlgTest, NewFilterDialogColoursEveryTextButTheTwoLabels) {
  CNewFilterDlg dialog(boxes);
  EXPECT_EQ(dialog.windowTitle(), "New filter");
  dialog.show();
  auto& heading = Control<QLabel>(dialog, CNewFilterDlg::kIdHeading);
  EXPECT_EQ(heading.text(), "Please input the new connection filter rules");
  EXPECT_EQ(heading.font().weight(), QFont::Bold);
  EXPECT_EQ(Control<QLabel>(dialog, CNewFilterDlg::kIdExamples).text(), "Examples:");
  EXPECT_EQ(Control<QLabel>(dialog, CNewFilterDlg::kIdExamples).font().weight(), QFont::Bold);
  EXPECT_EQ(Control<QLabel>(dialog, CNewFilterDlg::kIdRemoteLabel).text(), "Remote host:");
  EXPECT_EQ(Control<QLabel>(dialog, CNewFilterDlg::kIdLocalLabel).text(), "Local source:");
  EXPECT_TRUE(Control<QPushButton>(dialog, kIdOk).isDefault());

  bool sawExplanation = false;
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    const int id = ControlId(*label);
    const bool plain = id == CNewFilterDlg::kIdRemoteLabel || id == CNewFilterDlg::kIdLocalLabel;
    sawExplanation |= label->text() == "Filter matches the connection if:";
    if (plain) {
      EXPECT_EQ(PixelsNear(*label, kNewFilterText), 0) << label->text().toStdString();
    } else {
      EXPECT_GT(PixelsNear(*label, kNewFilterText), 3) << label->text().toStdString();
    }
  }
  EXPECT_TRUE(sawExplanation);
}

TEST_F(FiltersDlgTest, FirstLineOfTheFileGivesTheMode) {
  for (const char* firstLine : {"", "1", "2", "0", "x", "12"}) {  // "": no file
    std::filesystem::remove(FiltersFile());
    if (*firstLine != '\0') WriteBytes(FiltersFile(), std::string(firstLine) + "\r\n");
    CFiltersDlg dialog(Data(), boxes);
    const bool black = *firstLine == '\0' || std::string(firstLine) == "1";
    EXPECT_EQ(Control<QRadioButton>(dialog, CFiltersDlg::kIdBlackList).isChecked(), black) << firstLine;
    EXPECT_EQ(dialog.Mode(), black ? FilterMode::kBlackList : FilterMode::kWhiteList) << firstLine;
    EXPECT_TRUE(Cells(dialog).empty());
  }
}

TEST_F(FiltersDlgTest, AddRemoveAndOkWriteTheListTopFirst) {
  CFiltersDlg dialog(Data(), boxes);
  AddFilter(dialog, "", "");
  AddFilter(dialog, "my host", "iexplorer");
  AddFilter(dialog, "10.1.1", "my app.exe");
  const std::vector<std::vector<std::string>> added = {
      {"10.1.1", "my app.exe"}, {"my host", "iexplorer"}, {"<ANY>", "<ANY>"}};
  EXPECT_EQ(Cells(dialog), added);

  // Only the first selected row goes.
  SelectRows(dialog, {1, 2});
  Control<QPushButton>(dialog, CFiltersDlg::kIdRemoveFilter).click();
  const std::vector<std::vector<std::string>> left = {{"10.1.1", "my app.exe"}, {"<ANY>", "<ANY>"}};
  EXPECT_EQ(Cells(dialog), left);
  // Without a selection nothing goes.
  SelectRows(dialog, {});
  Control<QPushButton>(dialog, CFiltersDlg::kIdRemoveFilter).click();
  EXPECT_EQ(Cells(dialog), left);

  Control<QRadioButton>(dialog, CFiltersDlg::kIdWhiteList).click();
  Control<QPushButton>(dialog, kIdOk).click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(boxes.requests.empty());
  EXPECT_EQ(ReadBytes(FiltersFile()), ReadBytes(GoldenFile(__FILE__, "add_remove.dat")));

  // Cleared, a white list is one line.
  CFiltersDlg reopened(Data(), boxes);
  Control<QPushButton>(reopened, CFiltersDlg::kIdClearFilters).click();
  EXPECT_TRUE(Cells(reopened).empty());
  Control<QPushButton>(reopened, kIdOk).click();
  EXPECT_EQ(ReadBytes(FiltersFile()), ReadBytes(GoldenFile(__FILE__, "white_list_empty.dat")));
}

TEST_F(FiltersDlgTest, OpenAndOkReversesTheRules) {
  WriteBytes(FiltersFile(), ReadBytes(GoldenFile(__FILE__, "../../golden/filters.dat")));
  {
    CFiltersDlg dialog(Data(), boxes);
    const std::vector<std::vector<std::string>> shown = {{"<ANY>", "my app.exe"}, {"10.1.1", "iexplorer"}};
    EXPECT_EQ(Cells(dialog), shown);
    Control<QPushButton>(dialog, kIdOk).click();
  }
  EXPECT_EQ(ReadBytes(FiltersFile()), ReadBytes(GoldenFile(__FILE__, "reversed.dat")));
  {
    CFiltersDlg dialog(Data(), boxes);
    Control<QPushButton>(dialog, kIdOk).click();
  }
  EXPECT_EQ(ReadBytes(FiltersFile()), ReadBytes(GoldenFile(__FILE__, "../../golden/filters.dat")));
}

TEST_F(FiltersDlgTest, CancelWritesNothingAndACancelledNewFilterAddsNothing) {
  WriteBytes(FiltersFile(), "1\r\n10.1.1 iexplorer\r\n");
  CFiltersDlg dialog(Data(), boxes);
  AnswerNextDialog<CNewFilterDlg>([](CNewFilterDlg& newFilter) {
    Control<QLineEdit>(newFilter, CNewFilterDlg::kIdRemoteEdit).setText("10.9.9");
    Control<QPushButton>(newFilter, kIdCancel).click();
  });
  Control<QPushButton>(dialog, CFiltersDlg::kIdAddFilter).click();
  EXPECT_EQ(Cells(dialog).size(), 1u);
  AddFilter(dialog, "a", "b");
  Control<QPushButton>(dialog, kIdCancel).click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(ReadBytes(FiltersFile()), "1\r\n10.1.1 iexplorer\r\n");
}

TEST_F(FiltersDlgTest, UnwritableFileKeepsTheDialogOpenWithItsRows) {
  WriteBytes(scratch / "file", "not a directory");
  const DataDirectory data(scratch / "file" / "data");
  CFiltersDlg dialog(data, boxes);
  dialog.show();
  AddFilter(dialog, "10.1.1", "iexplorer");
  Control<QPushButton>(dialog, kIdOk).click();

  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].text, "Can't write to " + (scratch / "file" / "data" / "filters.dat").string());
  EXPECT_EQ(boxes.requests[0].title, "Error");
  EXPECT_EQ(boxes.requests[0].icon, MessageIcon::kStop);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  const std::vector<std::vector<std::string>> kept = {{"10.1.1", "iexplorer"}};
  EXPECT_EQ(Cells(dialog), kept);
}

TEST_F(FiltersDlgTest, PatternTheFileCannotStoreIsRefusedInTheNewFilterDialog) {
  CFiltersDlg dialog(Data(), boxes);
  bool stayedOpen = false;
  AnswerNextDialog<CNewFilterDlg>([&stayedOpen](CNewFilterDlg& newFilter) {
    Control<QLineEdit>(newFilter, CNewFilterDlg::kIdRemoteEdit)
        .setText(QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac.jp"));
    Control<QPushButton>(newFilter, kIdOk).click();
    stayedOpen = newFilter.isVisible();
    // The typed text is still there to correct.
    EXPECT_EQ(newFilter.RemotePattern(), "\xe6\x97\xa5\xe6\x9c\xac.jp");
    Control<QPushButton>(newFilter, kIdCancel).click();
  });
  Control<QPushButton>(dialog, CFiltersDlg::kIdAddFilter).click();
  EXPECT_TRUE(stayedOpen);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_NE(boxes.requests[0].text.find("U+65E5"), std::string::npos) << boxes.requests[0].text;
  EXPECT_EQ(boxes.requests[0].title, "Error");
  EXPECT_TRUE(Cells(dialog).empty());
  EXPECT_FALSE(std::filesystem::exists(FiltersFile()));
}

TEST_F(FiltersDlgTest, NewFilterOffersTheTextsAsTyped) {
  CNewFilterDlg dialog(boxes);
  Control<QLineEdit>(dialog, CNewFilterDlg::kIdRemoteEdit).setText("  10.1.1 ");
  Control<QLineEdit>(dialog, CNewFilterDlg::kIdLocalEdit).setText("caf\xc3\xa9");
  Control<QPushButton>(dialog, kIdOk).click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.RemotePattern(), "  10.1.1 ");
  EXPECT_EQ(dialog.LocalPattern(), "caf\xc3\xa9");
}

}  // namespace
}  // namespace quorvel
