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

// A log line with the given remote, host and DL fields; blanks as "_".
std::string Line(const std::string& remote, const std::string& host, const std::string& download) {
  return remote + " " + host + " " + download + " 0_B " + download +
         " curl(42):_5000 2024-03-01_08:00:00 2024-03-01_08:00:09 /usr/bin/curl\r\n";
}

class LogsDlgTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  static QComboBox& LogList(const CLogsDlg& dialog) {
    return *FindControl<QComboBox>(dialog, CLogsDlg::kIdLogList);
  }
  static QStringList Lines(const CLogsDlg& dialog) {
    QStringList lines;
    for (int i = 0; i < LogList(dialog).count(); ++i) lines.push_back(LogList(dialog).itemText(i));
    return lines;
  }
  // Picks a line as the user does.
  static void Choose(CLogsDlg& dialog, const QString& text) {
    QComboBox& list = LogList(dialog);
    const int line = list.findText(text, Qt::MatchExactly);
    ASSERT_GE(line, 0) << text.toStdString();
    list.setCurrentIndex(line);
    emit list.activated(line);
  }
  static std::vector<std::string> Column(const CLogsDlg& dialog, int column) {
    std::vector<std::string> cells;
    for (const LogRow& row : dialog.Model().Rows()) cells.push_back(row[static_cast<std::size_t>(column)]);
    return cells;
  }
  static void ClickHeader(CLogsDlg& dialog, int column) {
    QHeaderView* header = FindControl<QTableView>(dialog, CLogsDlg::kIdRows)->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  }

  ScratchDirectory scratch;
};

TEST_F(LogsDlgTest, ShowsTheColumnsAsSpecified) {
  CLogsDlg dialog(scratch.path());
  EXPECT_EQ(dialog.windowTitle(), "Logs");
  auto* view = FindControl<QTableView>(dialog, CLogsDlg::kIdRows);
  ASSERT_NE(view, nullptr);
  const char* titles[] = {"Remote IP: port", "Remote host",    "DL",           "UL",       "DL & UL",
                          "Local source(PID): port", "First activity", "Last activity", "Full path"};
  const int widths[] = {110, 100, 65, 65, 80, 130, 115, 115};  // the last one stretches
  const QAbstractItemModel& model = *view->model();
  ASSERT_EQ(model.columnCount(), 9);
  for (int column = 0; column < 9; ++column) {
    EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString(), titles[column]);
    if (column < 8) {
      EXPECT_EQ(view->columnWidth(column), widths[column]) << column;
    }
  }
}

