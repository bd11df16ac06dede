// The main window's actions, menus, toolbar, tray icon and list commands.
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QUrl>

#include "graphs/ui/static_bar.h"
#include "graphs/ui/traffic_share_bar.h"
#include "mainwindow/ui/commands.h"
#include "mainwindow/ui/flow_list_model.h"
#include "mainwindow/ui/flow_list_view.h"
#include "mainwindow/ui/main_frame.h"
#include "mainwindow/ui/message_boxes.h"
#include "mainwindow/ui/static_stat.h"
#include "persistence/csv_export.h"
#include "persistence/data_directory.h"

namespace quorvel {
namespace {

constexpr int kToolbarIconSize = 48;
constexpr int kSlotWidth = 205;

// A toolbar slot 205 pixels wide holding one control narrowed to its left 200.
QWidget* ToolbarSlot(QWidget* control, QWidget* parent) {
  auto* slot = new QWidget(parent);
  slot->setFixedSize(kSlotWidth, control->height());
  control->setParent(slot);
  control->move(0, 0);
  return slot;
}

}  // namespace

QAction* CMainFrame::AddAction(int id, const QString& text, const QString& prompt, const char* icon) {
  auto* action = new QAction(text, this);
  action->setProperty("commandId", id);
  action->setObjectName(QStringLiteral("ID_%1").arg(id));
  const qsizetype lineBreak = prompt.indexOf(QLatin1Char('\n'));
  action->setStatusTip(prompt.left(lineBreak));
  if (lineBreak >= 0) action->setToolTip(prompt.mid(lineBreak + 1));
  if (icon != nullptr) action->setIcon(QIcon(QString::fromLatin1(icon)));
  actions_[id] = action;
  return action;
}

void CMainFrame::RunHook(const std::function<void(CMainFrame&)>& hook) {
  if (hook) hook(*this);
}

void CMainFrame::CreateActions() {
  connect(AddAction(kIdAppExit, QStringLiteral("E&xit"), QStringLiteral("Quit the application\nExit")),
          &QAction::triggered, this, &CMainFrame::OnAppExit);
  connect(AddAction(kIdExportListCsv, QStringLiteral("Export list as CSV..."),
                    QStringLiteral("Save the rows as the list shows them as a CSV file\nExport list as CSV")),
          &QAction::triggered, this, [this] {
            SaveExport(this, hooks_.chooseSaveFile, messages_, QStringLiteral("CSV files (*.csv)"),
                       QStringLiteral("csv"), [this] {
                         // The rows exactly as shown once the file is chosen (the list
                         // went on while the file dialog was open): filtered, in its order.
                         std::vector<const FlowRow*> rows;
                         for (int row = 0; row < model_->Size(); ++row) rows.push_back(model_->RowAt(row));
                         return FlowRowsCsv(rows);
                       });
          });

  auto* toolbarToggle = AddAction(kIdViewToolbar, QStringLiteral("&Toolbar"),
                                  QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
  auto* barToggle = AddAction(kIdViewTrafficBar, QStringLiteral("Traffic &Bar"),
                              QStringLiteral("Show or hide the Traffic Bar\nToggle Traffic Bar"));
  auto* statusToggle = AddAction(kIdViewStatusBar, QStringLiteral("&Status Bar"),
                                 QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
  for (QAction* toggle : {toolbarToggle, barToggle, statusToggle}) {
    toggle->setCheckable(true);
    toggle->setChecked(true);
  }
  connect(toolbarToggle, &QAction::triggered, this, [this](bool on) { toolBar_->setVisible(on); });
  connect(barToggle, &QAction::triggered, this, [this](bool on) { trafficBar_->setVisible(on); });
  connect(statusToggle, &QAction::triggered, this, [this](bool on) { statusBar()->setVisible(on); });

  struct Copy {
    int id;
    const char* text;
    const char* prompt;
  };
  const Copy copies[] = {
      {kIdCopyProcessName, "Copy &process name", "Copy the process name of the current row\nCopy process name"},
      {kIdCopySiteName, "Copy &site name", "Copy the remote host of the current row\nCopy site name"},
      {kIdCopyIpAddress, "Copy &IP address", "Copy the remote address and port of the current row\nCopy IP address"},
      {kIdCopyProcessAndPort, "Copy process name and port &number",
       "Copy the local source of the current row\nCopy process name and port"},
      {kIdCopyFullPath, "Copy &full path", "Copy the program's full path of the current row\nCopy full path"},
  };
  for (const Copy& copy : copies) {
    const int id = copy.id;
    connect(AddAction(id, QString::fromLatin1(copy.text), QString::fromLatin1(copy.prompt)), &QAction::triggered,
            this, [this, id] { CopyCell(id); });
  }
  connect(AddAction(kIdOpenContainingFolder, QStringLiteral("&Open containing folder"),
                    QStringLiteral("Open the folder of the current row's program\nOpen containing folder")),
          &QAction::triggered, this, &CMainFrame::OpenContainingFolder);

  connect(AddAction(kIdTrafficSpy, QStringLiteral("Traffic &Spy..."),
                    QStringLiteral("Spy traffic for selected item\nTraffic Spy"), ":/icons/spy.png"),
          &QAction::triggered, this, &CMainFrame::LaunchTrafficSpy);
  connect(AddAction(kIdShowLog, QStringLiteral("Show &Log..."), QStringLiteral("Show traffic logs\nShow Log"),
                    ":/icons/show_log.png"),
          &QAction::triggered, this, [this] { RunHook(hooks_.showLog); });
  connect(AddAction(kIdSaveAndClear, QStringLiteral("&Save and  Clear"),
                    QStringLiteral("Save traffic log and Clear view\nSave and Clear"), ":/icons/save_clear.png"),
          &QAction::triggered, this, [this] { RunHook(hooks_.saveAndClear); });
  connect(AddAction(kIdClearAllLogs, QStringLiteral("&Clear all Logs"),
                    QStringLiteral("Clear all traffic logs\nClear all Logs")),
          &QAction::triggered, this, [this] { RunHook(hooks_.clearAllLogs); });
  connect(AddAction(kIdOptions, QStringLiteral("&Options..."), QStringLiteral("Open Options dialog\nOptions"),
                    ":/icons/options.png"),
          &QAction::triggered, this, [this] { RunHook(hooks_.options); });
  connect(AddAction(kIdOptionsAlternate, QStringLiteral("&Options..."), QStringLiteral("Open Options dialog\nOptions")),
          &QAction::triggered, this, [this] { RunHook(hooks_.options); });
  connect(AddAction(kIdHelp, QStringLiteral("&Help..."), QStringLiteral("Display Help Topics\nHelp"),
                    ":/icons/help.png"),
          &QAction::triggered, this, &CMainFrame::OnHelp);
  connect(AddAction(kIdAppAbout, QStringLiteral("&About..."),
                    QStringLiteral("Display program information and version\nAbout")),
          &QAction::triggered, this, &CMainFrame::OnAbout);
  connect(AddAction(kIdShowMainWindow, QStringLiteral("Open Quorvel     "),
                    QStringLiteral("Popup Quorvel\nShow main window")),
          &QAction::triggered, this, &CMainFrame::ShowMainWindow);
}

void CMainFrame::CreateMenus() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  file->addAction(Action(kIdExportListCsv));
  file->addSeparator();
  file->addAction(Action(kIdAppExit));

  QMenu* viewMenu = bar->addMenu(QStringLiteral("&View"));
  viewMenu->addAction(Action(kIdViewToolbar));
  viewMenu->addAction(Action(kIdViewTrafficBar));
  viewMenu->addAction(Action(kIdViewStatusBar));
  connect(viewMenu, &QMenu::aboutToShow, this, [this] {
    Action(kIdViewToolbar)->setChecked(!toolBar_->isHidden());
    Action(kIdViewTrafficBar)->setChecked(!trafficBar_->isHidden());
    Action(kIdViewStatusBar)->setChecked(!statusBar()->isHidden());
  });

  const int copyIds[] = {kIdCopyProcessName, kIdCopySiteName, kIdCopyIpAddress, kIdCopyProcessAndPort,
                         kIdCopyFullPath};
  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  for (const int id : copyIds) edit->addAction(Action(id));
  edit->addSeparator();
  edit->addAction(Action(kIdOpenContainingFolder));
  connect(edit, &QMenu::aboutToShow, this, &CMainFrame::UpdateEditCommands);

  QMenu* traffic = bar->addMenu(QStringLiteral("&Traffic"));
  traffic->addAction(Action(kIdTrafficSpy));
  traffic->addSeparator();
  traffic->addAction(Action(kIdShowLog));
  traffic->addAction(Action(kIdSaveAndClear));
  traffic->addAction(Action(kIdClearAllLogs));
  traffic->addSeparator();
  traffic->addAction(Action(kIdOptions));

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help->addAction(Action(kIdHelp));
  help->addAction(Action(kIdAppAbout));

  contextMenu_ = new QMenu(this);
  contextMenu_->setObjectName(QStringLiteral("_CONTEXT_"));
  contextMenu_->addAction(Action(kIdTrafficSpy));
  contextMenu_->addSeparator();
  for (const int id : copyIds) contextMenu_->addAction(Action(id));
  contextMenu_->addSeparator();
  contextMenu_->addAction(Action(kIdOpenContainingFolder));
  connect(contextMenu_, &QMenu::aboutToShow, this, &CMainFrame::UpdateEditCommands);
}

void CMainFrame::CreateToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Toolbar"));
  toolBar_->setObjectName(QStringLiteral("MainToolBar"));
  toolBar_->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
  toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolBar_->setMovable(false);
  toolBar_->addAction(Action(kIdSaveAndClear));
  toolBar_->addAction(Action(kIdShowLog));
  toolBar_->addAction(Action(kIdTrafficSpy));
  toolBar_->addAction(Action(kIdOptions));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kIdHelp));
  toolBar_->addSeparator();
  staticStat_ = new CStaticStat;
  staticBar_ = new CStaticBar;
  QAction* summarySlot = toolBar_->addWidget(ToolbarSlot(staticStat_, toolBar_));
  summarySlot->setProperty("commandId", static_cast<int>(kIdTrafficSummary));
  actions_[kIdTrafficSummary] = summarySlot;
  QAction* historySlot = toolBar_->addWidget(ToolbarSlot(staticBar_, toolBar_));
  historySlot->setProperty("commandId", static_cast<int>(kIdTrafficHistory));
  actions_[kIdTrafficHistory] = historySlot;
}

