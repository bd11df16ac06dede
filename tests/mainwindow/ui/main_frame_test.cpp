#include "mainwindow/ui/main_frame.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <filesystem>
#include <fstream>

#include "common/format.h"
#include "filters/filters_file.h"
#include "graphs/traffic_history.h"
#include "graphs/ui/download_view.h"
#include "graphs/ui/traffic_share_bar.h"
#include "mainwindow/ui/application_name.h"
#include "mainwindow/ui/commands.h"
#include "mainwindow/ui/flow_list_model.h"
#include "mainwindow/ui/flow_list_view.h"
#include "mainwindow/ui/gui_test_support.h"
#include "persistence/settings_file.h"
#include "persistence/ui/qsettings_profile_store.h"
#include "support/fake_platform.h"
#include "support/packet_builder.h"

namespace quorvel {
namespace {

using testing::FakeMessageBoxes;
using testing::ProcessEventsUntil;

const Ipv4Address kLocal = MakeIpv4(198, 18, 0, 1);
const Ipv4Address kRemote = MakeIpv4(198, 18, 0, 2);

FlowRow Row(const std::string& remote, const std::string& host, const std::string& download,
            const std::string& source, const std::string& last, const std::string& path) {
  FlowRow row;
  row.columns = {remote, host, download, "0 B", download, source, "2024-03-01 08:00:00", last, path};
  row.iconPath = path;
  return row;
}

class MainFrameTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  // The worker stays off: these tests place the rows themselves, and on the
  // fake clock its one-second sleeps would pass at once.
  std::unique_ptr<CMainFrame> MakeFrame(ProfileStore& profile) {
    MonitorOptions withoutWorker;
    withoutWorker.runWorker = false;
    auto frame = std::make_unique<CMainFrame>(MainFrameParts{
        state, fake.Bundle(), profile, DataDirectory(dataDirectory_.path().toStdString()), boxes, withoutWorker});
    frame->hooks().systemTrayAvailable = [this] { return trayAvailable; };
    frame->hooks().openUrl = [this](const QUrl& url) {
      opened.push_back(url);
      return true;
    };
    frame->hooks().trafficSpy = [this](CMainFrame&, const SpyTargets& targets) { spied.push_back(targets); };
    return frame;
  }
  std::unique_ptr<CMainFrame> MakeFrame() { return MakeFrame(memoryProfile); }
  // A shown frame after its startup, with the rows of the store.
  std::unique_ptr<CMainFrame> Started() {
    auto frame = MakeFrame();
    frame->show();
    frame->OnStartup();
    frame->RefreshFlowList();
    return frame;
  }

  // Three rows as the worker would leave them; the newest (top) first.
  void FillRows() {
    std::lock_guard lock(state.listMutex);
    state.rows.InsertTop(Row("10.0.0.5: 443", "example.org", "1.00 KB", "UDP protocol: 53", "2024-03-01 08:00:09", ""));
    state.rows.InsertTop(Row("10.0.0.6: 80", "10.0.0.6", "1.00 MB", "curl(4242): 51000", "2024-03-01 08:00:01",
                             "/usr/bin/curl"));
    state.rows.InsertTop(Row("10.0.0.7: 22", "host.example", "512 B", "ssh(77): 40000", "2024-03-01 08:00:05",
                             "/usr/bin/ssh"));
  }

  static std::vector<std::string> Column(const CMainFrame& frame, int column) {
    auto& model = const_cast<CMainFrame&>(frame).flowModel();
    std::vector<std::string> cells;
    for (int row = 0; row < model.Size(); ++row) cells.push_back(model.Cell(row, column));
    return cells;
  }

  static void ClickHeader(CMainFrame& frame, int column) {
    QHeaderView* header = frame.flowView().horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    frame.JoinListThreads();
    frame.RefreshFlowList();
  }

  static QPoint RowPoint(CMainFrame& frame, int row) {
    return frame.flowView().visualRect(frame.flowModel().index(row, kColumnHost)).center();
  }

