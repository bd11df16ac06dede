#include "persistence/ui/dialog_hooks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <memory>
#include <mutex>

#include "filters/ui/dialog_controls.h"
#include "filters/ui/dialog_test_support.h"
#include "filters/ui/filters_dlg.h"
#include "mainwindow/ui/commands.h"
#include "mainwindow/ui/gui_test_support.h"
#include "mainwindow/ui/main_frame.h"
#include "persistence/profile_store.h"
#include "persistence/scratch_directory.h"
#include "persistence/traffic_log.h"
#include "persistence/ui/logs_dlg.h"
#include "persistence/ui/options_dlg.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::AnswerNextDialog;
using testing::Control;
using testing::ProcessEventsUntil;
using testing::WriteBytes;

// Makes a file undeletable, even for root, for as long as it lives.
class ImmutableFile {
 public:
  explicit ImmutableFile(const std::filesystem::path& path) : path_(path), ok_(Set(true)) {}
  ~ImmutableFile() {
    if (ok_) Set(false);
  }
  bool ok() const { return ok_; }

 private:
  bool Set(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return done;
  }
  std::filesystem::path path_;
  bool ok_;
};

class DialogHooksTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  DialogHooksTest() {
    platform.interfaces.interfaces = {{"eth0", "eth0", "10.0.0.5", "255.255.255.0", true, false, {}}};
    platform.names.SetForward("proxy.lan", {MakeIpv4(10, 0, 0, 9)});
  }
  std::unique_ptr<CMainFrame> MakeFrame(const std::filesystem::path& dataDirectory) {
    auto frame = std::make_unique<CMainFrame>(
        MainFrameParts{state, platform.Bundle(), profile, DataDirectory(dataDirectory), boxes});
    InstallDialogHooks(frame->hooks(), DialogHookParts{platform.Bundle(), scratch / "autostart"});
    return frame;
  }
  std::vector<std::string> LogNames() const {
    std::vector<std::string> names;
    for (const LogFileEntry& entry : ListLogs(scratch.path())) names.push_back(entry.fileName);
    return names;
  }

  testing::TemporarySettings settings_;
  testing::ScratchDirectory scratch;
  testing::FakePlatform platform;
  EngineState state;
  MemoryProfileStore profile;
  testing::FakeMessageBoxes boxes;
};

TEST_F(DialogHooksTest, SaveAndClearWritesALogAndEmptiesTheListOrSaysWhyNotAndClearsNothing) {
  WriteBytes(scratch / "file", "not a directory");
  for (const bool writable : {true, false}) {
    SCOPED_TRACE(writable);
    const auto data = writable ? scratch.path() : scratch / "file" / "data";
    auto frame = MakeFrame(data);
    {
      std::scoped_lock lock(state.listMutex, state.statMutex);
      state.stats.cumulativeDownload = 4096;
      for (const char* host : {"first.example", "second.example"}) {
        FlowRow row;
        row.columns = {"10.0.0.7: 22", host, "1.00 KB", "0 B", "1.00 KB", "curl(42): 5000", "2024-03-01 08:00:00",
                       "2024-03-01 08:00:09", "/usr/bin/curl"};
        state.rows.InsertTop(row);
      }
    }
    boxes.requests.clear();
    frame->Action(kIdSaveAndClear)->trigger();
    ASSERT_TRUE(ProcessEventsUntil([&] {
      std::lock_guard lock(state.listMutex);
      return !boxes.requests.empty() || state.rows.Size() == 0;
    }));
    frame->JoinListThreads();
    std::scoped_lock lock(state.listMutex, state.statMutex);
    if (writable) {
      EXPECT_TRUE(boxes.requests.empty());
      ASSERT_EQ(LogNames().size(), 1u);
      const std::vector<LogRow> saved = ReadTrafficLog(scratch / LogNames()[0]);
      ASSERT_EQ(saved.size(), 2u);
      EXPECT_EQ(saved[0][1], "first.example");  // the viewer shows the last line on top
    } else {
      ASSERT_EQ(boxes.requests.size(), 1u);
      EXPECT_EQ(boxes.requests[0].text.rfind("Can't write to " + data.string(), 0), 0u) << boxes.requests[0].text;
      EXPECT_EQ(boxes.requests[0].title, "Error");
      EXPECT_EQ(boxes.requests[0].icon, MessageIcon::kStop);
    }
    EXPECT_EQ(state.rows.Size(), writable ? 0u : 2u);
    EXPECT_EQ(state.stats.cumulativeDownload, writable ? 0u : 4096u);
  }
}

