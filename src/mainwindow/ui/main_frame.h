#pragma once

#include <QMainWindow>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_state.h"
#include "engine/monitor.h"
#include "engine/flow_sort.h"
#include "mainwindow/ui/main_window_hooks.h"
#include "persistence/data_directory.h"
#include "persistence/profile_store.h"
#include "platform/platform.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QToolBar;

namespace quorvel {

class CPelkwindView;
class CStaticBar;
class CStaticStat;
class CTrafficShareBar;
class FlowListModel;
class MessageBoxes;
class RowIconProvider;
class TrafficHistory;
struct Settings;

// What the main window is built over; all of it outlives the window.
struct MainFrameParts {
  EngineState& state;
  Platform platform;
  ProfileStore& profile;  // section "Settings": the column widths
  DataDirectory dataDirectory;  // set.dat, filters.dat and the traffic logs
  MessageBoxes& messages;
  // Without a day log saver, the midnight log goes to the data directory.
  MonitorOptions monitorOptions = {};
};

// The main window: the flow list, the toolbar with the summary and the
// history strip, the "Traffic Bar", menus, tray icon and status bar. It owns
// the Monitor and starts it with the start-up command.
class CMainFrame final : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(MainFrameParts parts, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Command 1025, run once: title, list set-up (stored widths), engine start.
  void OnStartup();
  // The one-second update.
  void OnTrafficTimer();
  // Command 32792: engine stop, timer, tray icon, history, feedback, column
  // widths, then the window closes for good and exitFinished is emitted.
  void OnAppExit();

  // The Options command's steps after the dialog ended with OK: restart
  // capture when the interface changed, hand over the settings, reload the
  // filter rules (off this thread, since the engine may hold listMutex).
  void ApplyOptions(const Settings& settings, Ipv4Address interfaceAddress, bool nameHostsFromTraffic = true);

  // "&Save and  Clear" (the default saveAndClear hook): saves and clears on
  // a short-lived thread, since it needs listMutex; a failure to write the
  // log is shown with the title "Error" and then nothing is cleared.
  void SaveAndClearList();

  // A header click: flips or keeps the direction and sorts on a short-lived thread.
  void SortFlowList(int column);
  void LaunchTrafficSpy();
  // Brings the list up to the engine's rows if listMutex is free.
  void RefreshFlowList();

  MainWindowHooks& hooks() { return hooks_; }
  QAction* Action(int commandId) const;
  QMenu* ContextMenu() const { return contextMenu_; }
  QMenu* TrayMenu() const { return trayMenu_; }

  EngineState& state() { return state_; }
  Monitor& monitor() { return *monitor_; }
  ProfileStore& profile() { return profile_; }
  const DataDirectory& dataDirectory() const { return dataDirectory_; }
  MessageBoxes& messages() { return messages_; }

  FlowListModel& flowModel() { return *model_; }
  CPelkwindView& flowView() { return *view_; }
  CStaticStat& staticStat() { return *staticStat_; }
  CStaticBar& staticBar() { return *staticBar_; }
  CTrafficShareBar& trafficBar() { return *trafficBar_; }
  QToolBar& toolBar() { return *toolBar_; }
  QSystemTrayIcon* trayIcon() const { return trayIcon_; }
  TrafficHistory* history() const { return history_.get(); }
  bool IsTrafficTimerActive() const { return trafficTimer_.isActive(); }
  // Where the flow of the last click on the list is now; -1 for none, or
  // once that flow's row is gone.
  int CurrentRow() const { return currentRow_; }
  const std::string& SummaryText() const;
  QString CaptureStatusText() const;
  // Offered in the status bar once a capture stopped with an error.
  QPushButton* RestartCaptureButton() const { return restartButton_; }
  void RestartCapture();
  // Waits for the sort and filter-reload threads started so far (tests, exit).
  void JoinListThreads();
  // Starts work that takes listMutex on its own thread, so this one never waits for it.
  void RunOffThread(std::function<void()> work);

 signals:
  void exitFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class QueuedObserver;
  struct ListThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateTrayIcon();
  void ConnectList();
  QAction* AddAction(int id, const QString& text, const QString& prompt, const char* icon = nullptr);
  void RunHook(const std::function<void(CMainFrame&)>& hook);

  void RestoreColumnWidths();
  void SaveColumnWidths();
  void UpdateCaptureStatus();
  // Shows the tray icon while a tray exists, also one that appears later.
  void UpdateTrayIcon();
  void SetClickedRow(int row);
  // Finds the clicked flow again after the rows changed.
  void FollowClickedFlow();
  void UpdateEditCommands();
  void ShowMainWindow();

  void OnListLeftClick(int row);
  void OnListRightClick(int row, const QPoint& globalPosition);
  void OnListDoubleClick(int row);
  void CopyCell(int commandId);
  void OpenContainingFolder();
  void OnHelp();
  void OnAbout();
  void ShowCaptureProblem(const QString& message);
  bool StopIfNoCurrentRow();

  EngineState& state_;
  Platform platform_;
  ProfileStore& profile_;
  DataDirectory dataDirectory_;
  MessageBoxes& messages_;
  MainWindowHooks hooks_;

  std::unique_ptr<QueuedObserver> observer_;
  std::unique_ptr<Monitor> monitor_;
  std::unique_ptr<TrafficHistory> history_;
  std::unique_ptr<RowIconProvider> icons_;

  FlowListModel* model_ = nullptr;
  CPelkwindView* view_ = nullptr;
  CStaticStat* staticStat_ = nullptr;
  CStaticBar* staticBar_ = nullptr;
  CTrafficShareBar* trafficBar_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QSystemTrayIcon* trayIcon_ = nullptr;
  QLabel* readyLabel_ = nullptr;
  QLabel* captureLabel_ = nullptr;
  QPushButton* restartButton_ = nullptr;
  std::map<int, QAction*> actions_;

  QTimer trafficTimer_;  // TRAFFIC_TIMER_ID, one second
  QTimer refreshTimer_;  // faster list refresh while the rows keep changing
  FlowSortState sortState_;
  std::vector<ListThread> listThreads_;
  std::optional<FlowIdentity> clickedFlow_;
  int currentRow_ = -1;
  bool hiddenToTray_ = false;
  bool started_ = false;
  bool exiting_ = false;
  bool closingForGood_ = false;
};

}  // namespace quorvel