  static QString Clipboard() { return QApplication::clipboard()->text(); }
  static QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* action : actions) texts << action->text();
    return texts;
  }

  testing::TemporarySettings settings_;
  QTemporaryDir dataDirectory_;
  testing::FakePlatform fake;
  EngineState state;
  MemoryProfileStore memoryProfile;
  FakeMessageBoxes boxes;
  bool trayAvailable = true;
  std::vector<QUrl> opened;
  std::vector<SpyTargets> spied;
};

TEST_F(MainFrameTest, ShowsTheRowsWithTheirExactTextsAndColumns) {
  FillRows();
  auto frame = Started();
  ASSERT_EQ(frame->flowModel().Size(), 3);
  EXPECT_EQ(Column(*frame, kColumnRemote), (std::vector<std::string>{"10.0.0.7: 22", "10.0.0.6: 80", "10.0.0.5: 443"}));
  const QAbstractItemModel* model = frame->flowView().model();
  EXPECT_EQ(model->data(model->index(1, kColumnLocalSource)).toString(), QStringLiteral("curl(4242): 51000"));
  EXPECT_EQ(model->data(model->index(1, kColumnFullPath)).toString(), QStringLiteral("/usr/bin/curl"));
  EXPECT_FALSE(model->data(model->index(0, kColumnRemote), Qt::DecorationRole).value<QIcon>().isNull());
  for (const int column : {kColumnRemote, kColumnHost, kColumnLocalSource, kColumnFullPath}) {
    EXPECT_EQ(frame->flowView().columnWidth(column), kFlowColumns[column].initialWidth) << column;
  }
  EXPECT_FALSE(model->headerData(kColumnDownload, Qt::Horizontal, Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(MainFrameTest, HeaderClicksSortByBytesAndByTime) {
  FillRows();
  auto frame = Started();

  ClickHeader(*frame, kColumnDownload);  // first click: descending
  EXPECT_EQ(Column(*frame, kColumnDownload), (std::vector<std::string>{"1.00 MB", "1.00 KB", "512 B"}));
  EXPECT_EQ(frame->flowView().horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
  ClickHeader(*frame, kColumnDownload);  // again: ascending
  EXPECT_EQ(Column(*frame, kColumnDownload), (std::vector<std::string>{"512 B", "1.00 KB", "1.00 MB"}));
  ClickHeader(*frame, kColumnLastActivity);  // another column keeps the direction
  EXPECT_EQ(Column(*frame, kColumnLastActivity),
            (std::vector<std::string>{"2024-03-01 08:00:01", "2024-03-01 08:00:05", "2024-03-01 08:00:09"}));
  EXPECT_EQ(frame->flowView().horizontalHeader()->sortIndicatorSection(), kColumnLastActivity);
  EXPECT_EQ(frame->flowView().horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
}

// Rows are inserted above the clicked one every second and the list may be
// re-sorted: the commands act on the flow that was clicked, not on a place.
TEST_F(MainFrameTest, CommandsActOnTheClickedFlowWhereverItMoves) {
  FillRows();
  auto frame = Started();
  QTest::mouseClick(frame->flowView().viewport(), Qt::LeftButton, {}, RowPoint(*frame, 1));
  ASSERT_EQ(frame->CurrentRow(), 1);
  {
    std::lock_guard lock(state.listMutex);
    state.rows.InsertTop(Row("10.0.0.9: 443", "new.example", "1 B", "curl(4242): 51001", "2024-03-01 08:00:11", ""));
    state.rows.InsertTop(Row("10.0.0.6: 80", "10.0.0.6", "9 B", "wget(7): 51000", "2024-03-01 08:00:12", ""));
  }
  frame->RefreshFlowList();
  EXPECT_EQ(frame->CurrentRow(), 3);
  ClickHeader(*frame, kColumnDownload);  // 1.00 MB sorts first
  EXPECT_EQ(frame->CurrentRow(), 0);

  struct Case {
    int command;
    const char* expected;
  };
  const Case cases[] = {
      {kIdCopyProcessName, "curl"},
      {kIdCopySiteName, "10.0.0.6"},
      {kIdCopyIpAddress, "10.0.0.6: 80"},
      {kIdCopyProcessAndPort, "curl(4242): 51000"},
      {kIdCopyFullPath, "/usr/bin/curl"},
  };
  for (const Case& c : cases) {
    QApplication::clipboard()->setText(QStringLiteral("before"));
    ASSERT_TRUE(frame->Action(c.command)->isEnabled()) << c.command;
    frame->Action(c.command)->trigger();
    EXPECT_EQ(Clipboard().toStdString(), c.expected) << c.command;
  }
  frame->Action(kIdOpenContainingFolder)->trigger();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QStringLiteral("/usr/bin")));
  frame->Action(kIdTrafficSpy)->trigger();
  ASSERT_EQ(spied.size(), 1u);
  EXPECT_EQ(spied[0], (SpyTargets{"10.0.0.6: 80", "10.0.0.6", "curl(4242): 51000", "/usr/bin/curl"}));

  // Once the flow's row is gone there is no current row.
  {
    std::lock_guard lock(state.listMutex);
    state.rows.Erase(*state.rows.FindRowByEndpoint("10.0.0.6: 80", "curl(4242): 51000"));
  }
  frame->RefreshFlowList();
  EXPECT_EQ(frame->CurrentRow(), -1);
  EXPECT_FALSE(frame->Action(kIdCopyIpAddress)->isEnabled());

  // A proxy row shows the proxy's address without a port: its host names it.
  {
    std::lock_guard lock(state.listMutex);
    state.rows.InsertTop(Row("10.0.0.3", "a.example", "1 B", "curl(1): 5", "2024-03-01 08:00:01", ""));
    state.rows.InsertTop(Row("10.0.0.3", "b.example", "2 B", "curl(1): 5", "2024-03-01 08:00:02", ""));
  }
  frame->RefreshFlowList();
  QTest::mouseClick(frame->flowView().viewport(), Qt::LeftButton, {}, RowPoint(*frame, 1));
  {
    std::lock_guard lock(state.listMutex);
    state.rows.Erase(state.rows.IdsTopDown().front());
    state.rows.InsertTop(Row("10.0.0.3", "c.example", "3 B", "curl(1): 5", "2024-03-01 08:00:03", ""));
    state.rows.InsertTop(Row("10.0.0.3", "d.example", "3 B", "curl(1): 5", "2024-03-01 08:00:03", ""));
  }
  frame->RefreshFlowList();
  frame->Action(kIdCopySiteName)->trigger();
  EXPECT_EQ(Clipboard(), QStringLiteral("a.example"));
}

TEST_F(MainFrameTest, ProtocolRowsAndEmptySpaceDisableWhatTheyCannotDo) {
  FillRows();
  auto frame = Started();
  // A protocol row: no "(" to cut at, no path.
  QTest::mouseClick(frame->flowView().viewport(), Qt::LeftButton, {}, RowPoint(*frame, 2));
  QApplication::clipboard()->setText(QStringLiteral("before"));
  frame->Action(kIdCopyProcessName)->trigger();
  EXPECT_EQ(Clipboard(), QStringLiteral("before"));
  EXPECT_FALSE(frame->Action(kIdCopyFullPath)->isEnabled());
  EXPECT_FALSE(frame->Action(kIdOpenContainingFolder)->isEnabled());

  // Empty space below the rows: no current row, the commands are disabled
  // and, if run anyway, ask for a row.
  QTest::mouseClick(frame->flowView().viewport(), Qt::LeftButton, {},
                    QPoint(10, frame->flowView().viewport()->height() - 5));
  EXPECT_EQ(frame->CurrentRow(), -1);
  EXPECT_FALSE(frame->Action(kIdCopySiteName)->isEnabled());
  frame->Action(kIdCopySiteName)->setEnabled(true);
  frame->Action(kIdCopySiteName)->trigger();
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].text, "Please, select an item!");
  EXPECT_EQ(boxes.requests[0].icon, MessageIcon::kStop);
  EXPECT_EQ(Clipboard(), QStringLiteral("before"));
}

TEST_F(MainFrameTest, DoubleClickOpensTheSpyForTheRowOrForAllTraffic) {
  auto frame = MakeFrame();
  frame->show();
  frame->OnStartup();
  QTest::mouseDClick(frame->flowView().viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  ASSERT_EQ(spied.size(), 1u);
  EXPECT_EQ(spied[0], (SpyTargets{"All IP addresses", "All hosts", "All local applications", "All local applications"}));
  QTest::mouseClick(frame->flowView().viewport(), Qt::RightButton, {}, QPoint(20, 20));
  EXPECT_FALSE(frame->ContextMenu()->isVisible());  // an empty list has no menu

  FillRows();
  frame->RefreshFlowList();
  QTest::mouseDClick(frame->flowView().viewport(), Qt::LeftButton, {}, RowPoint(*frame, 1));
  ASSERT_EQ(spied.size(), 2u);
  EXPECT_EQ(spied[1], (SpyTargets{"10.0.0.6: 80", "10.0.0.6", "curl(4242): 51000", "/usr/bin/curl"}));
  QTest::mouseClick(frame->flowView().viewport(), Qt::RightButton, {}, RowPoint(*frame, 0));
  EXPECT_TRUE(frame->ContextMenu()->isVisible());
  EXPECT_EQ(frame->CurrentRow(), 0);
  frame->ContextMenu()->hide();
  frame->Action(kIdTrafficSpy)->trigger();
  ASSERT_EQ(spied.size(), 3u);
  EXPECT_EQ(spied[2].remoteIp, "10.0.0.7: 22");
}

TEST_F(MainFrameTest, ColumnWidthsPlacementAndTheBarSurviveARestart) {
  {
    QSettingsProfileStore profile;
    auto frame = MakeFrame(profile);
    frame->show();
    frame->OnStartup();
    frame->resize(900, 600);
    frame->Action(kIdViewTrafficBar)->trigger();  // hide the Traffic Bar
    frame->flowView().setColumnWidth(kColumnDownload, 150);
    frame->flowView().setColumnWidth(kColumnFullPath, 333);
    frame->OnAppExit();
  }
  {
    QSettingsProfileStore profile;
    EXPECT_EQ(profile.GetInt("Settings", "nHeaderItem2", -1), 150);
    auto frame = MakeFrame(profile);
    frame->show();
    frame->OnStartup();
    EXPECT_EQ(frame->flowView().columnWidth(kColumnDownload), 150);
    EXPECT_EQ(frame->flowView().columnWidth(kColumnFullPath), 333);
    EXPECT_EQ(frame->flowView().columnWidth(kColumnRemote), 110);
    EXPECT_TRUE(frame->trafficBar().isHidden());
    EXPECT_EQ(frame->size(), QSize(900, 600));
  }
  {
    QSettings(QStringLiteral("Dorvane"), QStringLiteral("Pelkwind")).remove(QStringLiteral("Settings"));
    QSettingsProfileStore profile;
    profile.SetInt("Settings", "nHeaderItem3", 0);  // unusable: the column would vanish
    auto frame = MakeFrame(profile);
    frame->OnStartup();
    EXPECT_EQ(frame->flowView().columnWidth(kColumnDownload), frame->flowView().DefaultColumnWidth(kColumnDownload));
    EXPECT_EQ(frame->flowView().columnWidth(kColumnUpload), frame->flowView().DefaultColumnWidth(kColumnUpload));
  }
}

TEST_F(MainFrameTest, HelpOpensThePageBesideTheProgramAndAboutIsModal) {
  const std::filesystem::path page = GetProgramDirectory() / "qv.html";
  const bool made = !std::filesystem::exists(page);
  if (made) std::ofstream(page) << "<html></html>";
  auto frame = MakeFrame();
  frame->Action(kIdHelp)->trigger();
  if (made) std::filesystem::remove(page);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(page.string())));

  QString title;
  QString texts;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    for (const QLabel* label : dialog->findChildren<QLabel*>()) texts += label->text() + QLatin1Char('|');
    dialog->close();
  });
  frame->Action(kIdAppAbout)->trigger();
  EXPECT_EQ(title, QStringLiteral("About"));
  EXPECT_TRUE(texts.contains(QStringLiteral("|Quorvel Version 2.2|")));
}