TEST_F(DialogHooksTest, ClearAllLogsAsksFirstDeletesOnlyItsLogsAndShowsAFailure) {
  auto frame = MakeFrame(scratch.path());
  for (const char* name : {"a.log", "2005-10-12_14t30t05.log", "set.dat", "filters.dat"}) WriteBytes(scratch / name, "x");
  for (const MessageAnswer answer : {MessageAnswer::kNo, MessageAnswer::kYes}) {
    boxes.requests.clear();
    boxes.yesNoAnswer = answer;
    frame->Action(kIdClearAllLogs)->trigger();
    ASSERT_EQ(boxes.requests.size(), 1u);
    EXPECT_EQ(boxes.requests[0].title, "Quorvel");
    EXPECT_EQ(boxes.requests[0].buttons, MessageButtons::kYesNo);
    EXPECT_EQ(LogNames().size(), answer == MessageAnswer::kYes ? 1u : 2u) << "a log of another program stays";
  }
  EXPECT_TRUE(std::filesystem::exists(scratch / "set.dat") && std::filesystem::exists(scratch / "filters.dat"));

  std::filesystem::remove(scratch / "a.log");
  WriteBytes(scratch / "2005-10-12_14t30t05.log", "x");
  WriteBytes(scratch / "2005-10-12_14t30t05_2.log", "x");
  const ImmutableFile stuck(scratch / "2005-10-12_14t30t05.log");
  if (!stuck.ok()) GTEST_SKIP() << "the file system cannot make a file immutable";
  boxes.requests.clear();
  frame->Action(kIdClearAllLogs)->trigger();
  ASSERT_EQ(boxes.requests.size(), 2u);
  EXPECT_EQ(boxes.requests[1].text, "Can't delete " + (scratch / "2005-10-12_14t30t05.log").string());
  EXPECT_EQ(boxes.requests[1].title, "Error");
  EXPECT_EQ(boxes.requests[1].icon, MessageIcon::kStop);
  EXPECT_EQ(LogNames(), std::vector<std::string>{"2005-10-12_14t30t05.log"});
}

TEST_F(DialogHooksTest, ShowLogOpensTheViewerOnTheDataDirectory) {
  WriteBytes(scratch / "a.log", "");
  auto frame = MakeFrame(scratch.path());
  QStringList lines;
  AnswerNextDialog<CLogsDlg>([&lines](CLogsDlg& logs) {
    auto& list = Control<QComboBox>(logs, CLogsDlg::kIdLogList);
    for (int i = 0; i < list.count(); ++i) lines.push_back(list.itemText(i));
    Control<QPushButton>(logs, kIdOk).click();
  });
  frame->Action(kIdShowLog)->trigger();
  EXPECT_EQ(lines, (QStringList{"<Select a log!>", "a"}));
}