TEST_F(LogsDlgTest, OffersLogsByDisplayTextAfterThePlaceholderAndLoadsEveryLogOfTheChosenText) {
  struct Case {
    std::vector<std::pair<const char*, std::string>> files;
    QStringList lines;
    const char* choose;                // nullptr: nothing chosen
    std::vector<std::string> hosts;  // column 1 after the choice, top first
  };
  const Case cases[] = {
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
  for (const Case& test : cases) {
    ScratchDirectory directory;
    for (const auto& [name, bytes] : test.files) WriteBytes(directory / name, bytes);
    CLogsDlg dialog(directory.path());
    SCOPED_TRACE(test.lines.join(QStringLiteral(", ")).toStdString());
    EXPECT_EQ(Lines(dialog), test.lines);
    EXPECT_EQ(LogList(dialog).currentIndex(), 0);
    if (test.choose != nullptr) Choose(dialog, QString::fromLatin1(test.choose));
    EXPECT_EQ(Column(dialog, 1), test.hosts);
  }
}

TEST_F(LogsDlgTest, ShowsTheLastLineOfTheFileAtTheTop) {
  WriteBytes(scratch / "2005-10-12_14t30t05.log", Line("10.0.0.1:_80", "first.example", "900_B") +
                                                       Line("10.0.0.2:_80", "second.example", "1.50_KB") +
                                                       Line("10.0.0.3:_80", "third.example", "2.00_MB"));
  CLogsDlg dialog(scratch.path());
  Choose(dialog, "2005-10-12 14:30:05");
  EXPECT_EQ(Column(dialog, 1), (std::vector<std::string>{"third.example", "second.example", "first.example"}));
  const LogRow& top = dialog.Model().Rows().front();
  EXPECT_EQ(top, (LogRow{"10.0.0.3: 80", "third.example", "2.00 MB", "0 B", "2.00 MB", "curl(42): 5000",
                         "2024-03-01 08:00:00", "2024-03-01 08:00:09", "/usr/bin/curl"}));
  auto* view = FindControl<QTableView>(dialog, CLogsDlg::kIdRows);
  EXPECT_EQ(view->model()->data(view->model()->index(0, 1)).toString(), "third.example");
  EXPECT_FALSE(view->model()->data(view->model()->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_TRUE(view->model()
                  ->data(view->model()->index(0, 2), Qt::TextAlignmentRole)
                  .value<Qt::Alignment>()
                  .testFlag(Qt::AlignRight));

  // The placeholder again empties the list.
  Choose(dialog, "<Select a log!>");
  EXPECT_TRUE(dialog.Model().Rows().empty());
}

TEST_F(LogsDlgTest, MalformedLinesShowWhatTheyHave) {
  const std::string longHost(600, 'h');
  WriteBytes(scratch / "x.log", "only_one\r\n\r\n   \r\n10.0.0.1:_80 " + longHost + " 5_B\n");
  CLogsDlg dialog(scratch.path());
  Choose(dialog, "x");
  const std::vector<LogRow>& rows = dialog.Model().Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "10.0.0.1: 80");
  EXPECT_EQ(rows[0][1], std::string(499, 'h'));
  EXPECT_EQ(rows[0][2], "5 B");
  EXPECT_EQ(rows[0][3], "");
  EXPECT_EQ(rows[1][0], "only one");
  EXPECT_EQ(rows[1][8], "");
}

TEST_F(LogsDlgTest, HeaderClickSortsLargestFirst) {
  WriteBytes(scratch / "x.log", Line("10.0.0.1:_80", "beta.example", "1.50_KB") +
                                    Line("10.0.0.2:_80", "alpha.example", "900_B") +
                                    Line("10.0.0.3:_80", "gamma.example", "2.00_MB"));
  CLogsDlg dialog(scratch.path());
  dialog.show();
  Choose(dialog, "x");
  for (int click = 0; click < 2; ++click) {
    ClickHeader(dialog, 2);
    EXPECT_EQ(Column(dialog, 2), (std::vector<std::string>{"2.00 MB", "1.50 KB", "900 B"})) << click;
  }
  ClickHeader(dialog, 1);
  EXPECT_EQ(Column(dialog, 1), (std::vector<std::string>{"gamma.example", "beta.example", "alpha.example"}));
  auto* view = FindControl<QTableView>(dialog, CLogsDlg::kIdRows);
  EXPECT_EQ(view->model()->data(view->model()->index(0, 1)).toString(), "gamma.example");
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
  EXPECT_TRUE(exportButton->isEnabled());
  exportButton->click();
  EXPECT_TRUE(messages.requests.empty());
  // The view shows the file's last line first; the counts a log lacks stay empty.
  const std::string tail = "curl(42): 5000,2024-03-01 08:00:00,2024-03-01 08:00:09,/usr/bin/curl,,\r\n";
  EXPECT_EQ(testing::ReadBytes(path).substr(testing::ReadBytes(path).find("\r\n") + 2),
            "10.0.0.2: 80,two,2.00 MB,0 B,2.00 MB," + tail + "10.0.0.1: 80,\"one,host\",900 B,0 B,900 B," + tail);

  path = (scratch / "a.log" / "x.csv").string();  // below a file: cannot be written
  exportButton->click();
  ASSERT_EQ(messages.requests.size(), 1u);
  EXPECT_EQ(messages.requests[0].text, "Can't write to " + path);
  EXPECT_EQ(messages.requests[0].title, "Error");
}

}  // namespace
}  // namespace quorvel
