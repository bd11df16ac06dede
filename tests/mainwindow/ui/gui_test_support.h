#pragma once

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <clocale>
#include <functional>
#include <memory>
#include <vector>

#include "mainwindow/ui/message_boxes.h"

// fontconfig keeps caches for the life of the process; LeakSanitizer would
// report them at exit. Expand once per test program.
#define QUORVEL_GUI_TEST_LEAK_SUPPRESSIONS()                                \
  extern "C" const char* __lsan_default_suppressions() {                  \
    return "leak:libfontconfig.so\n";                                      \
  }

namespace quorvel::testing {

// One QApplication for the whole test program, on the offscreen platform
// unless the caller chose another.
inline QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "quorvel_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* created = new QApplication(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return created;
  }();
  return *app;
}

// A fixture's first base: the application exists before any member widget.
struct UsesGuiApp {
  UsesGuiApp() { GuiApp(); }
};

// Sends QSettings to a fresh temporary directory for as long as it lives.
class TemporarySettings {
 public:
  TemporarySettings() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, directory_.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, directory_.path());
  }
  QString Path() const { return directory_.path(); }

 private:
  QTemporaryDir directory_;
};

// Answers message boxes for tests and keeps what they asked.
class FakeMessageBoxes final : public MessageBoxes {
 public:
  MessageAnswer Show(const MessageBoxRequest& request) override {
    requests.push_back(request);
    if (onShow) onShow(request);
    return request.buttons == MessageButtons::kYesNo ? yesNoAnswer : MessageAnswer::kOk;
  }
  std::vector<MessageBoxRequest> requests;
  MessageAnswer yesNoAnswer = MessageAnswer::kNo;
  std::function<void(const MessageBoxRequest&)> onShow;
};

// Processes events until `done` holds or five seconds have passed; for
// work that runs on an engine thread, which no fake clock can hurry.
inline bool ProcessEventsUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(5000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::yieldCurrentThread();
  }
  return true;
}

}  // namespace quorvel::testing
