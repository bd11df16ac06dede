#include "spy/ui/traffic_spy_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "mainwindow/ui/message_boxes.h"
#include "persistence/profile_store.h"
#include "spy/pcapng_writer.h"
#include "spy/ui/spy_line_delegate.h"
#include "spy/ui/spy_line_model.h"

namespace quorvel {
namespace {

// Context menu "_CONTEXT_SPY_".
constexpr int kIdCopyPacket = 32817;
constexpr int kIdCopyAllPackets = 32818;
constexpr int kIdClearPackets = 32820;

QString FromLatin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* Button(const QString& text, const QString& tip, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setToolTip(tip);
  // Enter in the filter edit must not press a button.
  button->setAutoDefault(false);
  return button;
}

QLineEdit* ReadOnlyEdit(QWidget* parent, const QString& name) {
  auto* edit = new QLineEdit(parent);
  edit->setReadOnly(true);
  edit->setObjectName(name);
  return edit;
}

}  // namespace

CTrafficSpyDlg::CTrafficSpyDlg(TrafficSpyParts parts, SpyTarget target, QWidget* parent)
    : QDialog(parent), parts_(std::move(parts)), session_(parts_.registry, std::move(target)) {
  setObjectName(QStringLiteral("CTrafficSpyDlg"));
  setWindowTitle(QStringLiteral("Traffic Spy - one line represents one packet"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/spy.png")));
  setModal(true);
  setSizeGripEnabled(true);
  BuildControls();
  ReadProfile();
  session_.SetFilter(filterBox_->isChecked(), filterEdit_->text().toStdString());
  session_.Open();
  drainTimer_.setTimerType(Qt::PreciseTimer);
  drainTimer_.setInterval(kDrainIntervalMs);
  connect(&drainTimer_, &QTimer::timeout, this, &CTrafficSpyDlg::OnDrainTimer);
  drainTimer_.start();
}

CTrafficSpyDlg::~CTrafficSpyDlg() {
  drainTimer_.stop();
  session_.Close();
  // The model reads the session's list, which goes before the child widgets.
  list_->setModel(nullptr);
  delete model_;
}

void CTrafficSpyDlg::BuildControls() {
  const SpyTarget& target = session_.Target();
  const char* const labels[4] = {"Remote IP:", "Remote Host:", "Local Source:", "Full Path:"};
  const char* const names[4] = {"remoteIp", "remoteHost", "localSource", "fullPath"};
  const std::string* const texts[4] = {&target.remoteIp, &target.remoteHost, &target.localSource,
                                       &target.fullPath};
  auto* targetPanel = new QFrame(this);
  targetPanel->setObjectName(QStringLiteral("targetPanel"));
  auto* targets = new QGridLayout(targetPanel);
  targets->setContentsMargins(12, 8, 12, 8);
  targets->setHorizontalSpacing(10);
  targets->setVerticalSpacing(4);
  for (int i = 0; i < 4; ++i) {
    targetEdits_[i] = ReadOnlyEdit(targetPanel, QString::fromLatin1(names[i]));
    targetEdits_[i]->setText(QString::fromStdString(*texts[i]));
    targetEdits_[i]->setCursorPosition(0);
    auto* label = new QLabel(QString::fromLatin1(labels[i]), targetPanel);
    label->setBuddy(targetEdits_[i]);
    const int row = i / 2;
    const int column = (i % 2) * 2;
    targets->addWidget(label, row, column);
    targets->addWidget(targetEdits_[i], row, column + 1);
  }
  targets->setColumnStretch(1, 1);
  targets->setColumnStretch(3, 1);
  targets->setColumnMinimumWidth(2, 110);

  list_ = new QTreeView(this);
  list_->setObjectName(QStringLiteral("packetList"));
  list_->setRootIsDecorated(false);
  list_->setHeaderHidden(true);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setTextElideMode(Qt::ElideNone);
  list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setFont(SpyLineFont());
  list_->setMinimumSize(560, 260);
  list_->setItemDelegate(new SpyLineDelegate(list_));
  model_ = new SpyLineModel(session_.List(), this);
  model_->SetRowHeight(QFontMetrics(list_->font()).height() + 4);
  list_->setModel(model_);
  list_->header()->setStretchLastSection(false);
  list_->viewport()->installEventFilter(this);

  captureBox_ = new QCheckBox(QStringLiteral(" Capture packets to file:"), this);
  captureBox_->setObjectName(QStringLiteral("captureBox"));
  capturePath_ = ReadOnlyEdit(this, QStringLiteral("capturePath"));
  browseButton_ = Button(QStringLiteral("&Browse..."), QStringLiteral("Specify file to save captured packets"), this);
  browseButton_->setObjectName(QStringLiteral("browseButton"));
  filterBox_ = new QCheckBox(QStringLiteral(" Filter only packets with text:"), this);
  filterBox_->setObjectName(QStringLiteral("filterBox"));
  filterEdit_ = new QLineEdit(this);
  filterEdit_->setObjectName(QStringLiteral("filterText"));
  filterEdit_->setClearButtonEnabled(true);
  captureNotice_ = new QLabel(this);
  captureNotice_->setObjectName(QStringLiteral("captureNotice"));
  captureNotice_->setStyleSheet(QStringLiteral("color: #a03a16;"));
  captureNotice_->hide();

  auto* options = new QGridLayout;
  options->setHorizontalSpacing(10);
  options->setVerticalSpacing(6);
  options->addWidget(captureBox_, 0, 0);
  options->addWidget(capturePath_, 0, 1);
  options->addWidget(browseButton_, 0, 2);
  options->addWidget(filterBox_, 1, 0);
  options->addWidget(filterEdit_, 1, 1, 1, 2);
  options->addWidget(captureNotice_, 2, 1, 1, 2);
  options->setColumnStretch(1, 1);

  freezeButton_ = Button(QStringLiteral("&Freeze"), QStringLiteral("Freeze Traffic"), this);
  freezeButton_->setObjectName(QStringLiteral("freezeButton"));
  clearButton_ = Button(QStringLiteral("C&lear"), QStringLiteral("Clear Traffic"), this);
  clearButton_->setObjectName(QStringLiteral("clearButton"));
  pcapngButton_ = Button(QStringLiteral("Save as &pcapng..."),
                         QStringLiteral("Save the packets seen since the spy opened for Wireshark"), this);
  pcapngButton_->setObjectName(QStringLiteral("pcapngButton"));
  closeButton_ = Button(QStringLiteral("&Close"), QStringLiteral("Close Traffic Spy"), this);
  closeButton_->setObjectName(QStringLiteral("closeButton"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(freezeButton_);
  buttons->addWidget(clearButton_);
  buttons->addWidget(pcapngButton_);
  buttons->addStretch(1);
  buttons->addWidget(closeButton_);

  setStyleSheet(QStringLiteral(
      "#targetPanel { background: palette(base); border: 1px solid #d5dae3; border-radius: 6px; }"
      "#targetPanel QLabel { color: #5b6473; }"
      "#targetPanel QLineEdit { background: transparent; border: none; padding: 1px 0; }"
      "#packetList { border: 1px solid #c9cfda; border-radius: 4px; }"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 12);
  layout->setSpacing(10);
  layout->addWidget(targetPanel);
  layout->addWidget(list_, 1);
  layout->addLayout(options);
  layout->addLayout(buttons);

  menu_ = new QMenu(this);
  menu_->setObjectName(QStringLiteral("_CONTEXT_SPY_"));
  QAction* copyPacket = menu_->addAction(QStringLiteral("&Copy packet"));
  copyPacket->setData(kIdCopyPacket);
  QAction* copyAll = menu_->addAction(QStringLiteral("Copy &All packets"));
  copyAll->setData(kIdCopyAllPackets);
  menu_->addSeparator();
  QAction* clear = menu_->addAction(QStringLiteral("C&lear"));
  clear->setData(kIdClearPackets);

  connect(copyPacket, &QAction::triggered, this, &CTrafficSpyDlg::OnCopyPacket);
  connect(copyAll, &QAction::triggered, this, &CTrafficSpyDlg::OnCopyAllPackets);
  connect(clear, &QAction::triggered, this, &CTrafficSpyDlg::OnClear);
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { OnListContextMenu(position); });
  connect(captureBox_, &QCheckBox::toggled, this, &CTrafficSpyDlg::OnCaptureBox);
  connect(filterBox_, &QCheckBox::toggled, this, &CTrafficSpyDlg::OnFilterBox);
  connect(filterEdit_, &QLineEdit::textChanged, this, &CTrafficSpyDlg::OnFilterText);
  connect(browseButton_, &QPushButton::clicked, this, &CTrafficSpyDlg::OnBrowse);
  connect(freezeButton_, &QPushButton::clicked, this, &CTrafficSpyDlg::OnFreeze);
  connect(clearButton_, &QPushButton::clicked, this, &CTrafficSpyDlg::OnClear);
  connect(pcapngButton_, &QPushButton::clicked, this, &CTrafficSpyDlg::OnSavePcapng);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);

  resize(800, 560);
  list_->setFocus();
}

void CTrafficSpyDlg::ReadProfile() {
  const ProfileStore& profile = parts_.profile;
  // Capture is off at every opening, whatever was stored; the path is shown.
  const bool applyFilter = profile.GetInt(kSettingsSection, kApplyFilterValue, 0) == 1;
  filterEdit_->setText(QString::fromStdString(profile.GetString(kSettingsSection, kFilterTextValue, "")));
  filterBox_->setChecked(applyFilter);
  filterEdit_->setEnabled(applyFilter);
  capturePath_->setText(QString::fromStdString(profile.GetString(kSettingsSection, kCapturePacketsToFileValue, "")));
  capturePath_->setCursorPosition(0);
  captureBox_->setChecked(false);
  capturePath_->setEnabled(false);
  browseButton_->setEnabled(false);
}

void CTrafficSpyDlg::WriteProfile() {
  ProfileStore& profile = parts_.profile;
  profile.SetInt(kSettingsSection, kCaptureToFileValue, captureBox_->isChecked() ? 1 : 0);
  profile.SetInt(kSettingsSection, kApplyFilterValue, filterBox_->isChecked() ? 1 : 0);
  profile.SetString(kSettingsSection, kCapturePacketsToFileValue, capturePath_->text().toStdString());
  profile.SetString(kSettingsSection, kFilterTextValue, filterEdit_->text().toStdString());
}

void CTrafficSpyDlg::done(int result) {
  Shutdown();
  QDialog::done(result);
}

void CTrafficSpyDlg::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  drainTimer_.stop();
  // Unregistering comes first: once it returns no feed runs or will run, so
  // the window and the capture file can go.
  session_.Close();
  WriteProfile();
  ReportWriteError();
}

void CTrafficSpyDlg::OnDrainTimer() {
  if (session_.IsClosed()) return;
  if (session_.Drain()) SyncList();
  ReportWriteError();
  if (const std::uint64_t dropped = session_.DroppedCapturePackets(); dropped > 0) {
    captureNotice_->setText(
        QStringLiteral("%1 packets were not captured: the file could not keep up").arg(dropped));
    captureNotice_->show();
  }
}

void CTrafficSpyDlg::SyncList() {
  model_->Sync();
  list_->header()->resizeSection(
      0, std::max(session_.List().HorizontalExtent() + 2 * kSpyLinePadding, list_->viewport()->width()));
}

bool CTrafficSpyDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::Resize) SyncList();
  return QDialog::eventFilter(watched, event);
}

void CTrafficSpyDlg::ReportWriteError() {
  const std::optional<std::string> error = session_.TakeWriteError();
  if (!error) return;
  {
    const QSignalBlocker blocker(captureBox_);
    captureBox_->setChecked(session_.CaptureToFile());
  }
  capturePath_->setEnabled(captureBox_->isChecked());
  browseButton_->setEnabled(captureBox_->isChecked());
  parts_.messages.Show(MessageBoxRequest{*error, "Error", MessageIcon::kStop, MessageButtons::kOk});
}

void CTrafficSpyDlg::OnFreeze() {
  const bool frozen = !session_.List().Frozen();
  session_.SetFrozen(frozen);
  freezeButton_->setText(frozen ? QStringLiteral("&Resume") : QStringLiteral("&Freeze"));
  freezeButton_->setToolTip(frozen ? QStringLiteral("Resume Spy Traffic") : QStringLiteral("Freeze Traffic"));
  SyncList();
  ReportWriteError();
}

void CTrafficSpyDlg::OnClear() {
  session_.Clear();
  SyncList();
  ReportWriteError();
}

void CTrafficSpyDlg::OnBrowse() {
  const CaptureFileChooser& choose = parts_.chooseCaptureFile;
  const std::optional<QString> chosen = choose ? choose(this) : ChooseCaptureFileWithDialog(this);
  if (!chosen || session_.IsClosed()) return;
  const Status opened = session_.OpenCaptureFile(chosen->toStdString());
  SyncList();
  if (opened.ok) {
    capturePath_->setText(*chosen);
    capturePath_->setCursorPosition(0);
  } else {
    parts_.messages.Show(MessageBoxRequest{"Can't open file!", "Quorvel", MessageIcon::kStop, MessageButtons::kOk});
  }
  ReportWriteError();
}

void CTrafficSpyDlg::OnSavePcapng() {
  if (!session_.IsClosed() && session_.Drain()) SyncList();
  SaveExport(this, parts_.chooseSaveFile, parts_.messages, QStringLiteral("pcapng files (*.pcapng)"),
             QStringLiteral("pcapng"),
             [this] { return PcapngBytes(session_.Recorder().Packets(), session_.Recorder().Comment()); });
  ReportWriteError();
}

void CTrafficSpyDlg::OnCaptureBox(bool checked) {
  session_.SetCaptureToFile(checked);
  capturePath_->setEnabled(checked);
  browseButton_->setEnabled(checked);
  SyncList();
  ReportWriteError();
}

void CTrafficSpyDlg::OnFilterBox(bool checked) {
  filterEdit_->setEnabled(checked);
  session_.SetFilter(checked, filterEdit_->text().toStdString());
}

void CTrafficSpyDlg::OnFilterText(const QString& text) {
  session_.SetFilter(filterBox_->isChecked(), text.toStdString());
}

bool CTrafficSpyDlg::OnListContextMenu(const QPoint& position) {
  const int rows = model_->rowCount();
  if (rows == 0) return false;
  // The line under the cursor, or the nearest one when the cursor is below the last.
  int line = rows - 1;
  for (int row = 0; row < rows; ++row) {
    if (position.y() <= list_->visualRect(model_->index(row, 0)).bottom()) {
      line = row;
      break;
    }
  }
  const QModelIndex index = model_->index(line, 0);
  list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  remembered_ = Remembered{session_.List().Epoch(), line};
  menu_->popup(list_->viewport()->mapToGlobal(position));
  return true;
}

std::optional<int> CTrafficSpyDlg::RememberedLine() const {
  if (!remembered_) return std::nullopt;
  return remembered_->line;
}

void CTrafficSpyDlg::OnCopyPacket() {
  // Only the very line the menu was opened on: once the list was emptied,
  // the index names another packet or none.
  const SpyPacketList& list = session_.List();
  if (!remembered_ || remembered_->epoch != list.Epoch()) return;
  const auto line = static_cast<std::size_t>(remembered_->line);
  if (line >= list.Lines().size()) return;
  QApplication::clipboard()->setText(FromLatin1(list.Lines()[line]));
}

void CTrafficSpyDlg::OnCopyAllPackets() {
  QApplication::clipboard()->setText(FromLatin1(session_.List().CopyAllText()));
}

}  // namespace quorvel
