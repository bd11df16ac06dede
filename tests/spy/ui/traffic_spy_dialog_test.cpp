#include "spy/ui/traffic_spy_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <cstdlib>
#include <string>

#include "chrome/ui/resources.h"
#include "chrome/ui/window_placement.h"
#include "mainwindow/ui/gui_test_support.h"
#include "persistence/profile_store.h"
#include "persistence/scratch_directory.h"
#include "spy/spy_test_support.h"

QUORVEL_GUI_TEST_LEAK_SUPPRESSIONS()

namespace quorvel {
namespace {

using namespace std::string_literals;
using testing::FakeMessageBoxes;
using testing::FeedPacket;

const SpyTarget kRowTarget{"10.0.0.5: 443", "example.org", "browser(4242): 50000", "/usr/bin/browser"};

class TrafficSpyDialogTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  TrafficSpyDialogTest() { InitResources(); }

  std::unique_ptr<CTrafficSpyDlg> Open(const SpyTarget& target = testing::AllTrafficTarget()) {
    auto chooser = [this](QWidget*) { return chosenFile; };
    auto saveChooser = [this](QWidget*, const QString& filter, const QString& suffix) -> std::optional<QString> {
      EXPECT_EQ(filter, "pcapng files (*.pcapng)");
      EXPECT_EQ(suffix, "pcapng");
      return savedFile;
    };
    return std::make_unique<CTrafficSpyDlg>(TrafficSpyParts{registry, profile, messages, chooser, saveChooser},
                                            target);
  }

