#pragma once

#include <functional>

#include "mainwindow/ui/flow_commands.h"
#include "persistence/ui/export_file.h"

class QUrl;

namespace quorvel {

class CMainFrame;

// What the main window's commands call for the parts built elsewhere (the
// dialogs) and for the desktop. An empty hook leaves its command doing
// nothing; the main window fills openUrl, systemTrayAvailable and about
// with their desktop defaults.
struct MainWindowHooks {
  std::function<void(CMainFrame&)> showLog;       // 32772 "Show &Log..."
  std::function<void(CMainFrame&)> saveAndClear;  // 32773 "&Save and  Clear"
  std::function<void(CMainFrame&)> clearAllLogs;  // 32777 "&Clear all Logs"
  // 32775 / 32794 "&Options...": runs the dialog; on OK it hands the result
  // to CMainFrame::ApplyOptions.
  std::function<void(CMainFrame&)> options;
  // 32809 "Traffic &Spy..." and a double click: runs the spy modally.
  std::function<void(CMainFrame&, const SpyTargets&)> trafficSpy;
  // 57664 "&About...".
  std::function<void(CMainFrame&)> about;
  // Help page, contact page and folders; QDesktopServices by default.
  std::function<bool(const QUrl&)> openUrl;
  // Whether the close box may hide to the tray.
  std::function<bool()> systemTrayAvailable;
  // Where "Export list as CSV..." writes; the desktop's file dialog when empty.
  SaveFileChooser chooseSaveFile;
};

}  // namespace quorvel
