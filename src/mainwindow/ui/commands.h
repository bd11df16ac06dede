#pragma once

namespace quorvel {

// The main window's command ids; tests and the dialogs find actions by them.
enum CommandId : int {
  kIdStartup = 1025,
  kIdShowLog = 32772,
  kIdSaveAndClear = 32773,
  kIdOptions = 32775,
  kIdHelp = 32776,
  kIdClearAllLogs = 32777,
  kIdTrafficSummary = 32785,
  kIdTrafficHistory = 32786,
  kIdShowMainWindow = 32788,
  kIdAppExit = 32792,
  kIdOptionsAlternate = 32794,
  kIdCopyProcessName = 32798,
  kIdCopySiteName = 32803,
  kIdCopyIpAddress = 32804,
  kIdCopyProcessAndPort = 32805,
  kIdCopyFullPath = 32806,
  kIdOpenContainingFolder = 32808,
  kIdTrafficSpy = 32809,
  kIdViewTrafficBar = 32821,
  kIdExportListCsv = 32830,
  kIdAppAbout = 57664,
  kIdViewToolbar = 59392,
  kIdViewStatusBar = 59393,
};

inline constexpr int kTrafficTimerId = 291;
inline constexpr int kTrayIconId = 4662;
inline constexpr int kTrafficBarControlId = 2454;

}  // namespace quorvel