// The window must never become unreachable: it hides only while its tray
// icon shows, and the icon follows a tray that comes or goes.
TEST_F(MainFrameTest, CloseBoxHidesToAVisibleTrayIconOrMinimises) {
  trayAvailable = false;
  auto frame = MakeFrame();
  frame->show();
  frame->OnStartup();
  EXPECT_FALSE(frame->trayIcon()->isVisible());
  frame->close();
  EXPECT_TRUE(frame->isVisible());
  EXPECT_TRUE(frame->windowState() & Qt::WindowMinimized);

  trayAvailable = true;  // a panel with a tray starts later
  frame->OnTrafficTimer();
  EXPECT_TRUE(frame->trayIcon()->isVisible());
  frame->Action(kIdShowMainWindow)->trigger();
  frame->close();
  EXPECT_FALSE(frame->isVisible());
  EXPECT_TRUE(frame->IsTrafficTimerActive());  // monitoring goes on

  trayAvailable = false;  // the tray goes away while the window is hidden
  frame->OnTrafficTimer();
  EXPECT_FALSE(frame->trayIcon()->isVisible());
  EXPECT_TRUE(frame->isVisible());
  frame->Action(kIdShowMainWindow)->trigger();
  EXPECT_FALSE(frame->isMinimized());
}

TEST_F(MainFrameTest, ExitRunsItsStepsInOrder) {
  QSettingsProfileStore profile;
  auto frame = MakeFrame(profile);
  frame->show();
  frame->OnStartup();
  QSignalSpy finished(frame.get(), &CMainFrame::exitFinished);
  bool checked = false;
  boxes.yesNoAnswer = MessageAnswer::kYes;
  boxes.onShow = [&](const MessageBoxRequest& request) {
    if (request.title != "Write us") return;
    checked = true;
    EXPECT_FALSE(frame->monitor().Status().running);
    EXPECT_FALSE(frame->IsTrafficTimerActive());
    EXPECT_EQ(frame->trayIcon(), nullptr);
    EXPECT_EQ(frame->history(), nullptr);
    EXPECT_EQ(profile.GetInt("Settings", "nHeaderItem0", -1), -1);  // widths come after the prompt
    EXPECT_TRUE(frame->isVisible());
  };
  frame->Action(kIdAppExit)->trigger();
  ASSERT_TRUE(checked);
  const MessageBoxRequest& feedback = boxes.requests.back();
  EXPECT_EQ(feedback.text,
            "We would like to hear what you think about Quorvel, so please send us your comments, suggestions or "
            "problems you had using the program. Click 'Yes' to visit our Web site.");
  EXPECT_EQ(feedback.icon, MessageIcon::kExclamation);
  EXPECT_EQ(feedback.buttons, MessageButtons::kYesNo);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].scheme(), QStringLiteral("https"));
  EXPECT_EQ(profile.GetInt("Settings", "nHeaderItem8", -1), 115);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(finished.count(), 1);
}

