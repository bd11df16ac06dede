#include "persistence/ui/logs_dlg.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "filters/ui/dialog_controls.h"
#include "mainwindow/ui/message_boxes.h"
#include "persistence/csv_export.h"
#include "persistence/ui/log_rows_model.h"
#include "persistence/ui/sorted_combo.h"

namespace quorvel {

CLogsDlg::CLogsDlg(std::filesystem::path logDirectory, QWidget* parent)
    : QDialog(parent), logDirectory_(std::move(logDirectory)) {
  setWindowTitle(QStringLiteral("Logs"));
  setObjectName(QStringLiteral("CLogsDlg"));
  setModal(true);
  setSizeGripEnabled(true);

  logList_ = new QComboBox(this);
  SetControlId(*logList_, kIdLogList);
  logList_->setEditable(true);
  logList_->setInsertPolicy(QComboBox::NoInsert);
  logList_->setMinimumContentsLength(28);
  logList_->setMaxVisibleItems(20);
  auto* label = new QLabel(QStringLiteral("Select Log:"), this);
  label->setBuddy(logList_);
  auto* top = new QHBoxLayout;
  top->addWidget(label);
  top->addWidget(logList_);
  top->addStretch(1);

  model_ = new LogRowsModel(this);
  rows_ = new QTableView(this);
  SetControlId(*rows_, kIdRows);
  rows_->setModel(model_);
  rows_->setSelectionBehavior(QAbstractItemView::SelectRows);  // full-row selection
  rows_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  rows_->setWordWrap(false);
  rows_->setTextElideMode(Qt::ElideRight);
  rows_->setIconSize(QSize(16, 16));
  rows_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  rows_->verticalHeader()->hide();
  rows_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  rows_->verticalHeader()->setDefaultSectionSize(rows_->fontMetrics().height() + 8);
  rows_->setFrameShape(QFrame::StyledPanel);
  QHeaderView* header = rows_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);  // every click sorts largest first again
  header->setSectionsMovable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(true);
  header->setMinimumSectionSize(20);
  int totalWidth = 0;
  for (std::size_t column = 0; column < kLogFieldCount; ++column) {
    rows_->setColumnWidth(static_cast<int>(column), kLogColumns[column].width);
    totalWidth += kLogColumns[column].width;
  }
  rows_->setMinimumSize(480, 200);
  connect(header, &QHeaderView::sectionClicked, this, &CLogsDlg::OnHeaderClicked);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  SetControlId(*ok, kIdOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &CLogsDlg::accept);
  exportButton_ = new QPushButton(QStringLiteral("&Export as CSV..."), this);
  exportButton_->setObjectName(QStringLiteral("exportCsvButton"));
  exportButton_->setAutoDefault(false);
  exportButton_->setEnabled(false);
  connect(exportButton_, &QPushButton::clicked, this, &CLogsDlg::OnExportCsv);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(exportButton_);
  buttons->addStretch(1);
  buttons->addWidget(ok);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 12, 14, 12);
  layout->setSpacing(10);
  layout->addLayout(top);
  layout->addWidget(rows_, 1);
  layout->addLayout(buttons);
  resize(totalWidth + 2 * 14 + 24, 460);

  entries_ = ListLogs(logDirectory_);
  QStringList names;
  for (const LogFileEntry& entry : entries_) names.push_back(QString::fromStdString(entry.displayText));
  // The placeholder stays line 0 even where a log name sorts before "<".
  logList_->addItem(QString::fromLatin1(entries_.empty() ? kNoLogsText : kSelectLogText));
  logList_->addItems(SortedListTexts(names));
  logList_->setCurrentIndex(0);
  connect(logList_, &QComboBox::activated, this, &CLogsDlg::OnLogSelected);
}

void CLogsDlg::OnLogSelected() {
  model_->SetRows({});
  exportButton_->setEnabled(false);
  const int line = logList_->currentIndex();
  if (line < 0) return;
  const QString text = logList_->itemText(line);
  if (text.startsWith(QLatin1Char('<'))) return;
  exportButton_->setEnabled(true);
  const std::string display = text.toStdString();
  std::vector<LogRow> shown;
  for (const LogFileEntry& entry : entries_) {
    if (entry.displayText != display) continue;
    std::vector<LogRow> rows = ReadTrafficLog(logDirectory_ / entry.fileName);
    // Each line goes to the top: the file's last line ends up first.
    std::reverse(rows.begin(), rows.end());
    rows.insert(rows.end(), std::make_move_iterator(shown.begin()), std::make_move_iterator(shown.end()));
    shown = std::move(rows);
  }
  model_->SetRows(std::move(shown));
}

void CLogsDlg::OnHeaderClicked(int column) { model_->SortByColumn(column); }

void CLogsDlg::SetExportParts(MessageBoxes* messages, SaveFileChooser choose) {
  messages_ = messages;
  chooseSaveFile_ = std::move(choose);
}

void CLogsDlg::OnExportCsv() {
  QtMessageBoxes ownMessages(this);
  SaveExport(this, chooseSaveFile_, messages_ ? *messages_ : ownMessages, QStringLiteral("CSV files (*.csv)"),
             QStringLiteral("csv"), [this] { return LogRowsCsv(model_->Rows()); });
}

}  // namespace quorvel
