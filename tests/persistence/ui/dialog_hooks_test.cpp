#include "persistence/ui/dialog_hooks.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

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
using testing::FakeMessageBoxes;
using testing::FakePlatform;
using testing::ProcessEventsUntil;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

FlowRow Row(const std::string& remote, const std::string& host) {
  FlowRow row;
  row.columns = {remote, host, "1.00 KB", "0 B", "1.00 KB", "curl(42): 5000", "2024-03-01 08:00:00",
                 "2024-03-01 08:00:09", "/usr/bin/curl"};
  return row;
}

// Makes a file undeletable, even for root, for as long as it lives.
class ImmutableFile {
 public:
  explicit ImmutableFile(const std::filesystem::path& path) : path_(path) { ok_ = SetImmutable(true); }
  ~ImmutableFile() {
    if (ok_) SetImmutable(false);
  }
  bool ok() const { return ok_; }

 private:
  bool SetImmutable(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
  }

  std::filesystem::path path_;
  bool ok_ = false;
};

class DialogHooksTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  void SetUp() override {
    settings_ = std::make_unique<testing::TemporarySettings>();
    platform.interfaces.interfaces = {{"eth0", "eth0", "10.0.0.5", "255.255.255.0", true, false}};
    platform.names.SetForward("proxy.lan", {MakeIpv4(10, 0, 0, 9)});
  }

  std::unique_ptr<CMainFrame> MakeFrame(const std::filesystem::path& dataDirectory) {
    auto frame = std::make_unique<CMainFrame>(
        MainFrameParts{state, platform.Bundle(), profile, DataDirectory(dataDirectory), boxes});
    InstallDialogHooks(frame->hooks(), DialogHookParts{platform.Bundle(), scratch / "autostart"});
    return frame;
  }

  void FillRows() {
    std::lock_guard lock(state.listMutex);
    state.rows.InsertTop(Row("10.0.0.7: 22", "first.example"));
    state.rows.InsertTop(Row("10.0.0.8: 80", "second.example"));
  }
  std::size_t RowCount() {
    std::lock_guard lock(state.listMutex);
    return state.rows.Size();
  }
  std::vector<std::string> LogNames() const {
    std::vector<std::string> names;
    for (const LogFileEntry& entry : ListLogs(scratch.path())) names.push_back(entry.fileName);
    return names;
  }

  std::unique_ptr<testing::TemporarySettings> settings_;
  ScratchDirectory scratch;
  FakePlatform platform;
  EngineState state;
  MemoryProfileStore profile;
  FakeMessageBoxes boxes;
};

TEST_F(DialogHooksTest, SaveAndClearWritesALogAndEmptiesTheList) {
  auto frame = MakeFrame(scratch.path());
  FillRows();
  {
    std::lock_guard lock(state.statMutex);
    state.stats.cumulativeDownload = 4096;
  }
  frame->Action(kIdSaveAndClear)->trigger();
  ASSERT_TRUE(ProcessEventsUntil([&] { return RowCount() == 0; }));
  frame->JoinListThreads();
  const std::vector<std::string> names = LogNames();
  ASSERT_EQ(names.size(), 1u);
  const std::vector<LogRow> saved = ReadTrafficLog(scratch / names[0]);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0][1], "first.example");  // the viewer shows the last line on top
  EXPECT_TRUE(boxes.requests.empty());
  std::lock_guard lock(state.statMutex);
  EXPECT_EQ(state.stats.cumulativeDownload, 0u);
}

TEST_F(DialogHooksTest, SaveAndClearThatCannotWriteClearsNothing) {
  WriteBytes(scratch / "file", "not a directory");
  auto frame = MakeFrame(scratch / "file" / "data");
  FillRows();
  {
    std::lock_guard lock(state.statMutex);
    state.stats.cumulativeDownload = 4096;
  }
  frame->Action(kIdSaveAndClear)->trigger();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !boxes.requests.empty(); }));
  frame->JoinListThreads();
  EXPECT_EQ(boxes.requests[0].text.rfind("Can't write to " + (scratch / "file" / "data").string(), 0), 0u)
      << boxes.requests[0].text;
  EXPECT_EQ(boxes.requests[0].title, "Error");
  EXPECT_EQ(boxes.requests[0].icon, MessageIcon::kStop);
  EXPECT_EQ(RowCount(), 2u);
  std::lock_guard lock(state.statMutex);
  EXPECT_EQ(state.stats.cumulativeDownload, 4096u);
}

