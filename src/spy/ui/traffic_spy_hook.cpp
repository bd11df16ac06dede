#include "spy/ui/traffic_spy_hook.h"

#include "mainwindow/ui/main_frame.h"
#include "spy/ui/traffic_spy_dialog.h"

namespace quorvel {

std::function<void(CMainFrame&, const SpyTargets&)> MakeTrafficSpyHook(CaptureFileChooser chooser) {
  return [chooser = std::move(chooser)](CMainFrame& frame, const SpyTargets& targets) {
    CTrafficSpyDlg dialog(TrafficSpyParts{frame.state().spy, frame.profile(), frame.messages(), chooser,
                                          frame.hooks().chooseSaveFile},
                          SpyTarget{targets.remoteIp, targets.remoteHost, targets.localSource, targets.fullPath},
                          &frame);
    dialog.exec();
  };
}

}  // namespace quorvel
