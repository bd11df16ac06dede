#include "mainwindow/ui/main_frame.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QUrl>
#include <mutex>

#include "chrome/ui/resources.h"
#include "persistence/save_and_clear.h"
#include "chrome/ui/window_placement.h"
#include "filters/filters_file.h"
#include "graphs/traffic_history.h"
#include "graphs/ui/static_bar.h"
#include "graphs/ui/traffic_share_bar.h"
#include "common/format.h"
#include "mainwindow/ui/about_dialog.h"
#include "mainwindow/ui/commands.h"
#include "mainwindow/ui/flow_list_model.h"
#include "mainwindow/ui/flow_list_view.h"
#include "mainwindow/ui/message_boxes.h"
#include "mainwindow/ui/row_icons.h"
#include "mainwindow/ui/static_stat.h"
#include "persistence/settings_file.h"
#include "persistence/traffic_log.h"

namespace quorvel {
namespace {

constexpr int kTrafficMilliseconds = 1000;
constexpr int kRefreshMilliseconds = 200;
constexpr int kDefaultWidth = 1360;
constexpr int kDefaultHeight = 820;
constexpr int kDefaultBarWidth = 430;
const QString kPlacementName = QStringLiteral("Quorvel");

}  // namespace

// Engine threads report here; everything reaches the window as a queued
// call, so no engine thread ever waits for the user interface.
class CMainFrame::QueuedObserver final : public MonitorObserver {
 public:
  explicit QueuedObserver(CMainFrame& frame) : frame_(frame) {}

  void OnWindowTitle(const std::string& title) override {
    QMetaObject::invokeMethod(
        &frame_, [frame = &frame_, text = QString::fromStdString(title)] { frame->setWindowTitle(text); },
        Qt::QueuedConnection);
  }

  void OnCaptureProblem(const std::string& message) override {
    QMetaObject::invokeMethod(
        &frame_, [frame = &frame_, text = QString::fromStdString(message)] { frame->ShowCaptureProblem(text); },
        Qt::QueuedConnection);
  }

  void OnSaveProblem(const std::string& message) override {
    QMetaObject::invokeMethod(
        &frame_,
        [frame = &frame_, message] {
          frame->messages().Show(MessageBoxRequest{message, "Error", MessageIcon::kStop, MessageButtons::kOk});
        },
        Qt::QueuedConnection);
  }

  // The status bar says why, and offers the restart; no box interrupts the user.
  void OnCaptureStopped(const std::string&) override {
    QMetaObject::invokeMethod(&frame_, [frame = &frame_] { frame->UpdateCaptureStatus(); }, Qt::QueuedConnection);
  }

