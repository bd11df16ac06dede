#include "persistence/ui/logs_dlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <string>
#include <utility>
#include <vector>

#include "filters/ui/dialog_controls.h"
#include "mainwindow/ui/gui_test_support.h"
#include "persistence/scratch_directory.h"
#include "persistence/ui/log_rows_model.h"

namespace quorvel {
namespace {

using testing::ScratchDirectory;
using testing::WriteBytes;
using Cells = std::vector<std::string>;

// A log line with the given remote, host and DL fields; blanks as "_".
std::string Line(const std::string& remote, const std::string& host, const std::string& download) {
  return remote + " " + host + " " + download + " 0_B " + download +
         " curl(42):_5000 2024-03-01_08:00:00 2024-03-01_08:00:09 /usr/bin/curl\r\n";
}

class LogsDlgTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  static QComboBox& LogList(const CLogsDlg& dialog) { return *FindControl<QComboBox>(dialog, CLogsDlg::kIdLogList); }
  static QTableView& View(const CLogsDlg& dialog) { return *FindControl<QTableView>(dialog, CLogsDlg::kIdRows); }
  // Picks a line as the user does.
  static void Choose(CLogsDlg& dialog, const QString& text) {
    const int line = LogList(dialog).findText(text, Qt::MatchExactly);
    ASSERT_GE(line, 0) << text.toStdString();
    LogList(dialog).setCurrentIndex(line);
    emit LogList(dialog).activated(line);
  }
  static Cells Column(const CLogsDlg& dialog, int column) {
    Cells cells;
    for (const LogRow& row : dialog.Model().Rows()) cells.push_back(row[static_cast<std::size_t>(column)]);
    return cells;
  }

  ScratchDirectory scratch;
};

TEST_F(LogsDlgTest, ShowsTheColumnsAsSpecified) {
  CLogsDlg dialog(scratch.path());
  EXPECT_EQ(dialog.windowTitle(), "Logs");
  const std::pair<const char*, int> columns[] = {{"Remote IP: port", 110}, {"Remote host", 100}, {"DL", 65},
                                                 {"UL", 65}, {"DL & UL", 80}, {"Local source(PID): port", 130},
                                                 {"First activity", 115}, {"Last activity", 115},
                                                 {"Full path", -1}};  // the last one stretches
  ASSERT_EQ(View(dialog).model()->columnCount(), 9);
  for (int column = 0; column < 9; ++column) {
    EXPECT_EQ(View(dialog).model()->headerData(column, Qt::Horizontal).toString(), columns[column].first);
    if (columns[column].second > 0) {
      EXPECT_EQ(View(dialog).columnWidth(column), columns[column].second) << column;
    }
  }
}

TEST_F(LogsDlgTest, OffersLogsByDisplayTextAfterThePlaceholderAndLoadsEveryLogOfTheChosenText) {
  const struct {
    std::vector<std::pair<const char*, std::string>> files;
    QStringList lines;
    const char* choose;  // nullptr: nothing chosen
    Cells hosts;         // column 1 after the choice, top first
  } cases[] = {
      {{{"b.log", ""}, {"a.log", ""}, {"c.txt", ""}, {"Report.v2.log", ""}, {"2005-10-12_14t30t05.log", ""},
        {"Zed.log", ""}},
       {"<Select a log!>", "2005-10-12 14:30:05", "a", "b", "Repor:", "Zed"},
       nullptr,
       {}},
      {{{"notes.txt", ""}}, {"<No logs available>"}, "<No logs available>", {}},
      // Both a.log and a.old.log are shown as "a"; lines go to the top file
      // after file, in directory order.
      {{{"a.log", Line("10.0.0.1:_80", "a1", "1_B") + Line("10.0.0.2:_80", "a2", "2_B")},
        {"a.old.log", Line("10.0.0.3:_80", "old1", "3_B")},
        {"b.log", Line("10.0.0.4:_80", "b1", "4_B")}},
       {"<Select a log!>", "a", "a", "b"},
       "a",
       {"old1", "a2", "a1"}},
  };
  for (const auto& test : cases) {
    ScratchDirectory directory;
    for (const auto& [name, bytes] : test.files) WriteBytes(directory / name, bytes);
    CLogsDlg dialog(directory.path());
    SCOPED_TRACE(test.lines.join(QStringLiteral(", ")).toStdString());
    QStringList lines;
    for (int i = 0; i < LogList(dialog).count(); ++i) lines.push_back(LogList(dialog).itemText(i));
    EXPECT_EQ(lines, test.lines);
    EXPECT_EQ(LogList(dialog).currentIndex(), 0);
    if (test.choose != nullptr) Choose(dialog, QString::fromLatin1(test.choose));
    EXPECT_EQ(Column(dialog, 1), test.hosts);
  }
}

TEST_F(LogsDlgTest, ShowsTheLastLineOnTopAndHeaderClicksSortLargestFirst) {
  WriteBytes(scratch / "2005-10-12_14t30t05.log", Line("10.0.0.1:_80", "beta.example", "1.50_KB") +
                                                       Line("10.0.0.2:_80", "alpha.example", "900_B") +
                                                       Line("10.0.0.3:_80", "gamma.example", "2.00_MB"));
  CLogsDlg dialog(scratch.path());
  dialog.show();
  Choose(dialog, "2005-10-12 14:30:05");
  EXPECT_EQ(dialog.Model().Rows().front(),
            (LogRow{"10.0.0.3: 80", "gamma.example", "2.00 MB", "0 B", "2.00 MB", "curl(42): 5000",
                    "2024-03-01 08:00:00", "2024-03-01 08:00:09", "/usr/bin/curl"}));
  EXPECT_EQ(Column(dialog, 1), (Cells{"gamma.example", "alpha.example", "beta.example"}));
  const QAbstractItemModel& model = *View(dialog).model();
  EXPECT_FALSE(model.data(model.index(0, 0), Qt::DecorationRole).value<QIcon>().isNull()) << "the row icon";
  EXPECT_TRUE(model.data(model.index(0, 2), Qt::TextAlignmentRole).value<Qt::Alignment>().testFlag(Qt::AlignRight));

  QHeaderView* header = View(dialog).horizontalHeader();
  const auto click = [header](int column) {
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  };
  for (int again = 0; again < 2; ++again) {  // no ascending order
    click(2);
    EXPECT_EQ(Column(dialog, 2), (Cells{"2.00 MB", "1.50 KB", "900 B"})) << again;
  }
  click(1);
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), "gamma.example");
  EXPECT_EQ(Column(dialog, 1), (Cells{"gamma.example", "beta.example", "alpha.example"}));

  Choose(dialog, "<Select a log!>");
  EXPECT_TRUE(dialog.Model().Rows().empty()) << "the placeholder empties the list";
}