void CMainFrame::CreateStatusBar() {
  readyLabel_ = new QLabel(QStringLiteral("Ready"), this);
  statusBar()->addWidget(readyLabel_, 1);
  captureLabel_ = new QLabel(this);
  captureLabel_->setObjectName(QStringLiteral("CaptureStatus"));
  captureLabel_->setToolTip(
      QStringLiteral("The monitored interface and address, the packets seen, the packets the kernel dropped and "
                     "those the capture helper could not hand over"));
  statusBar()->addPermanentWidget(captureLabel_);
  captureLabel_->setText(QStringLiteral("Not capturing"));
  restartButton_ = new QPushButton(QStringLiteral("Restart capture"), this);
  restartButton_->setObjectName(QStringLiteral("RestartCapture"));
  restartButton_->setVisible(false);
  statusBar()->addPermanentWidget(restartButton_);
  connect(restartButton_, &QPushButton::clicked, this, &CMainFrame::RestartCapture);
}

void CMainFrame::CreateTrayIcon() {
  trayMenu_ = new QMenu(this);
  trayMenu_->setObjectName(QStringLiteral("_TB_"));
  QAction* open = Action(kIdShowMainWindow);
  QFont bold = open->font();
  bold.setBold(true);
  open->setFont(bold);
  trayMenu_->addAction(open);
  trayMenu_->setDefaultAction(open);
  connect(trayMenu_->addAction(QStringLiteral("Show log")), &QAction::triggered, this,
          [this] { RunHook(hooks_.showLog); });
  connect(trayMenu_->addAction(QStringLiteral("Options...")), &QAction::triggered, this,
          [this] { RunHook(hooks_.options); });
  connect(trayMenu_->addAction(QStringLiteral("Help")), &QAction::triggered, this, &CMainFrame::OnHelp);
  trayMenu_->addSeparator();
  connect(trayMenu_->addAction(QStringLiteral("Exit")), &QAction::triggered, this, &CMainFrame::OnAppExit);

  trayIcon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/tray.png")), this);
  trayIcon_->setToolTip(QStringLiteral("Quorvel"));
  trayIcon_->setContextMenu(trayMenu_);
  connect(trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) ShowMainWindow();
  });
  UpdateTrayIcon();
}