 private:
  CMainFrame& frame_;
};

CMainFrame::CMainFrame(MainFrameParts parts, QWidget* parent)
    : QMainWindow(parent),
      state_(parts.state),
      platform_(parts.platform),
      profile_(parts.profile),
      dataDirectory_(std::move(parts.dataDirectory)),
      messages_(parts.messages) {
  InitResources();
  setObjectName(QStringLiteral("CMainFrame"));
  setWindowTitle(QStringLiteral("Quorvel"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/quorvel.png")));
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);
  hooks_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  hooks_.systemTrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  hooks_.saveAndClear = [](CMainFrame& frame) { frame.SaveAndClearList(); };
  hooks_.about = [](CMainFrame& frame) {
    CAboutDlg dialog(&frame);
    dialog.exec();
  };

  observer_ = std::make_unique<QueuedObserver>(*this);
  if (!parts.monitorOptions.saveDayLog) {
    parts.monitorOptions.saveDayLog = [this, directory = dataDirectory_.Path()](std::int64_t now) {
      return CutToTrafficLog(state_, directory, now, false, true);
    };
  }
  monitor_ = std::make_unique<Monitor>(state_, platform_, *observer_, parts.monitorOptions);
  icons_ = std::make_unique<RowIconProvider>();

  model_ = new FlowListModel(this);
  model_->SetIconSource([this](const FlowRow& row) { return icons_->IconFor(row); });
  view_ = new CPelkwindView(this);
  view_->setModel(model_);
  for (int column = 0; column < kFlowColumnCount; ++column) {
    view_->setColumnWidth(column, view_->DefaultColumnWidth(column));
  }
  setCentralWidget(view_);

  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();

  trafficBar_ = new CTrafficShareBar(state_, this);
  addDockWidget(Qt::RightDockWidgetArea, trafficBar_);

  LoadFilters(state_, FiltersFilePath(dataDirectory_));
  Settings settings;
  LoadSettings(settings, SettingsFilePath(dataDirectory_));
  ApplySettings(settings, state_.settings);
  state_.settings.nameHostsFromTraffic = profile_.GetInt(kSettingsSection, kNameHostsFromTrafficValue, 1) != 0;

  CreateTrayIcon();

  history_ = std::make_unique<TrafficHistory>(TrafficHistory::LengthForWindowWidth(staticBar_->width()));
  {
    std::lock_guard lock(state_.statMutex);
    state_.stats.tickDownload = 0;
    state_.stats.tickUpload = 0;
    state_.stats.cumulativeDownload = 0;
    state_.stats.cumulativeUpload = 0;
  }
  staticBar_->SetSource(&state_.statMutex, history_.get(), &state_.settings.freezeGraph);

  trafficTimer_.setInterval(kTrafficMilliseconds);
  connect(&trafficTimer_, &QTimer::timeout, this, &CMainFrame::OnTrafficTimer);
  trafficTimer_.start();
  refreshTimer_.setInterval(kRefreshMilliseconds);
  connect(&refreshTimer_, &QTimer::timeout, this, &CMainFrame::RefreshFlowList);

  ConnectList();
  QDockWidget* bars[] = {trafficBar_};
  if (!WindowPlacement(kPlacementName).Restore(*this, bars, 1)) {
    resize(kDefaultWidth, kDefaultHeight);
    resizeDocks({trafficBar_}, {kDefaultBarWidth}, Qt::Horizontal);
  }
  UpdateEditCommands();
}

CMainFrame::~CMainFrame() {
  // The engine threads and list threads end before the state they use goes.
  monitor_->Stop();
  JoinListThreads();
  monitor_.reset();
  staticBar_->SetSource(nullptr, nullptr, nullptr);
  model_->SetIconSource(nullptr);
}

const std::string& CMainFrame::SummaryText() const { return staticStat_->Summary(); }

QString CMainFrame::CaptureStatusText() const { return captureLabel_->text(); }

QAction* CMainFrame::Action(int commandId) const {
  const auto found = actions_.find(commandId);
  return found == actions_.end() ? nullptr : found->second;
}

void CMainFrame::OnStartup() {
  if (started_) return;
  started_ = true;
  setWindowTitle(QStringLiteral("Quorvel"));
  RestoreColumnWidths();
  RefreshFlowList();
  monitor_->Start();
  UpdateCaptureStatus();
}

void CMainFrame::OnTrafficTimer() {
  if (!history_) return;
  {
    std::lock_guard lock(state_.statMutex);
    TrafficStats& stats = state_.stats;
    history_->AppendHistorySample(stats.tickDownload, stats.tickUpload);
    stats.cumulativeDownload += stats.tickDownload;
    stats.cumulativeUpload += stats.tickUpload;
    staticStat_->SetSummary("DL: " + FormatBytes(stats.cumulativeDownload) +
                            "  UL: " + FormatBytes(stats.cumulativeUpload));
    stats.tickDownload = 0;
    stats.tickUpload = 0;
    history_->SetFreezeGraph(state_.settings.freezeGraph.load());
    // Widgets draw in their paint event, which takes statMutex again.
    staticBar_->update();
    trafficBar_->RebuildPies(stats);
  }
  RefreshFlowList();
  UpdateCaptureStatus();
  UpdateTrayIcon();
}

void CMainFrame::RefreshFlowList() {
  switch (RefreshFromRows(*model_, state_.listMutex, state_.rows)) {
    case RefreshResult::kUpdated:
      FollowClickedFlow();
      UpdateEditCommands();
      [[fallthrough]];
    case RefreshResult::kBusy:
      if (!refreshTimer_.isActive() && !exiting_) refreshTimer_.start();
      break;
    case RefreshResult::kUnchanged:
      refreshTimer_.stop();
      break;
  }
}

void CMainFrame::SortFlowList(int column) {
  if (column < 0 || column >= kFlowColumnCount) return;
  const bool ascending = sortState_.Click(column);
  view_->horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  RunOffThread([state = &state_, column, ascending] { ::quorvel::SortFlowList(*state, column, ascending); });
  if (!refreshTimer_.isActive() && !exiting_) refreshTimer_.start();
}

void CMainFrame::SaveAndClearList() {
  RunOffThread([this] {
    const Status saved = SaveAndClear(state_, dataDirectory_.Path(), platform_.clock);
    QMetaObject::invokeMethod(
        this,
        [this, saved] {
          if (!saved.ok) {
            messages_.Show(MessageBoxRequest{saved.error, "Error", MessageIcon::kStop, MessageButtons::kOk});
          }
          RefreshFlowList();
        },
        Qt::QueuedConnection);
  });
}

void CMainFrame::RunOffThread(std::function<void()> work) {
  for (auto it = listThreads_.begin(); it != listThreads_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = listThreads_.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([work = std::move(work), done] {
    work();
    done->store(true);
  });
  listThreads_.push_back(ListThread{std::move(thread), std::move(done)});
}

void CMainFrame::JoinListThreads() {
  for (ListThread& task : listThreads_) {
    if (task.thread.joinable()) task.thread.join();
  }
  listThreads_.clear();
}

void CMainFrame::ApplyOptions(const Settings& settings, Ipv4Address interfaceAddress, bool nameHostsFromTraffic) {
  if (interfaceAddress != 0) monitor_->ChangeInterface(interfaceAddress);
  ApplySettings(settings, state_.settings);
  state_.settings.nameHostsFromTraffic = nameHostsFromTraffic;
  RunOffThread([state = &state_, path = FiltersFilePath(dataDirectory_)] { LoadFilters(*state, path); });
}

void CMainFrame::RestoreColumnWidths() {
  QHeaderView* header = view_->horizontalHeader();
  for (int column = 0; column < kFlowColumnCount; ++column) {
    const int initial = view_->DefaultColumnWidth(column);
    const int width =
        profile_.GetInt(kSettingsSection, HeaderItemValueName(static_cast<unsigned>(column)), initial);
    // A width the header cannot show (hand-edited, or 0) would hide the column for good.
    const bool usable = width >= header->minimumSectionSize() && width <= 10000;
    view_->setColumnWidth(column, usable ? width : initial);
  }
}

void CMainFrame::SaveColumnWidths() {
  for (int column = 0; column < kFlowColumnCount; ++column) {
    profile_.SetInt(kSettingsSection, HeaderItemValueName(static_cast<unsigned>(column)), view_->columnWidth(column));
  }
}

void CMainFrame::UpdateCaptureStatus() {
  const CaptureStatus status = monitor_->Status();
  captureLabel_->setText(QString::fromStdString(FormatCaptureStatus(status)));
  const bool alarming =
      status.kernelDropped > 0 || status.helperDropped > 0 || !status.problem.empty() || status.interfaceDown;
  captureLabel_->setStyleSheet(alarming ? QStringLiteral("color: #b3261e; font-weight: bold;") : QString());
  // While the interface is down capture resumes by itself.
  restartButton_->setVisible(started_ && !exiting_ && !status.running && !status.problem.empty() &&
                             !status.interfaceDown);
}

void CMainFrame::RestartCapture() {
  if (exiting_) return;
  restartButton_->setVisible(false);
  monitor_->RestartCapture();
  UpdateCaptureStatus();
}

void CMainFrame::ShowCaptureProblem(const QString& message) {
  messages_.Show(MessageBoxRequest{message.toStdString(), "Quorvel", MessageIcon::kStop, MessageButtons::kOk});
  UpdateCaptureStatus();
}

void CMainFrame::UpdateTrayIcon() {
  if (trayIcon_ == nullptr) return;
  const bool available = hooks_.systemTrayAvailable && hooks_.systemTrayAvailable();
  if (available == trayIcon_->isVisible()) return;
  trayIcon_->setVisible(available);
  // A window hidden to a tray that went away would be out of reach.
  if (!available && hiddenToTray_) showMinimized();
}

void CMainFrame::ShowMainWindow() {
  hiddenToTray_ = false;
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (closingForGood_) {
    QMainWindow::closeEvent(event);
    return;
  }
  // Only Exit ends the program. Without a tray to come back from, the
  // window is only minimised, so it never becomes unreachable.
  event->ignore();
  UpdateTrayIcon();
  if (trayIcon_ != nullptr && trayIcon_->isVisible()) {
    setWindowState(windowState() | Qt::WindowMinimized);
    hide();
    hiddenToTray_ = true;
  } else {
    showMinimized();
  }
}

void CMainFrame::OnAppExit() {
  if (exiting_) return;
  exiting_ = true;
  monitor_->Stop();
  trafficTimer_.stop();
  refreshTimer_.stop();
  if (trayIcon_ != nullptr) {
    trayIcon_->hide();
    delete trayIcon_;
    trayIcon_ = nullptr;
  }
  staticBar_->SetSource(nullptr, nullptr, nullptr);
  history_.reset();
  const MessageAnswer answer = messages_.Show(MessageBoxRequest{
      "We would like to hear what you think about Quorvel, so please send us your comments, suggestions or "
      "problems you had using the program. Click 'Yes' to visit our Web site.",
      "Write us", MessageIcon::kExclamation, MessageButtons::kYesNo});
  if (answer == MessageAnswer::kYes && hooks_.openUrl) {
    hooks_.openUrl(QUrl(QStringLiteral("https://dorvane.example/quorvel/contact")));
  }
  SaveColumnWidths();
  QDockWidget* bars[] = {trafficBar_};
  WindowPlacement(kPlacementName).Save(*this, bars, 1);
  JoinListThreads();
  closingForGood_ = true;
  close();
  emit exitFinished();
}

}  // namespace quorvel
