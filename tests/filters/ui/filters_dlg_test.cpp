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
using testing::GoldenFile;
using testing::PixelsNear;
using testing::ReadBytes;
using testing::WriteBytes;
using Cells = std::vector<std::vector<std::string>>;

const QColor kFiltersCaption(10, 10, 155);
const QColor kNewFilterText(50, 0, 225);

class FiltersDlgTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  DataDirectory Data() const { return DataDirectory(scratch.path()); }
  std::filesystem::path FiltersFile() const { return scratch / "filters.dat"; }
  static void Click(QWidget& dialog, int id) { Control<QPushButton>(dialog, id).click(); }

  // Presses "&Add filter..." and types the two patterns into the New filter dialog.
  static void AddFilter(CFiltersDlg& dialog, const QString& remote, const QString& local, int button = kIdOk) {
    AnswerNextDialog<CNewFilterDlg>([remote, local, button](CNewFilterDlg& newFilter) {
      Control<QLineEdit>(newFilter, CNewFilterDlg::kIdRemoteEdit).setText(remote);
      Control<QLineEdit>(newFilter, CNewFilterDlg::kIdLocalEdit).setText(local);
      Click(newFilter, button);
    });
    Click(dialog, CFiltersDlg::kIdAddFilter);
  }
  static Cells Shown(const CFiltersDlg& dialog) {
    auto& list = Control<QTableWidget>(dialog, CFiltersDlg::kIdList);
    Cells cells;
    for (int row = 0; row < list.rowCount(); ++row) {
      cells.push_back({list.item(row, 0)->text().toStdString(), list.item(row, 1)->text().toStdString()});
    }
    return cells;
  }

  testing::ScratchDirectory scratch;
  testing::FakeMessageBoxes boxes;
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

  CNewFilterDlg newFilter(boxes);
  EXPECT_EQ(newFilter.windowTitle(), "New filter");
  EXPECT_TRUE(Control<QPushButton>(newFilter, kIdOk).isDefault());
  newFilter.show();
  const std::pair<int, const char*> labels[] = {
      {CNewFilterDlg::kIdHeading, "Please input the new connection filter rules"},
      {CNewFilterDlg::kIdExamples, "Examples:"},
      {CNewFilterDlg::kIdRemoteLabel, "Remote host:"},
      {CNewFilterDlg::kIdLocalLabel, "Local source:"}};
  for (const auto& [id, text] : labels) EXPECT_EQ(Control<QLabel>(newFilter, id).text(), text);
  EXPECT_EQ(Control<QLabel>(newFilter, CNewFilterDlg::kIdHeading).font().weight(), QFont::Bold);
  EXPECT_EQ(Control<QLabel>(newFilter, CNewFilterDlg::kIdExamples).font().weight(), QFont::Bold);
  // Every text but the two field labels is coloured.
  bool sawExplanation = false;
  for (QLabel* label : newFilter.findChildren<QLabel*>()) {
    const int id = ControlId(*label);
    const bool plain = id == CNewFilterDlg::kIdRemoteLabel || id == CNewFilterDlg::kIdLocalLabel;
    sawExplanation |= label->text() == "Filter matches the connection if:";
    EXPECT_EQ(PixelsNear(*label, kNewFilterText) > 3, !plain) << label->text().toStdString();
  }
  EXPECT_TRUE(sawExplanation);
}

TEST_F(FiltersDlgTest, FirstLineOfTheFileGivesTheMode) {
  for (const std::string firstLine : {"", "1", "2", "0", "x", "12"}) {  // "": no file
    std::filesystem::remove(FiltersFile());
    if (!firstLine.empty()) WriteBytes(FiltersFile(), firstLine + "\r\n");
    CFiltersDlg dialog(Data(), boxes);
    const bool black = firstLine.empty() || firstLine == "1";
    EXPECT_EQ(Control<QRadioButton>(dialog, CFiltersDlg::kIdBlackList).isChecked(), black) << firstLine;
    EXPECT_EQ(dialog.Mode(), black ? FilterMode::kBlackList : FilterMode::kWhiteList) << firstLine;
    EXPECT_TRUE(Shown(dialog).empty());
  }
}