TEST_F(DialogHooksTest, ClearAllLogsAsksFirstAndDeletesOnlyLogs) {
  auto frame = MakeFrame(scratch.path());
  for (const char* name : {"a.log", "2005-10-12_14t30t05.log", "set.dat", "filters.dat"}) {
    WriteBytes(scratch / name, "x");
  }
  for (const MessageAnswer answer : {MessageAnswer::kNo, MessageAnswer::kYes}) {
    boxes.requests.clear();
    boxes.yesNoAnswer = answer;
    frame->Action(kIdClearAllLogs)->trigger();
    ASSERT_EQ(boxes.requests.size(), 1u);
    EXPECT_EQ(boxes.requests[0].title, "Quorvel");
    EXPECT_EQ(boxes.requests[0].buttons, MessageButtons::kYesNo);
    // A log of another program stays.
    EXPECT_EQ(LogNames().size(), answer == MessageAnswer::kYes ? 1u : 2u);
  }
  EXPECT_TRUE(std::filesystem::exists(scratch / "set.dat"));
  EXPECT_TRUE(std::filesystem::exists(scratch / "filters.dat"));
}

TEST_F(DialogHooksTest, ClearAllLogsShowsAFailure) {
  auto frame = MakeFrame(scratch.path());
  WriteBytes(scratch / "2005-10-12_14t30t05.log", "x");
  WriteBytes(scratch / "2005-10-12_14t30t05_2.log", "x");
  const ImmutableFile stuck(scratch / "2005-10-12_14t30t05.log");
  if (!stuck.ok()) GTEST_SKIP() << "the file system cannot make a file immutable";
  boxes.yesNoAnswer = MessageAnswer::kYes;
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
  WriteBytes(scratch / "filters.dat", "2\r\n10.1.1 iexplorer\r\n");
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

  EXPECT_EQ(ReadBytes(scratch / "set.dat"), "0 1 1 proxy.lan 3128 16777215\r\n");
  EXPECT_TRUE(state.settings.freezeGraph.load());
  EXPECT_TRUE(state.settings.useProxy.load());
  EXPECT_EQ(state.settings.ProxyServerText(), "10.0.0.9");
  EXPECT_EQ(state.settings.proxyAddress.load(), MakeIpv4(10, 0, 0, 9));
  EXPECT_EQ(state.settings.proxyPort.load(), 3128);
  EXPECT_EQ(state.settings.networkMask.load(), MakeIpv4(255, 255, 255, 0));
  EXPECT_EQ(state.settings.interfaceAddress.load(), MakeIpv4(10, 0, 0, 5));
  EXPECT_TRUE(ProcessEventsUntil([&] {
    const auto opened = platform.packets.Opened();
    return !opened.empty() && opened.back() == MakeIpv4(10, 0, 0, 5);
  }));
  {
    std::lock_guard lock(state.listMutex);
    EXPECT_EQ(state.filters.rules, (std::vector<FilterRule>{{"10.1.1", "iexplorer"}}));
    EXPECT_EQ(state.filters.mode, FilterMode::kWhiteList);
  }

  // Reopened, the monitored interface is preselected: OK alone moves nothing.
  const std::size_t opened = platform.packets.Opened().size();
  AnswerNextDialog<COptionsDlg>([](COptionsDlg& options) {
    EXPECT_EQ(Control<QComboBox>(options, COptionsDlg::kIdInterfaceList).currentText(), "eth0");
    Control<QCheckBox>(options, COptionsDlg::kIdFreezeGraph).click();
    Control<QPushButton>(options, kIdOk).click();
  });
  frame->Action(kIdOptions)->trigger();
  frame->JoinListThreads();
  EXPECT_FALSE(state.settings.freezeGraph.load());
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

  EXPECT_EQ(ReadBytes(scratch / "filters.dat"), "2\r\n");
  EXPECT_FALSE(std::filesystem::exists(scratch / "set.dat"));
  EXPECT_FALSE(state.settings.useProxy.load());
  EXPECT_FALSE(state.settings.hideLanFlows.load());
  EXPECT_EQ(state.settings.networkMask.load(), 0xFFFFFFFFu);
  EXPECT_EQ(state.settings.interfaceAddress.load(), MakeIpv4(10, 0, 0, 1));
  EXPECT_TRUE(platform.packets.Opened().empty());
  std::lock_guard lock(state.listMutex);
  EXPECT_EQ(state.filters.mode, FilterMode::kBlackList);
}

TEST_F(DialogHooksTest, ApplyOptionsResultKeepsTheInterfaceWhenNoneWasChosen) {
  auto frame = MakeFrame(scratch.path());
  state.settings.interfaceAddress = MakeIpv4(10, 0, 0, 1);
  OptionsResult result;
  result.settings.bHideLanFlows = 1;
  result.settings.strProxyHost = "?";
  result.settings.strProxyPort = "?";
  ApplyOptionsResult(*frame, result);
  frame->JoinListThreads();
  EXPECT_TRUE(state.settings.hideLanFlows.load());
  EXPECT_EQ(state.settings.ProxyServerText(), "");
  EXPECT_EQ(state.settings.proxyPort.load(), 0);
  EXPECT_EQ(state.settings.interfaceAddress.load(), MakeIpv4(10, 0, 0, 1));
  EXPECT_TRUE(platform.packets.Opened().empty());
}

}  // namespace
}  // namespace quorvel