  template <typename T>
  static T* Child(const CTrafficSpyDlg& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  std::string Setting(std::string_view name) const { return profile.GetString(kSettingsSection, name, "(none)"); }

  // The rows the list shows after a drain.
  static QStringList Drained(CTrafficSpyDlg& dialog) {
    dialog.OnDrainTimer();
    QStringList rows;
    const QAbstractItemModel* model = dialog.packetList()->model();
    for (int row = 0; row < model->rowCount(); ++row) rows << model->index(row, 0).data().toString();
    return rows;
  }

  SpyFeedRegistry registry;
  MemoryProfileStore profile;
  FakeMessageBoxes messages;
  std::optional<QString> chosenFile;
  std::optional<QString> savedFile;
  testing::ScratchDirectory scratch;
};

TEST_F(TrafficSpyDialogTest, OpensWithTheTargetTextsAndStoredValues) {
  profile.SetInt(kSettingsSection, kCaptureToFileValue, 1);
  profile.SetInt(kSettingsSection, kApplyFilterValue, 1);
  profile.SetString(kSettingsSection, kCapturePacketsToFileValue, "/tmp/old.dmp");
  profile.SetString(kSettingsSection, kFilterTextValue, "host");
  auto dialog = Open(kRowTarget);
  EXPECT_EQ(dialog->windowTitle(), "Traffic Spy - one line represents one packet");
  EXPECT_TRUE(registry.Active()) << "registered while open";

  for (const auto& [name, text] : {std::pair{"remoteIp", "10.0.0.5: 443"}, std::pair{"remoteHost", "example.org"},
                                   std::pair{"localSource", "browser(4242): 50000"},
                                   std::pair{"fullPath", "/usr/bin/browser"}}) {
    EXPECT_EQ(Child<QLineEdit>(*dialog, name)->text(), text);
    EXPECT_TRUE(Child<QLineEdit>(*dialog, name)->isReadOnly());
  }
  EXPECT_FALSE(Child<QCheckBox>(*dialog, "captureBox")->isChecked()) << "capture is off at every opening";
  EXPECT_FALSE(Child<QLineEdit>(*dialog, "capturePath")->isEnabled());
  EXPECT_EQ(Child<QLineEdit>(*dialog, "capturePath")->text(), "/tmp/old.dmp");
  EXPECT_FALSE(Child<QPushButton>(*dialog, "browseButton")->isEnabled());
  EXPECT_TRUE(Child<QCheckBox>(*dialog, "filterBox")->isChecked());
  EXPECT_TRUE(Child<QLineEdit>(*dialog, "filterText")->isEnabled());
  EXPECT_EQ(Child<QLineEdit>(*dialog, "filterText")->text(), "host");
  QStringList menu;
  for (const QAction* action : dialog->contextMenu()->actions()) menu << action->text();
  menu.removeAll(QString());
  EXPECT_EQ(menu, (QStringList{"&Copy packet", "Copy &All packets", "C&lear"}));

  dialog->reject();
  EXPECT_FALSE(registry.Active()) << "unregistered on closing";
}

TEST_F(TrafficSpyDialogTest, FilterAndFreezeApplyAtOnce) {
  auto dialog = Open();
  auto* box = Child<QCheckBox>(*dialog, "filterBox");
  auto* edit = Child<QLineEdit>(*dialog, "filterText");
  EXPECT_FALSE(edit->isEnabled());
  box->setChecked(true);
  EXPECT_TRUE(edit->isEnabled());
  QTest::keyClicks(edit, "get");
  FeedPacket(registry, "GET / HTTP/1.1");
  FeedPacket(registry, "POST / HTTP/1.1");
  box->setChecked(false);
  EXPECT_FALSE(edit->isEnabled());
  FeedPacket(registry, "PUT /x");
  EXPECT_EQ(Drained(*dialog), (QStringList{"GET / HTTP/1.1", "PUT /x"}));

  auto* freeze = Child<QPushButton>(*dialog, "freezeButton");
  QTest::mouseClick(freeze, Qt::LeftButton);
  EXPECT_EQ(freeze->text(), "&Resume");
  EXPECT_EQ(freeze->toolTip(), "Resume Spy Traffic");
  for (int i = 0; i < 30; ++i) FeedPacket(registry, "frozen");
  EXPECT_EQ(Drained(*dialog).size(), 26);
  QTest::mouseClick(freeze, Qt::LeftButton);
  EXPECT_EQ(freeze->text(), "&Freeze");
  EXPECT_EQ(freeze->toolTip(), "Freeze Traffic");
  FeedPacket(registry, "resumed");
  EXPECT_EQ(Drained(*dialog), QStringList{"resumed"});
}

TEST_F(TrafficSpyDialogTest, ProfileValuesAreWrittenOnClose) {
  chosenFile = QString::fromStdString((scratch / "c.dmp").string());
  auto dialog = Open();
  Child<QCheckBox>(*dialog, "captureBox")->setChecked(true);
  EXPECT_TRUE(Child<QLineEdit>(*dialog, "capturePath")->isEnabled());
  QTest::mouseClick(Child<QPushButton>(*dialog, "browseButton"), Qt::LeftButton);
  EXPECT_EQ(Child<QLineEdit>(*dialog, "capturePath")->text(), *chosenFile);
  Child<QCheckBox>(*dialog, "filterBox")->setChecked(true);
  Child<QLineEdit>(*dialog, "filterText")->setText("Host: \xC3\xA9");
  FeedPacket(registry, "Host: \xE9t\xE9");
  EXPECT_EQ(Setting(kFilterTextValue), "(none)") << "written only at closing";
  QTest::mouseClick(Child<QPushButton>(*dialog, "closeButton"), Qt::LeftButton);
  EXPECT_EQ(profile.GetInt(kSettingsSection, kCaptureToFileValue, -1), 1);
  EXPECT_EQ(profile.GetInt(kSettingsSection, kApplyFilterValue, -1), 1);
  EXPECT_EQ(Setting(kCapturePacketsToFileValue), chosenFile->toStdString());
  EXPECT_EQ(Setting(kFilterTextValue), "Host: \xC3\xA9");
  EXPECT_EQ(testing::ReadBytes(scratch / "c.dmp"), "Host: \xE9t\xE9\r\n") << "captured before closing";
  EXPECT_TRUE(messages.requests.empty());
}

TEST_F(TrafficSpyDialogTest, CaptureFileFailuresAreReportedOnceAndCaptureStops) {
  chosenFile = QString::fromStdString((scratch / "no/such/dir/x.dmp").string());
  auto dialog = Open();
  auto* capture = Child<QCheckBox>(*dialog, "captureBox");
  capture->setChecked(true);
  dialog->OnBrowse();
  ASSERT_EQ(messages.requests.size(), 1u);
  EXPECT_EQ(messages.requests[0].text, "Can't open file!");
  EXPECT_EQ(messages.requests[0].title, "Quorvel");
  EXPECT_FALSE(dialog->session().CaptureFileOpen());
  chosenFile.reset();  // cancelled
  dialog->OnBrowse();
  EXPECT_EQ(messages.requests.size(), 1u);

  chosenFile = QStringLiteral("/dev/full");
  dialog->OnBrowse();
  for (int i = 0; i < 5; ++i) {
    FeedPacket(registry, "data");
    dialog->OnDrainTimer();
    dialog->session().WaitUntilCaptureWritten();  // the writer thread fails before the next drain
  }
  dialog->OnDrainTimer();
  ASSERT_EQ(messages.requests.size(), 2u);
  EXPECT_EQ(messages.requests[1].text, "Can't write to /dev/full");
  EXPECT_EQ(messages.requests[1].title, "Error");
  EXPECT_FALSE(capture->isChecked());
  EXPECT_FALSE(Child<QPushButton>(*dialog, "browseButton")->isEnabled());
  EXPECT_EQ(Drained(*dialog).size(), 5) << "the list goes on";
  dialog->reject();
  EXPECT_EQ(messages.requests.size(), 2u);
}

TEST_F(TrafficSpyDialogTest, SavesPcapngWholeOrReportsTheFailure) {
  testing::WriteBytes(scratch / "plain-file", "x");
  struct Case { std::filesystem::path path; bool written; };
  // The second one's folder is a file.
  for (const Case& test : {Case{scratch / "spy.pcapng", true}, Case{scratch / "plain-file" / "spy.pcapng", false}}) {
    SCOPED_TRACE(test.path.string());
    messages.requests.clear();
    savedFile = QString::fromStdString(test.path.string());
    auto dialog = Open();
    const std::string packet = "\x45\x00\x00\x1C" + std::string(24, 'p');
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(packet.data());
    registry.Feed(SpyPacket{"app(1): 5", 0x0500000A, 443, bytes + 20, 28, bytes + 28, bytes, 1'700'000'000'000'000});
    Child<QPushButton>(*dialog, "pcapngButton")->click();  // drains first: the packet is in the file
    if (test.written) {
      EXPECT_TRUE(messages.requests.empty());
      const std::string file = testing::ReadBytes(test.path);
      EXPECT_EQ(file.substr(0, 4), "\x0A\x0D\x0D\x0A");
      EXPECT_NE(file.find(packet), std::string::npos);
    } else {
      ASSERT_EQ(messages.requests.size(), 1u);
      EXPECT_EQ(messages.requests[0].text, "Can't write to " + test.path.string());
    }
  }
  EXPECT_EQ(testing::EntryNames(scratch.path()), (std::vector<std::string>{"plain-file", "spy.pcapng"}))
      << "no half-written or temporary file is left";
}

TEST_F(TrafficSpyDialogTest, ContextMenuCopiesTheLineItWasOpenedOn) {
  auto dialog = Open();
  dialog->resize(700, 500);
  dialog->show();
  QTreeView* list = dialog->packetList();
  EXPECT_FALSE(dialog->OnListContextMenu(QPoint(5, 5))) << "empty list: no menu";
  QApplication::clipboard()->setText("before");
  dialog->OnCopyAllPackets();
  EXPECT_EQ(QApplication::clipboard()->text(), "") << "Copy All on an empty list";

  FeedPacket(registry, "first\r\n\0"s);
  FeedPacket(registry, "second");
  EXPECT_EQ(Drained(*dialog), (QStringList{QString::fromUtf8("first\u21B5\u2193."), "second"}))
      << "control characters shown, one row per packet";
  const QRect second = list->visualRect(list->model()->index(1, 0));
  ASSERT_TRUE(dialog->OnListContextMenu(QPoint(5, second.bottom() + 80))) << "below the last line";
  EXPECT_EQ(dialog->RememberedLine(), 1);
  EXPECT_EQ(list->currentIndex().row(), 1);
  dialog->contextMenu()->hide();
  ASSERT_TRUE(dialog->OnListContextMenu(QPoint(5, list->visualRect(list->model()->index(0, 0)).center().y())));
  EXPECT_EQ(dialog->RememberedLine(), 0);
  dialog->contextMenu()->hide();
  dialog->OnCopyPacket();
  EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1("first\r\n."));
  dialog->OnCopyAllPackets();
  EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1("first\r\n.\nsecond\n"));

  dialog->OnClear();
  FeedPacket(registry, "new first");
  Drained(*dialog);
  QApplication::clipboard()->setText("kept");
  dialog->OnCopyPacket();
  EXPECT_EQ(QApplication::clipboard()->text(), "kept") << "the remembered line is gone";
  dialog->reject();
}

TEST_F(TrafficSpyDialogTest, DrainsOnItsTimerAndScrollsToTheExtent) {
  auto dialog = Open();
  dialog->resize(700, 500);
  dialog->show();
  QTreeView* list = dialog->packetList();
  FeedPacket(registry, std::string(300, 'x'));
  EXPECT_TRUE(testing::ProcessEventsUntil([&] { return list->model()->rowCount() == 1; }));
  QApplication::processEvents();
  EXPECT_EQ(list->header()->sectionSize(0), 9 * 300 + 8) << "the extent and a margin each side";
  EXPECT_EQ(list->horizontalScrollBar()->maximum(), 9 * 300 + 8 - list->viewport()->width());
  EXPECT_EQ(QFontMetrics(list->font()).horizontalAdvance(QString(10, 'M')), 90) << "9 pixels a character";
  dialog->OnClear();
  QApplication::processEvents();
  EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
  dialog->reject();
}

// Writes the window's picture to $QUORVEL_SCREENSHOT_DIR/dialog-spy.png when set.
TEST_F(TrafficSpyDialogTest, Screenshot) {
  const char* directory = std::getenv("QUORVEL_SCREENSHOT_DIR");
  if (directory == nullptr) GTEST_SKIP() << "QUORVEL_SCREENSHOT_DIR not set";
  ApplyDesktopStyle();
  profile.SetString(kSettingsSection, kCapturePacketsToFileValue, "/home/ada/captures/example.dmp");
  profile.SetString(kSettingsSection, kFilterTextValue, "http");
  profile.SetInt(kSettingsSection, kApplyFilterValue, 1);
  auto dialog = Open(SpyTarget{"93.184.216.34: 80", "example.org", "firefox(4242): 51544", "/usr/lib/firefox/firefox"});
  const char* const packets[] = {
      "GET /index.html HTTP/1.1\r\nHost: example.org\r\nUser-Agent: Mozilla/5.0\r\nAccept: text/html\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Length: 1256\r\n\r\n<!doctype html>",
      "GET /favicon.ico HTTP/1.1\r\nHost: example.org\r\nAccept: image/avif,image/webp,*/*\r\n\r\n",
      "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n",
      "GET /style.css HTTP/1.1\r\nHost: example.org\r\nReferer: http://example.org/\r\n\r\n",
      "HTTP/1.1 304 Not Modified\r\nETag: \"3147526947\"\r\n\r\n",
  };
  for (const char* packet : packets) {
    FeedPacket(registry, packet, "firefox(4242): 51544", MakeIpv4(93, 184, 216, 34), 80);
  }
  FeedPacket(registry, "HTTP/1.1 of another flow");
  dialog->show();
  EXPECT_EQ(Drained(*dialog).size(), 6);
  QApplication::processEvents();
  const QString path = QString::fromLocal8Bit(directory) + "/dialog-spy.png";
  EXPECT_TRUE(dialog->grab().save(path)) << path.toStdString();
  dialog->reject();
}

}  // namespace
}  // namespace quorvel