TEST_F(FiltersDlgTest, AddRemoveAndOkWriteTheListTopFirst) {
  CFiltersDlg dialog(Data(), boxes);
  AddFilter(dialog, "", "");
  AddFilter(dialog, "my host", "iexplorer");
  AddFilter(dialog, "10.1.1", "my app.exe");
  EXPECT_EQ(Shown(dialog), (Cells{{"10.1.1", "my app.exe"}, {"my host", "iexplorer"}, {"<ANY>", "<ANY>"}}));
  // Only the first selected row goes; without a selection nothing goes.
  auto& list = Control<QTableWidget>(dialog, CFiltersDlg::kIdList);
  list.setRangeSelected(QTableWidgetSelectionRange(1, 0, 2, 1), true);
  Click(dialog, CFiltersDlg::kIdRemoveFilter);
  const Cells left = {{"10.1.1", "my app.exe"}, {"<ANY>", "<ANY>"}};
  EXPECT_EQ(Shown(dialog), left);
  list.clearSelection();
  Click(dialog, CFiltersDlg::kIdRemoveFilter);
  EXPECT_EQ(Shown(dialog), left);
  Control<QRadioButton>(dialog, CFiltersDlg::kIdWhiteList).click();
  Click(dialog, kIdOk);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(boxes.requests.empty());
  EXPECT_EQ(ReadBytes(FiltersFile()), ReadBytes(GoldenFile(__FILE__, "add_remove.dat")));
  // Cleared, a white list is one line.
  CFiltersDlg reopened(Data(), boxes);
  Click(reopened, CFiltersDlg::kIdClearFilters);
  EXPECT_TRUE(Shown(reopened).empty());
  Click(reopened, kIdOk);
  EXPECT_EQ(ReadBytes(FiltersFile()), ReadBytes(GoldenFile(__FILE__, "white_list_empty.dat")));
}

TEST_F(FiltersDlgTest, OpenAndOkReversesTheRules) {
  const std::string golden = ReadBytes(GoldenFile(__FILE__, "../../golden/filters.dat"));
  WriteBytes(FiltersFile(), golden);
  const std::pair<Cells, std::string> rounds[] = {
      {{{"<ANY>", "my app.exe"}, {"10.1.1", "iexplorer"}}, ReadBytes(GoldenFile(__FILE__, "reversed.dat"))},
      {{{"10.1.1", "iexplorer"}, {"<ANY>", "my app.exe"}}, golden}};
  for (const auto& [shown, written] : rounds) {
    CFiltersDlg dialog(Data(), boxes);
    EXPECT_EQ(Shown(dialog), shown);
    Click(dialog, kIdOk);
    EXPECT_EQ(ReadBytes(FiltersFile()), written);
  }
}

TEST_F(FiltersDlgTest, CancelWritesNothingAndNewFilterTakesTheTextsAsTyped) {
  WriteBytes(FiltersFile(), "1\r\n10.1.1 iexplorer\r\n");
  CFiltersDlg dialog(Data(), boxes);
  AddFilter(dialog, "10.9.9", "", kIdCancel);
  EXPECT_EQ(Shown(dialog).size(), 1u);
  AddFilter(dialog, "  10.1.1 ", "caf\xc3\xa9");
  EXPECT_EQ(Shown(dialog).front(), (std::vector<std::string>{"  10.1.1 ", "caf\xc3\xa9"}));
  Click(dialog, kIdCancel);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(ReadBytes(FiltersFile()), "1\r\n10.1.1 iexplorer\r\n");
}

TEST_F(FiltersDlgTest, UnwritableFileKeepsTheDialogOpenWithItsRows) {
  WriteBytes(scratch / "file", "not a directory");
  CFiltersDlg dialog(DataDirectory(scratch / "file" / "data"), boxes);
  dialog.show();
  AddFilter(dialog, "10.1.1", "iexplorer");
  Click(dialog, kIdOk);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].text, "Can't write to " + (scratch / "file" / "data" / "filters.dat").string());
  EXPECT_EQ(boxes.requests[0].title, "Error");
  EXPECT_EQ(boxes.requests[0].icon, MessageIcon::kStop);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(Shown(dialog), (Cells{{"10.1.1", "iexplorer"}}));
}

TEST_F(FiltersDlgTest, PatternTheFileCannotStoreIsRefusedInTheNewFilterDialog) {
  CFiltersDlg dialog(Data(), boxes);
  bool stayedOpen = false;
  AnswerNextDialog<CNewFilterDlg>([&stayedOpen](CNewFilterDlg& newFilter) {
    Control<QLineEdit>(newFilter, CNewFilterDlg::kIdRemoteEdit)
        .setText(QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac.jp"));
    Click(newFilter, kIdOk);
    stayedOpen = newFilter.isVisible();
    EXPECT_EQ(newFilter.RemotePattern(), "\xe6\x97\xa5\xe6\x9c\xac.jp") << "the typed text is still there to correct";
    Click(newFilter, kIdCancel);
  });
  Click(dialog, CFiltersDlg::kIdAddFilter);
  EXPECT_TRUE(stayedOpen);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_NE(boxes.requests[0].text.find("U+65E5"), std::string::npos) << boxes.requests[0].text;
  EXPECT_EQ(boxes.requests[0].title, "Error");
  EXPECT_TRUE(Shown(dialog).empty());
  EXPECT_FALSE(std::filesystem::exists(FiltersFile()));
}

}  // namespace
}  // namespace quorvel