TEST_F(MainFrameTest, TimerTurnsCapturedBytesIntoSummaryHistoryAndPies) {
  fake.names.SetForward("testhost", {kLocal});
  fake.packets.RefusePromiscuous(true);
  fake.owners.SetKernelEventsProblem("BPF refused: Operation not permitted");
  std::uint64_t bytes = 0;
  for (int i = 0; i < 3; ++i) {
    const auto packet = testing::BuildIpv4Packet(testing::PacketSpec{
        kRemote, kLocal, 17, 5353, static_cast<std::uint16_t>(6000 + i), 5, std::string(400, 'x')});
    bytes += packet.size();
    fake.packets.SourceFor(kLocal).Push(packet);
  }
  auto frame = MakeFrame();
  frame->OnStartup();
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quorvel"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return frame->monitor().Status().packetsSeen == 3; }));
  ASSERT_TRUE(ProcessEventsUntil([&] { return frame->windowTitle() == QStringLiteral("Quorvel - testhost(198.18.0.1)"); }));
  ASSERT_TRUE(ProcessEventsUntil([&] { return !boxes.requests.empty(); }));
  EXPECT_EQ(boxes.requests[0].text, "Can't set promiscuous mode");
  EXPECT_EQ(boxes.requests[0].title, "Quorvel");
  EXPECT_EQ(boxes.requests[0].icon, MessageIcon::kStop);

  EXPECT_EQ(frame->SummaryText(), "DL: 0 B  UL: 0 B");
  frame->OnTrafficTimer();
  EXPECT_EQ(frame->SummaryText(), "DL: " + FormatBytes(bytes) + "  UL: 0 B");
  EXPECT_EQ(frame->history()->DownloadCaption(), "max DL " + FormatBytes(bytes) + "/s");
  EXPECT_EQ(frame->history()->UploadCaption(), "max UL 0 B/s");
  {
    std::lock_guard lock(state.statMutex);
    EXPECT_EQ(state.stats.tickDownload, 0u);
    EXPECT_EQ(state.stats.cumulativeDownload, bytes);
  }
  {
    std::lock_guard lock(state.graphMutex);
    const CChart* pie = frame->trafficBar().downloadView().Chart();
    ASSERT_NE(pie, nullptr);
    EXPECT_EQ(pie->LegendTextAt(0), "198.18.0.2 (" + FormatBytes(bytes) + ")");
    EXPECT_EQ(frame->trafficBar().uploadView().Chart()->LegendTextAt(0), "No data");
  }
  frame->OnTrafficTimer();  // a quiet second: the total stays, the tick was consumed
  EXPECT_EQ(frame->SummaryText(), "DL: " + FormatBytes(bytes) + "  UL: 0 B");
  EXPECT_TRUE(frame->CaptureStatusText().contains(QStringLiteral("3 packets")));
  EXPECT_TRUE(frame->CaptureStatusText().contains(QStringLiteral("0 dropped by the kernel")));
  EXPECT_TRUE(frame->CaptureStatusText().endsWith(
      QStringLiteral("owners from connection table (BPF refused: Operation not permitted)")));
}