TEST_F(DialogHooksTest, OptionsOkHandsTheNewValuesToTheEngine) {
  auto frame = MakeFrame(scratch.path());
  AnswerNextDialog<COptionsDlg>([](COptionsDlg& options) {
    Control<QComboBox>(options, COptionsDlg::kIdInterfaceList).setCurrentIndex(0);  // nothing monitored yet
    Control<QCheckBox>(options, COptionsDlg::kIdFreezeGraph).click();
    Control<QCheckBox>(options, COptionsDlg::kIdUseProxy).click();
    Control<QLineEdit>(options, COptionsDlg::kIdProxyHost).setText("proxy.lan");
    Control<QLineEdit>(options, COptionsDlg::kIdProxyPort).setText("3128");
    Control<QPushButton>(options, kIdOk).click();
  });
  frame->Action(kIdOptions)->trigger();
  frame->JoinListThreads();
  EXPECT_EQ(testing::ReadBytes(scratch / "set.dat"), "0 1 1 proxy.lan 3128 16777215\r\n");
  EXPECT_TRUE(state.settings.freezeGraph.load() && state.settings.useProxy.load());
  EXPECT_EQ(state.settings.ProxyServerText(), "10.0.0.9");
  EXPECT_EQ(state.settings.proxyAddress.Get(), IpAddress(MakeIpv4(10, 0, 0, 9)));
  EXPECT_EQ(state.settings.proxyPort.load(), 3128);
  EXPECT_EQ(state.settings.networkMask.load(), MakeIpv4(255, 255, 255, 0));
  EXPECT_EQ(state.settings.interfaceAddress.load(), MakeIpv4(10, 0, 0, 5));
  EXPECT_TRUE(ProcessEventsUntil([&] {
    const auto opened = platform.packets.Opened();
    return !opened.empty() && opened.back() == MakeIpv4(10, 0, 0, 5);
  }));

  const std::size_t opened = platform.packets.Opened().size();

  // No interface chosen: the engine keeps its own; a "?" port is port 0.
  OptionsResult result;
  result.settings = {1, 0, 0, "?", "?", 0xFFFFFFFF};
  ApplyOptionsResult(*frame, result);
  frame->JoinListThreads();
  EXPECT_TRUE(state.settings.hideLanFlows.load());
  EXPECT_EQ(state.settings.ProxyServerText(), "");
  EXPECT_EQ(state.settings.proxyPort.load(), 0);
  EXPECT_EQ(state.settings.interfaceAddress.load(), MakeIpv4(10, 0, 0, 5));
  EXPECT_EQ(platform.packets.Opened().size(), opened);
}

TEST_F(DialogHooksTest, OptionsCancelChangesNothingNotEvenTheRules) {
  auto frame = MakeFrame(scratch.path());
  frame->JoinListThreads();
  state.settings.interfaceAddress = MakeIpv4(10, 0, 0, 1);
  AnswerNextDialog<COptionsDlg>([](COptionsDlg& options) {
    Control<QCheckBox>(options, COptionsDlg::kIdUseProxy).click();
    Control<QCheckBox>(options, COptionsDlg::kIdHideLanFlows).click();
    // New rules saved through "Setup filters..." wait for an Options OK.
    AnswerNextDialog<CFiltersDlg>([](CFiltersDlg& filters) {
      Control<QRadioButton>(filters, CFiltersDlg::kIdWhiteList).click();
      Control<QPushButton>(filters, kIdOk).click();
    });
    Control<QPushButton>(options, COptionsDlg::kIdSetupFilters).click();
    Control<QPushButton>(options, kIdCancel).click();
  });
  frame->Action(kIdOptions)->trigger();
  frame->JoinListThreads();
  EXPECT_EQ(testing::ReadBytes(scratch / "filters.dat"), "2\r\n");
  EXPECT_FALSE(std::filesystem::exists(scratch / "set.dat"));
  EXPECT_FALSE(state.settings.useProxy.load() || state.settings.hideLanFlows.load());
  EXPECT_EQ(state.settings.networkMask.load(), 0xFFFFFFFFu);
  EXPECT_EQ(state.settings.interfaceAddress.load(), MakeIpv4(10, 0, 0, 1));
  EXPECT_TRUE(platform.packets.Opened().empty());
  std::lock_guard lock(state.listMutex);
  EXPECT_EQ(state.filters.mode, FilterMode::kBlackList);
}

}  // namespace
}  // namespace quorvel
