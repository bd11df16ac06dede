// Renders each dialog to a PNG for the documentation. Runs only when
// QUORVEL_DIALOG_SCREENSHOTS names the directory to write into, e.g.
//   QUORVEL_DIALOG_SCREENSHOTS=docs persistence_ui_tests --gtest_filter='DialogScreenshots.*'
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTableWidget>
#include <cstdlib>
#include <filesystem>

#include "chrome/ui/window_placement.h"
#include "filters/ui/dialog_controls.h"
#include "filters/ui/filters_dlg.h"
#include "filters/ui/new_filter_dlg.h"
#include "mainwindow/ui/gui_test_support.h"
#include "persistence/scratch_directory.h"
#include "persistence/ui/logs_dlg.h"
#include "persistence/ui/options_dlg.h"
#include "support/fake_platform.h"

namespace quorvel {
namespace {

using testing::FakeMessageBoxes;
using testing::FakePlatform;
using testing::GuiApp;
using testing::ScratchDirectory;
using testing::WriteBytes;

void Save(QWidget& dialog, const std::filesystem::path& file) {
  dialog.show();
  QApplication::processEvents();
  // Focus selects an edit's text; the picture shows it plain.
  for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) edit->deselect();
  ASSERT_TRUE(dialog.grab().save(QString::fromStdString(file.string()))) << file;
  dialog.hide();
}

TEST(DialogScreenshots, RenderEachDialog) {
  const char* target = std::getenv("QUORVEL_DIALOG_SCREENSHOTS");
  if (target == nullptr || *target == '\0') GTEST_SKIP() << "QUORVEL_DIALOG_SCREENSHOTS is not set";
  const std::filesystem::path out(target);
  std::filesystem::create_directories(out);
  GuiApp();
  ApplyDesktopStyle();

  ScratchDirectory data;
  WriteBytes(data / "filters.dat",
             "1\r\n<ANY> svchost.exe\r\n10.1.1 iexplorer\r\nupdate.example.com <ANY>\r\n"
             "192.168 my?app.exe\r\n");
  WriteBytes(data / "set.dat", "0 1 1 proxy.example.com 3128 16777215\r\n");
  WriteBytes(data / "2005-10-12_14t30t05.log",
             "192.168.0.7:_80 intranet.example.com 512_B 2.00_KB 2.50_KB svchost.exe(1040):_135 "
             "2005-10-12_14:02:11 2005-10-12_14:29:40 /usr/sbin/svchost.exe\r\n"
             "93.184.216.34:_443 www.example.com 2.00_MB 41.20_KB 2.04_MB firefox(2212):_51544 "
             "2005-10-12_13:55:02 2005-10-12_14:30:01 /usr/lib/firefox/firefox\r\n"
             "10.1.1.3:_8080 10.1.1.3 1.50_KB 900_B 2.38_KB curl(3120):_40112 "
             "2005-10-12_14:10:45 2005-10-12_14:10:46 /usr/bin/curl\r\n"
             "224.0.0.251:_5353 mdns.mcast.net 12.40_KB 0_B 12.40_KB UDP_protocol:_5353 "
             "2005-10-12_13:50:00 2005-10-12_14:29:58 _\r\n");
  WriteBytes(data / "2005-10-13_09t12t44.log", "");
  FakeMessageBoxes messages;

  CFiltersDlg filters(DataDirectory(data.path()), messages);
  FindControl<QTableWidget>(filters, CFiltersDlg::kIdList)->selectRow(1);
  Save(filters, out / "dialog-filters.png");

  CNewFilterDlg newFilter(messages);
  FindControl<QLineEdit>(newFilter, CNewFilterDlg::kIdRemoteEdit)->setText(QStringLiteral("10.1.1"));
  FindControl<QLineEdit>(newFilter, CNewFilterDlg::kIdLocalEdit)->setText(QStringLiteral("iexplorer"));
  Save(newFilter, out / "dialog-new-filter.png");

  FakePlatform platform;
  platform.interfaces.interfaces = {{"wlp2s0", "wlp2s0", "192.168.0.10", "255.255.255.0", true, false},
                                    {"enp3s0", "enp3s0", "10.0.0.5", "255.0.0.0", true, false},
                                    {"lo", "lo", "127.0.0.1", "255.0.0.0", true, true}};
  COptionsDlg options(OptionsDialogParts{DataDirectory(data.path()), messages, platform.interfaces,
                                         platform.names, data / "autostart", MakeIpv4(192, 168, 0, 10)});
  Save(options, out / "dialog-options.png");

  CLogsDlg logs(data.path());
  auto* list = FindControl<QComboBox>(logs, CLogsDlg::kIdLogList);
  list->setCurrentIndex(1);
  emit list->activated(1);
  Save(logs, out / "dialog-logs.png");
}

}  // namespace
}  // namespace quorvel
