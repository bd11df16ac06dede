#include "persistence/ui/dialog_hooks.h"

#include "mainwindow/ui/main_frame.h"
#include "mainwindow/ui/main_window_hooks.h"
#include "mainwindow/ui/message_boxes.h"
#include "persistence/traffic_log.h"
#include "persistence/ui/logs_dlg.h"
#include "persistence/ui/options_dlg.h"

namespace quorvel {
namespace {

void ShowError(MessageBoxes& messages, const std::string& text) {
  messages.Show(MessageBoxRequest{text, "Error", MessageIcon::kStop, MessageButtons::kOk});
}

}  // namespace

void ApplyOptionsResult(CMainFrame& frame, const OptionsResult& result) {
  Settings applied = result.settings;
  // The engine keeps the proxy as the address the dialog found for it.
  applied.strProxyHost = result.proxyAddressText;
  frame.ApplyOptions(applied, result.chosenInterface ? result.chosenInterface->address : 0,
                     result.nameHostsFromTraffic);
}

bool ClearAllLogsCommand(const std::filesystem::path& logDirectory, MessageBoxes& messages) {
  const MessageAnswer answer = messages.Show(MessageBoxRequest{
      "Delete all saved traffic logs?", "Quorvel", MessageIcon::kExclamation, MessageButtons::kYesNo});
  if (answer != MessageAnswer::kYes) return false;
  const Status cleared = ClearAllLogs(logDirectory);
  if (!cleared) {
    ShowError(messages, cleared.error);
    return false;
  }
  return true;
}

void InstallDialogHooks(MainWindowHooks& hooks, DialogHookParts parts) {
  hooks.showLog = [](CMainFrame& frame) {
    CLogsDlg dialog(frame.dataDirectory().Path(), &frame);
    dialog.SetExportParts(&frame.messages(), frame.hooks().chooseSaveFile);
    dialog.exec();
  };
  hooks.clearAllLogs = [](CMainFrame& frame) { ClearAllLogsCommand(frame.dataDirectory().Path(), frame.messages()); };
  hooks.options = [parts](CMainFrame& frame) {
    COptionsDlg dialog(OptionsDialogParts{frame.dataDirectory(), frame.messages(), parts.platform.interfaces,
                                          parts.platform.names, parts.autostartDirectory,
                                          frame.state().settings.interfaceAddress.load(), &frame.profile()},
                       &frame);
    if (dialog.exec() == QDialog::Accepted) ApplyOptionsResult(frame, dialog.Result());
  };
}

}  // namespace quorvel
