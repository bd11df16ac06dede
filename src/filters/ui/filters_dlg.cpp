#include "filters/ui/filters_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <string>

#include "filters/filters_file.h"
#include "filters/ui/dialog_controls.h"
#include "filters/ui/filter_icons.h"
#include "filters/ui/new_filter_dlg.h"
#include "mainwindow/ui/message_boxes.h"
#include "persistence/text_file.h"

namespace quorvel {
namespace {

const QColor kCaptionColor(10, 10, 155);
constexpr int kColumnWidth = 180;

QString ToQString(const std::string& text) { return QString::fromStdString(text); }

QPushButton* IconButton(const QString& text, const QIcon& icon, int id, QWidget* parent) {
  auto* button = new QPushButton(icon, text, parent);
  button->setIconSize(QSize(16, 16));
  button->setAutoDefault(false);
  SetControlId(*button, id);
  return button;
}

}  // namespace

CFiltersDlg::CFiltersDlg(DataDirectory directory, MessageBoxes& messages, QWidget* parent)
    : QDialog(parent), directory_(std::move(directory)), messages_(messages) {
  setWindowTitle(QStringLiteral("Filters"));
  setObjectName(QStringLiteral("CFiltersDlg"));
  setModal(true);

  auto* modeGroup = new ColoredGroupBox(QStringLiteral("Use filters as:"), kCaptionColor, this);
  SetControlId(*modeGroup, kIdModeGroup);
  blackList_ = new QRadioButton(QStringLiteral("Black list (Hide the matches)"), modeGroup);
  SetControlId(*blackList_, kIdBlackList);
  whiteList_ = new QRadioButton(QStringLiteral("White list (Hide all excepting the matches)"), modeGroup);
  SetControlId(*whiteList_, kIdWhiteList);
  auto* modeLayout = new QVBoxLayout(modeGroup);
  modeLayout->addWidget(blackList_);
  modeLayout->addWidget(whiteList_);

  auto* listGroup = new ColoredGroupBox(QStringLiteral("Filter list:"), kCaptionColor, this);
  SetControlId(*listGroup, kIdListGroup);
  list_ = new QTableWidget(0, 2, listGroup);
  SetControlId(*list_, kIdList);
  list_->setHorizontalHeaderLabels({QStringLiteral("Remote host"), QStringLiteral("Local source")});
  list_->setColumnWidth(0, kColumnWidth);
  list_->setColumnWidth(1, kColumnWidth);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);  // full-row selection
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setWordWrap(false);
  list_->setTextElideMode(Qt::ElideRight);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 8);
  list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->horizontalHeader()->setHighlightSections(false);
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->setFrameShape(QFrame::StyledPanel);
  list_->setMinimumSize(2 * kColumnWidth + 4, 220);

  auto* add = IconButton(QStringLiteral("&Add filter..."), AddFilterIcon(), kIdAddFilter, listGroup);
  auto* remove = IconButton(QStringLiteral("&Remove filter"), RemoveFilterIcon(), kIdRemoveFilter, listGroup);
  auto* clear = IconButton(QStringLiteral("&Clear filters"), ClearFiltersIcon(), kIdClearFilters, listGroup);
  connect(add, &QPushButton::clicked, this, &CFiltersDlg::OnAddFilter);
  connect(remove, &QPushButton::clicked, this, &CFiltersDlg::OnRemoveFilter);
  connect(clear, &QPushButton::clicked, this, &CFiltersDlg::OnClearFilters);
  auto* listButtons = new QVBoxLayout;
  listButtons->addWidget(add);
  listButtons->addWidget(remove);
  listButtons->addWidget(clear);
  listButtons->addStretch(1);
  auto* listLayout = new QHBoxLayout(listGroup);
  listLayout->addWidget(list_, 1);
  listLayout->addLayout(listButtons);

  const DialogButtons buttons = AddOkCancel(*this);
  buttons.ok->setDefault(true);
  buttons.cancel->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 12, 14, 12);
  layout->setSpacing(10);
  layout->addWidget(modeGroup);
  layout->addWidget(listGroup, 1);
  layout->addLayout(buttons.row);

  blackList_->setChecked(true);
  LoadRows();
}

void CFiltersDlg::LoadRows() {
  const FiltersFileContent content = ReadFiltersFile(FiltersFilePath(directory_));
  if (content.mode && *content.mode != FilterMode::kBlackList) whiteList_->setChecked(true);
  // Each rule read goes to the top: the last rule of the file ends up first.
  const int count = static_cast<int>(content.rules.size());
  list_->setRowCount(count);
  for (int row = 0; row < count; ++row) SetRow(row, content.rules[static_cast<std::size_t>(count - 1 - row)]);
}

void CFiltersDlg::SetRow(int row, const FilterRule& rule) {
  list_->setItem(row, 0, new QTableWidgetItem(ToQString(rule.remotePattern)));
  list_->setItem(row, 1, new QTableWidgetItem(ToQString(rule.localPattern)));
}

void CFiltersDlg::InsertRowAtTop(const FilterRule& rule) {
  list_->insertRow(0);
  SetRow(0, rule);
}

std::vector<FilterRule> CFiltersDlg::Rules() const {
  std::vector<FilterRule> rules;
  rules.reserve(static_cast<std::size_t>(list_->rowCount()));
  for (int row = 0; row < list_->rowCount(); ++row) {
    rules.push_back({list_->item(row, 0)->text().toStdString(), list_->item(row, 1)->text().toStdString()});
  }
  return rules;
}

FilterMode CFiltersDlg::Mode() const {
  return blackList_->isChecked() ? FilterMode::kBlackList : FilterMode::kWhiteList;
}

void CFiltersDlg::OnAddFilter() {
  CNewFilterDlg dialog(messages_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string any(kAnyPattern);
  const std::string remote = dialog.RemotePattern();
  const std::string local = dialog.LocalPattern();
  InsertRowAtTop({remote.empty() ? any : remote, local.empty() ? any : local});
}

void CFiltersDlg::OnRemoveFilter() {
  for (int row = 0; row < list_->rowCount(); ++row) {
    if (list_->item(row, 0)->isSelected()) {
      list_->removeRow(row);
      return;
    }
  }
}

void CFiltersDlg::OnClearFilters() { list_->setRowCount(0); }

void CFiltersDlg::accept() {
  std::string bytes;
  const Status storable = FormatFiltersFile(Rules(), Mode(), bytes);
  if (!storable) {
    messages_.Show(MessageBoxRequest{storable.error, "Error", MessageIcon::kStop, MessageButtons::kOk});
    return;
  }
  const std::filesystem::path path = FiltersFilePath(directory_);
  if (!WriteFileAtomically(path, bytes)) {
    // The rows stay, so the user can retry once the directory is writable.
    messages_.Show(MessageBoxRequest{"Can't write to " + path.string(), "Error", MessageIcon::kStop,
                                     MessageButtons::kOk});
    return;
  }
  QDialog::accept();
}

}  // namespace quorvel