// Qt appends a set display name to every title ("... — Quorvel").
TEST_F(MainFrameTest, TheProgramSetsNoDisplayNameForTitles) {
  NameApplication();
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quorvel"));
  QCoreApplication::setApplicationName(QStringLiteral("probe"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));  // none was set
  NameApplication();
}

// The listed widths suit an 8-point Windows font; byte and time texts must
// fit whatever the font, unless the user stored a width.
TEST_F(MainFrameTest, ByteAndTimeColumnsFitTheirTextsInTheCurrentFont) {
  const QFont before = QApplication::font();
  QFont large = before;
  large.setPixelSize(20);
  QApplication::setFont(large);
  memoryProfile.SetInt("Settings", "nHeaderItem3", 70);
  auto frame = MakeFrame();
  frame->OnStartup();
  const QFontMetrics metrics(frame->flowView().font());
  const int margin = 2 * (frame->flowView().style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
  for (const auto& [column, text] : {std::pair{kColumnDownload, "1023.99 KB"}, std::pair{kColumnTotal, "1023.99 KB"},
                                     std::pair{kColumnLastActivity, "2024-03-01 08:00:09"}}) {
    const int width = frame->flowView().columnWidth(column) - margin;
    EXPECT_EQ(metrics.elidedText(QString::fromLatin1(text), Qt::ElideRight, width), QString::fromLatin1(text))
        << column;
  }
  EXPECT_EQ(frame->flowView().columnWidth(kColumnUpload), 70);
  QApplication::setFont(before);
}

TEST_F(MainFrameTest, ACaptureWhoseHelperDiedIsShownInTheStatusBarAndRestartsWithTotalsKept) {
  fake.names.SetForward("testhost", {kLocal});
  const auto packet = testing::BuildIpv4Packet(testing::PacketSpec{kRemote, kLocal, 17, 5353, 6000, 5, "dns"});
  fake.packets.SourceFor(kLocal).Push(packet);
  auto frame = MakeFrame();
  frame->OnStartup();
  ASSERT_TRUE(ProcessEventsUntil([&] { return frame->monitor().Status().packetsSeen == 1; }));
  frame->OnTrafficTimer();
  EXPECT_TRUE(frame->RestartCaptureButton()->isHidden());

  fake.packets.SourceFor(kLocal).Fail("quorvel-capture ended unexpectedly (killed by signal 9)");
  ASSERT_TRUE(ProcessEventsUntil([&] { return !frame->RestartCaptureButton()->isHidden(); }));
  EXPECT_EQ(frame->CaptureStatusText().toStdString(),
            "Capture stopped on fake-198.18.0.1 (198.18.0.1): quorvel-capture ended unexpectedly (killed by "
            "signal 9); 1 packets, 0 dropped by the kernel, 0 by Quorvel");
  EXPECT_TRUE(boxes.requests.empty());  // the status bar says it; no box stops the user
  frame->OnTrafficTimer();
  EXPECT_EQ(frame->SummaryText(), "DL: " + FormatBytes(packet.size()) + "  UL: 0 B");

  fake.packets.SourceFor(kLocal).Push(packet);
  fake.interfaces.Set({{"fake-198.18.0.1", "", "198.18.0.1", "255.255.255.0", true, false, {}}});
  frame->RestartCaptureButton()->click();
  EXPECT_TRUE(frame->RestartCaptureButton()->isHidden());
  ASSERT_TRUE(ProcessEventsUntil([&] {
    const CaptureStatus status = frame->monitor().Status();
    return fake.packets.Opened().size() == 2 && status.running && status.packetsSeen == 1;
  }));
  frame->OnTrafficTimer();
  EXPECT_EQ(frame->SummaryText(), "DL: " + FormatBytes(2 * packet.size()) + "  UL: 0 B");

  // Its interface gone: capture resumes by itself once it is back, so no restart is offered.
  fake.interfaces.Set({});
  fake.packets.SourceFor(kLocal).Fail("The interface disappeared");
  ASSERT_TRUE(ProcessEventsUntil([&] { return frame->CaptureStatusText().startsWith(QStringLiteral("Interface")); }));
  EXPECT_EQ(frame->CaptureStatusText().toStdString(),
            "Interface fake-198.18.0.1 (198.18.0.1) is down: capture resumes when it is back; 1 packets, 0 dropped "
            "by the kernel, 0 by Quorvel");
  EXPECT_TRUE(frame->RestartCaptureButton()->isHidden());
}

TEST_F(MainFrameTest, MenusToolbarAndTrayHoldTheirCommands) {
  auto frame = MakeFrame();
  EXPECT_EQ(Texts(frame->menuBar()->actions()), (QStringList{"&File", "&View", "&Edit", "&Traffic", "&Help"}));
  EXPECT_EQ(Texts(frame->menuBar()->actions()[0]->menu()->actions()),
            (QStringList{"Export list as CSV...", "", "E&xit"}));
  EXPECT_EQ(Texts(frame->menuBar()->actions()[3]->menu()->actions()),
            (QStringList{"Traffic &Spy...", "", "Show &Log...", "&Save and  Clear", "&Clear all Logs", "",
                         "&Options..."}));
  EXPECT_EQ(Texts(frame->ContextMenu()->actions()),
            (QStringList{"Traffic &Spy...", "", "Copy &process name", "Copy &site name", "Copy &IP address",
                         "Copy process name and port &number", "Copy &full path", "", "&Open containing folder"}));

  std::vector<int> toolbar;
  for (QAction* item : frame->toolBar().actions()) {
    toolbar.push_back(item->isSeparator() ? 0 : item->property("commandId").toInt());
  }
  EXPECT_EQ(toolbar, (std::vector<int>{kIdSaveAndClear, kIdShowLog, kIdTrafficSpy, kIdOptions, 0, kIdHelp, 0,
                                       kIdTrafficSummary, kIdTrafficHistory}));
  EXPECT_EQ(frame->toolBar().iconSize(), QSize(48, 48));
  EXPECT_EQ(frame->Action(kIdSaveAndClear)->statusTip(), QStringLiteral("Save traffic log and Clear view"));
  EXPECT_EQ(frame->Action(kIdSaveAndClear)->toolTip(), QStringLiteral("Save and Clear"));

  EXPECT_EQ(Texts(frame->TrayMenu()->actions()),
            (QStringList{"Open Quorvel     ", "Show log", "Options...", "Help", "", "Exit"}));
  EXPECT_EQ(frame->TrayMenu()->defaultAction(), frame->TrayMenu()->actions()[0]);
  EXPECT_TRUE(frame->TrayMenu()->actions()[0]->font().bold());
  EXPECT_EQ(frame->trayIcon()->toolTip(), QStringLiteral("Quorvel"));
  EXPECT_EQ(frame->trafficBar().windowTitle(), QStringLiteral("Traffic Bar"));

  frame->show();
  QAction* bar = frame->Action(kIdViewTrafficBar);
  bar->trigger();
  EXPECT_FALSE(bar->isChecked());
  EXPECT_TRUE(frame->trafficBar().isHidden());
  frame->Action(kIdViewStatusBar)->trigger();
  EXPECT_TRUE(frame->statusBar()->isHidden());
  int calls = 0;
  frame->hooks().showLog = [&](CMainFrame&) { calls += 1; };
  frame->hooks().saveAndClear = [&](CMainFrame&) { calls += 10; };
  frame->hooks().clearAllLogs = [&](CMainFrame&) { calls += 100; };
  frame->hooks().options = [&](CMainFrame&) { calls += 1000; };
  for (int id : {kIdShowLog, kIdSaveAndClear, kIdClearAllLogs, kIdOptions, kIdOptionsAlternate}) {
    frame->Action(id)->trigger();
  }
  frame->TrayMenu()->actions()[2]->trigger();  // "Options..."
  EXPECT_EQ(calls, 3111);
}

// The rows as the list shows them once the file is chosen, in its order
// (the file's format and a failed write have tests of their own).
TEST_F(MainFrameTest, ExportListAsCsvWritesTheShownRowsInTheirOrder) {
  FillRows();
  auto frame = Started();
  ClickHeader(*frame, kColumnDownload);
  const std::string path = dataDirectory_.path().toStdString() + "/list.csv";
  frame->hooks().chooseSaveFile = [&path](QWidget*, const QString& filter, const QString& suffix) {
    EXPECT_EQ(filter, "CSV files (*.csv)");
    EXPECT_EQ(suffix, "csv");
    return std::optional<QString>(QString::fromStdString(path));
  };
  frame->Action(kIdExportListCsv)->trigger();
  EXPECT_TRUE(boxes.requests.empty());
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> firstFields;
  for (std::string line; std::getline(in, line);) firstFields.push_back(line.substr(0, line.find(',')));
  EXPECT_EQ(firstFields, (std::vector<std::string>{"Remote IP: port", "10.0.0.6: 80", "10.0.0.5: 443", "10.0.0.7: 22"}));
}

TEST_F(MainFrameTest, OptionsResultRestartsCaptureAppliesSettingsAndReloadsFilters) {
  fake.names.SetForward("testhost", {kLocal});
  const Ipv4Address other = MakeIpv4(198, 18, 0, 9);
  fake.packets.SourceFor(kLocal);
  fake.packets.SourceFor(other);
  auto frame = MakeFrame();
  frame->OnStartup();
  ASSERT_TRUE(ProcessEventsUntil([&] { return frame->monitor().Status().running; }));
  ASSERT_TRUE(WriteFiltersFile(FiltersFilePath(DataDirectory(dataDirectory_.path().toStdString())),
                               {FilterRule{"example", "<ANY>"}}, FilterMode::kWhiteList)
                  .ok);
  Settings settings;
  settings.bFreezeGraph = 1;
  settings.nInterfaceMask = MakeIpv4(255, 255, 0, 0);
  frame->ApplyOptions(settings, other);
  frame->JoinListThreads();
  ASSERT_TRUE(ProcessEventsUntil([&] { return fake.packets.Opened().size() == 2; }));
  EXPECT_EQ(fake.packets.Opened(), (std::vector<Ipv4Address>{kLocal, other}));
  EXPECT_EQ(state.settings.interfaceAddress.load(), other);
  EXPECT_TRUE(state.settings.freezeGraph.load());
  EXPECT_EQ(state.settings.networkMask.load(), MakeIpv4(255, 255, 0, 0));
  {
    std::lock_guard lock(state.listMutex);
    EXPECT_EQ(state.filters.rules, (std::vector<FilterRule>{FilterRule{"example", "<ANY>"}}));
    EXPECT_EQ(state.filters.mode, FilterMode::kWhiteList);
  }
  frame->ApplyOptions(settings, other);  // the same interface: no restart
  frame->JoinListThreads();
  EXPECT_EQ(fake.packets.Opened().size(), 2u);
}

}  // namespace
}  // namespace quorvel