void CMainFrame::ConnectList() {
  connect(view_, &CPelkwindView::rowLeftClicked, this, &CMainFrame::OnListLeftClick);
  connect(view_, &CPelkwindView::rowRightClicked, this, &CMainFrame::OnListRightClick);
  connect(view_, &CPelkwindView::rowDoubleClicked, this, &CMainFrame::OnListDoubleClick);
  connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, this, &CMainFrame::SortFlowList);
}

void CMainFrame::UpdateEditCommands() {
  const bool hasRow = model_->Size() > 0 && currentRow_ >= 0;
  for (const int id : {kIdCopyProcessName, kIdCopySiteName, kIdCopyIpAddress, kIdCopyProcessAndPort}) {
    Action(id)->setEnabled(hasRow);
  }
  const bool hasPath = hasRow && !model_->Cell(currentRow_, kColumnFullPath).empty();
  Action(kIdCopyFullPath)->setEnabled(hasPath);
  Action(kIdOpenContainingFolder)->setEnabled(hasPath);
}

void CMainFrame::SetClickedRow(int row) {
  const FlowRow* clicked = model_->RowAt(row);
  clickedFlow_ = clicked != nullptr ? std::optional(IdentityOf(clicked->columns)) : std::nullopt;
  currentRow_ = clicked != nullptr ? row : -1;
  view_->SetMarkedRow(currentRow_);
  UpdateEditCommands();
}

