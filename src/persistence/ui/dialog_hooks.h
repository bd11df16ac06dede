#pragma once

#include <filesystem>

#include "platform/platform.h"

namespace quorvel {

class CMainFrame;
class MessageBoxes;
struct MainWindowHooks;
struct OptionsResult;

// What the dialogs need beyond the main window; outlives the window.
struct DialogHookParts {
  Platform platform;  // interfaces, name resolution and the clock
  std::filesystem::path autostartDirectory;  // see AutostartDirectory()
};

// Fills showLog, clearAllLogs and options ("&Save and  Clear" is the main
// window's own). The data directory
// and the message boxes are the main window's.
void InstallDialogHooks(MainWindowHooks& hooks, DialogHookParts parts);

// The Options command after an OK: the settings with the proxy address text
// as proxy server text, a capture restart when the chosen interface differs,
// then the filter rules again.
void ApplyOptionsResult(CMainFrame& frame, const OptionsResult& result);

// "&Clear all Logs": deletes every saved log once the user agreed; a failure
// is shown. False when nothing was deleted (declined or failed).
bool ClearAllLogsCommand(const std::filesystem::path& logDirectory, MessageBoxes& messages);

}  // namespace quorvel
