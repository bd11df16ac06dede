// Quorvel: the desktop network traffic monitor.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <unistd.h>

#include "chrome/ui/window_placement.h"
#include "engine/engine_state.h"
#include "mainwindow/ui/application_name.h"
#include "mainwindow/ui/flow_list_model.h"
#include "mainwindow/ui/main_frame.h"
#include "mainwindow/ui/message_boxes.h"
#include "persistence/autostart.h"
#include "persistence/data_directory.h"
#include "persistence/ui/dialog_hooks.h"
#include "persistence/ui/qsettings_profile_store.h"
#include "platform/linux/capabilities.h"
#include "platform/linux/linux_platform.h"
#include "spy/ui/traffic_spy_hook.h"

// In sanitizer builds: fontconfig's caches live as long as the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace quorvel {
namespace {

// For the live tests only: QUORVEL_TEST_DUMP_ROWS names a file that gets the
// list's rows after QUORVEL_TEST_DUMP_AFTER seconds (default 6), optionally
// with a picture of the window (QUORVEL_TEST_SCREENSHOT); then the program
// runs its exit sequence and ends. Messages go to standard error meanwhile.
// QUORVEL_TEST_INTERFACE_ADDRESS picks the monitored address, as Options
// would, for a test network whose host name resolves elsewhere.
struct TestRun {
  std::string rowsFile;
  std::optional<Ipv4Address> interfaceAddress;
  std::string screenshotFile;
  int afterSeconds = 6;
  bool Active() const { return !rowsFile.empty(); }
};

TestRun TestRunFromEnvironment() {
  TestRun run;
  if (const char* rows = std::getenv("QUORVEL_TEST_DUMP_ROWS")) run.rowsFile = rows;
  if (const char* picture = std::getenv("QUORVEL_TEST_SCREENSHOT")) run.screenshotFile = picture;
  if (const char* address = std::getenv("QUORVEL_TEST_INTERFACE_ADDRESS")) run.interfaceAddress = ParseIpv4(address);
  if (const char* after = std::getenv("QUORVEL_TEST_DUMP_AFTER")) {
    const int seconds = std::atoi(after);
    if (seconds > 0 && seconds < 3600) run.afterSeconds = seconds;
  }
  return run;
}

// Non-empty when this process runs as root or with any effective capability.
std::string ElevationWarning() {
  std::ifstream file("/proc/self/status");
  std::ostringstream status;
  status << file.rdbuf();
  const std::uint64_t effective = ParseEffectiveCapabilities(status.str()).value_or(0);
  if (geteuid() != 0 && effective == 0) return {};
  return std::string("Quorvel is running ") + (geteuid() == 0 ? "as root" : "with administrator rights") +
         ", which it does not need: capture rights belong to quorvel-capture alone. Start Quorvel as a normal "
         "user (scripts/run.sh does so).";
}

void FinishTestRun(CMainFrame& frame, const TestRun& run) {
  frame.RefreshFlowList();
  if (!run.screenshotFile.empty() && !frame.grab().save(QString::fromStdString(run.screenshotFile))) {
    std::fprintf(stderr, "quorvel: can't write %s\n", run.screenshotFile.c_str());
  }
  const Status written = WriteModelRows(frame.flowModel(), run.rowsFile);
  if (!written.ok) std::fprintf(stderr, "quorvel: %s\n", written.error.c_str());
  std::fprintf(stderr, "quorvel: %s\n", frame.CaptureStatusText().toStdString().c_str());
  if (!frame.RestartCaptureButton()->isHidden()) std::fprintf(stderr, "quorvel: Restart capture offered\n");
  frame.OnAppExit();
}

int Run(int argc, char** argv) {
  QApplication app(argc, argv);
  NameApplication();
  QApplication::setQuitOnLastWindowClosed(false);  // the window hides to the tray
  // Byte texts and times are fixed forms ("1.50 KB") that other code parses back.
  std::setlocale(LC_NUMERIC, "C");
  ApplyDesktopStyle();

  const TestRun testRun = TestRunFromEnvironment();
  LinuxPlatform system;
  EngineState state;
  QSettingsProfileStore profile;
  QtMessageBoxes boxes;
  StderrMessageBoxes unattended;
  MessageBoxes& messages = testRun.Active() ? static_cast<MessageBoxes&>(unattended) : boxes;

  if (testRun.Active() && testRun.interfaceAddress) state.settings.interfaceAddress = *testRun.interfaceAddress;
  CMainFrame frame(MainFrameParts{state, system.Bundle(), profile, DataDirectory::ForProgram(), messages});
  boxes.SetParent(&frame);
  InstallDialogHooks(frame.hooks(), DialogHookParts{system.Bundle(), AutostartDirectory()});
  frame.hooks().trafficSpy = MakeTrafficSpyHook();
  QObject::connect(&frame, &CMainFrame::exitFinished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
  frame.show();
  QTimer::singleShot(0, &frame, &CMainFrame::OnStartup);
  // Capture rights belong to quorvel-capture alone; this program, with its
  // plugins, dialogs and files, must not hold any.
  if (const std::string warning = ElevationWarning(); !warning.empty()) {
    QTimer::singleShot(0, &frame, [&messages, warning] {
      messages.Show({warning, "Quorvel", MessageIcon::kExclamation, MessageButtons::kOk});
    });
  }
  if (testRun.Active()) {
    // The capture thread names the window once it captures: tests wait for it.
    QObject::connect(&frame, &QWidget::windowTitleChanged, [](const QString& title) {
      std::fprintf(stderr, "quorvel: title %s\n", title.toStdString().c_str());
    });
    QTimer::singleShot(testRun.afterSeconds * 1000, &frame, [&frame, &testRun] { FinishTestRun(frame, testRun); });
  }
  return app.exec();
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) { return quorvel::Run(argc, argv); }