void CMainFrame::FollowClickedFlow() {
  const auto isClicked = [this](int row) {
    const FlowRow* shown = model_->RowAt(row);
    return shown != nullptr && HasIdentity(shown->columns, *clickedFlow_);
  };
  if (!clickedFlow_) {
    currentRow_ = -1;
  } else if (!isClicked(currentRow_)) {
    // Rows come and go above it every second: look for the flow itself.
    currentRow_ = -1;
    for (int row = 0; row < model_->Size(); ++row) {
      if (isClicked(row)) {
        currentRow_ = row;
        break;
      }
    }
  }
  view_->SetMarkedRow(currentRow_);
}

void CMainFrame::OnListLeftClick(int row) {
  if (model_->Size() == 0) return;
  SetClickedRow(row);
}

void CMainFrame::OnListRightClick(int row, const QPoint& globalPosition) {
  if (model_->Size() == 0) return;
  SetClickedRow(row);
  contextMenu_->popup(globalPosition);
}

void CMainFrame::OnListDoubleClick(int row) {
  if (model_->Size() > 0) SetClickedRow(row);
  LaunchTrafficSpy();
}

void CMainFrame::LaunchTrafficSpy() {
  SpyTargets targets = AllTrafficSpyTargets();
  if (model_->Size() > 0 && currentRow_ >= 0) {
    targets = SpyTargets{model_->Cell(currentRow_, kColumnRemote), model_->Cell(currentRow_, kColumnHost),
                         model_->Cell(currentRow_, kColumnLocalSource), model_->Cell(currentRow_, kColumnFullPath)};
  }
  if (hooks_.trafficSpy) hooks_.trafficSpy(*this, targets);
}

bool CMainFrame::StopIfNoCurrentRow() {
  if (currentRow_ >= 0) return false;
  messages_.Show(MessageBoxRequest{"Please, select an item!", "Quorvel", MessageIcon::kStop, MessageButtons::kOk});
  return true;
}

void CMainFrame::CopyCell(int commandId) {
  if (StopIfNoCurrentRow()) return;
  std::optional<std::string> text;
  switch (commandId) {
    case kIdCopyProcessName:
      text = ProcessNameOf(model_->Cell(currentRow_, kColumnLocalSource));
      break;
    case kIdCopySiteName:
      text = model_->Cell(currentRow_, kColumnHost);
      break;
    case kIdCopyIpAddress:
      text = model_->Cell(currentRow_, kColumnRemote);
      break;
    case kIdCopyProcessAndPort:
      text = model_->Cell(currentRow_, kColumnLocalSource);
      break;
    case kIdCopyFullPath:
      if (std::string path = model_->Cell(currentRow_, kColumnFullPath); !path.empty()) text = std::move(path);
      break;
    default:
      break;
  }
  if (text) QApplication::clipboard()->setText(QString::fromStdString(*text));
}

void CMainFrame::OpenContainingFolder() {
  if (StopIfNoCurrentRow()) return;
  const auto folder = ContainingFolderOf(model_->Cell(currentRow_, kColumnFullPath));
  if (folder && hooks_.openUrl) hooks_.openUrl(QUrl::fromLocalFile(QString::fromStdString(*folder)));
}

void CMainFrame::OnHelp() {
  const QFileInfo page(QString::fromStdString((GetProgramDirectory() / "qv.html").string()));
  if (page.isFile() && hooks_.openUrl) hooks_.openUrl(QUrl::fromLocalFile(page.absoluteFilePath()));
}

void CMainFrame::OnAbout() { RunHook(hooks_.about); }

}  // namespace quorvel
