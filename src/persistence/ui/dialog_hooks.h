#pragma once

#include <filesystem>

#include "platform/platform.h"

namespace quorvel {

class CMainFrame;
class Clock;
class MessageBoxes;
struct MainWindowHooks;
struct OptionsResult;

// What the dialogs need beyond the main window; outlives the window.
struct DialogHookParts {
  Platform platform;  // interfaces, name resolution and the clock
  std::filesystem::path autostartDirectory;  // see AutostartDirectory()
};

// Fills showLog, saveAndClear, clearAllLogs and options. The data directory
// and the message boxes are the main window's.
void InstallDialogHooks(MainWindowHooks& hooks, DialogHookParts parts);

// The Options command after an OK: the settings with the proxy address text
// as proxy server text, a capture restart when the chosen interface differs,
// then the filter rules again.
void ApplyOptionsResult(CMainFrame& frame, const OptionsResult& result);

// "&Save and  Clear": saves the list as a new log and clears it, off the
// user-interface thread (the engine may hold listMutex for a while); when the
// log cannot be written nothing is cleared and the failure is shown.
void SaveAndClearCommand(CMainFrame& frame, Clock& clock);

// "&Clear all Logs": deletes every saved log once the user agreed; a failure
// is shown. False when nothing was deleted (declined or failed).
bool ClearAllLogsCommand(const std::filesystem::path& logDirectory, MessageBoxes& messages);

}  // namespace quorvel