TEST_F(LogsDlgTest, ExportsTheChosenLogAsShown) {
  WriteBytes(scratch / "a.log", Line("10.0.0.1:_80", "one,host", "900_B") + Line("10.0.0.2:_80", "two", "2.00_MB"));
  testing::FakeMessageBoxes messages;
  std::string path = (scratch / "a.csv").string();
  CLogsDlg dialog(scratch.path());
  dialog.SetExportParts(&messages, [&path](QWidget*, const QString&, const QString&) {
    return std::optional<QString>(QString::fromStdString(path));
  });
  auto* exportButton = dialog.findChild<QPushButton*>(QStringLiteral("exportCsvButton"));
  ASSERT_NE(exportButton, nullptr);
  EXPECT_FALSE(exportButton->isEnabled()) << "no log chosen yet";
  Choose(dialog, "a");
  exportButton->click();
  EXPECT_TRUE(messages.requests.empty());
  // The view shows the file's last line first; the counts a log lacks stay empty.
  const std::string tail = "curl(42): 5000,2024-03-01 08:00:00,2024-03-01 08:00:09,/usr/bin/curl,,\r\n";
  const std::string csv = testing::ReadBytes(path);
  EXPECT_EQ(csv.substr(csv.find("\r\n") + 2),
            "10.0.0.2: 80,two,2.00 MB,0 B,2.00 MB," + tail + "10.0.0.1: 80,\"one,host\",900 B,0 B,900 B," + tail);

  path = (scratch / "a.log" / "x.csv").string();  // below a file: cannot be written
  exportButton->click();
  ASSERT_EQ(messages.requests.size(), 1u);
  EXPECT_EQ(messages.requests[0].text, "Can't write to " + path);
  EXPECT_EQ(messages.requests[0].title, "Error");
}

}  // namespace
}  // namespace quorvel
