#include "filters/ui/new_filter_dlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "filters/filters_file.h"
#include "filters/ui/dialog_controls.h"
#include "mainwindow/ui/message_boxes.h"

namespace quorvel {
namespace {

const QColor kTextColor(50, 0, 225);
// The file is read back with each pattern cut to this many characters.
constexpr int kPatternLimit = 259;

QLabel* ColoredLabel(const QString& text, QWidget* parent, bool bold = false, int id = 0) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  SetTextColor(*label, kTextColor);
  if (bold) {
    QFont font = label->font();
    font.setWeight(QFont::Bold);  // 700
    label->setFont(font);
  }
  if (id != 0) SetControlId(*label, id);
  return label;
}

QLineEdit* PatternEdit(int id, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(kPatternLimit);
  edit->setPlaceholderText(QString::fromUtf8(kAnyPattern.data(), static_cast<qsizetype>(kAnyPattern.size())));
  edit->setClearButtonEnabled(true);
  SetTextColor(*edit, kTextColor);
  SetControlId(*edit, id);
  return edit;
}

}  // namespace

CNewFilterDlg::CNewFilterDlg(MessageBoxes& messages, QWidget* parent) : QDialog(parent), messages_(messages) {
  setWindowTitle(QStringLiteral("New filter"));
  setObjectName(QStringLiteral("CNewFilterDlg"));
  setModal(true);

  auto* heading = ColoredLabel(QStringLiteral("Please input the new connection filter rules"), this, true, kIdHeading);
  auto* matches = ColoredLabel(QStringLiteral("Filter matches the connection if:"), this);
  auto* remoteRule = ColoredLabel(
      QStringLiteral("the remote address or host name contains the \"Remote host\" pattern"), this);
  auto* andLine = ColoredLabel(QStringLiteral("AND"), this, true);
  auto* localRule = ColoredLabel(
      QStringLiteral("the local source (the executable that opened the connection) contains the "
                     "\"Local source\" pattern."),
      this);
  auto* blank = ColoredLabel(
      QStringLiteral("A blank pattern always matches, so two blank patterns match every connection."), this);
  auto* examples = ColoredLabel(QStringLiteral("Examples:"), this, true, kIdExamples);
  auto* example = ColoredLabel(
      QStringLiteral("Remote host \"10.1.1\" with local source \"iexplorer\" matches that browser talking to "
                     "10.1.1.3 or to 192.10.1.1; it matches neither another browser nor 192.168.10.1."),
      this);

  auto* rules = new QVBoxLayout;
  rules->setContentsMargins(12, 0, 0, 0);
  rules->setSpacing(2);
  rules->addWidget(remoteRule);
  rules->addWidget(andLine);
  rules->addWidget(localRule);
  auto* exampleIndent = new QVBoxLayout;
  exampleIndent->setContentsMargins(12, 0, 0, 0);
  exampleIndent->addWidget(example);

  remote_ = PatternEdit(kIdRemoteEdit, this);
  local_ = PatternEdit(kIdLocalEdit, this);
  auto* remoteLabel = new QLabel(QStringLiteral("Remote host:"), this);
  SetControlId(*remoteLabel, kIdRemoteLabel);
  remoteLabel->setBuddy(remote_);
  auto* localLabel = new QLabel(QStringLiteral("Local source:"), this);
  SetControlId(*localLabel, kIdLocalLabel);
  localLabel->setBuddy(local_);
  auto* fields = new QFormLayout;
  fields->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  fields->addRow(remoteLabel, remote_);
  fields->addRow(localLabel, local_);

  const DialogButtons buttons = AddOkCancel(*this);
  buttons.ok->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 14, 16, 14);
  layout->setSpacing(6);
  layout->addWidget(heading);
  layout->addSpacing(4);
  layout->addWidget(matches);
  layout->addLayout(rules);
  layout->addWidget(blank);
  layout->addSpacing(4);
  layout->addWidget(examples);
  layout->addLayout(exampleIndent);
  layout->addSpacing(8);
  layout->addLayout(fields);
  layout->addSpacing(6);
  layout->addLayout(buttons.row);
  setFixedWidth(500);
  remote_->setFocus();
}

std::string CNewFilterDlg::RemotePattern() const { return remote_->text().toStdString(); }

std::string CNewFilterDlg::LocalPattern() const { return local_->text().toStdString(); }

void CNewFilterDlg::accept() {
  // The same check the Filters dialog's OK makes, before the rule reaches its list.
  std::string bytes;
  const Status storable =
      FormatFiltersFile({FilterRule{RemotePattern(), LocalPattern()}}, FilterMode::kBlackList, bytes);
  if (!storable) {
    messages_.Show(MessageBoxRequest{storable.error, "Error", MessageIcon::kStop, MessageButtons::kOk});
    return;
  }
  QDialog::accept();
}

}  // namespace quorvel
