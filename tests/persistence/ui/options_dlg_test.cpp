#include "persistence/ui/options_dlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <optional>
#include <string>

#include "filters/ui/dialog_controls.h"
#include "filters/ui/dialog_test_support.h"
#include "filters/ui/filters_dlg.h"
#include "mainwindow/ui/gui_test_support.h"
#include "persistence/autostart.h"
#include "persistence/profile_store.h"
#include "persistence/scratch_directory.h"
#include "support/fake_platform.h"

QUORVEL_GUI_TEST_LEAK_SUPPRESSIONS()

namespace quorvel {
namespace {

using testing::AnswerNextDialog;
using testing::FakeMessageBoxes;
using testing::FakePlatform;
using testing::GoldenFile;
using testing::PixelsNear;
using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

const QColor kCaption(50, 0, 225);

InterfaceInfo Adapter(const std::string& description, const std::string& address, const std::string& mask) {
  return InterfaceInfo{description, description, address, mask, true, false};
}

class OptionsDlgTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  std::unique_ptr<COptionsDlg> Open() { return Open(DataDirectory(scratch.path())); }
  std::unique_ptr<COptionsDlg> Open(const DataDirectory& data) {
    return std::make_unique<COptionsDlg>(
        OptionsDialogParts{data, boxes, platform.interfaces, platform.names, scratch / "autostart", &profile});
  }
  std::filesystem::path SetDat() const { return scratch / "set.dat"; }

  template <typename T>
  static T& Control(const QWidget& dialog, int id) {
    T* control = FindControl<T>(dialog, id);
    EXPECT_NE(control, nullptr) << "control " << id;
    if (control == nullptr) std::abort();
    return *control;
  }
  static void Ok(COptionsDlg& dialog) { Control<QPushButton>(dialog, kIdOk).click(); }
  static QStringList Lines(const COptionsDlg& dialog) {
    auto& list = Control<QComboBox>(dialog, COptionsDlg::kIdInterfaceList);
    QStringList lines;
    for (int i = 0; i < list.count(); ++i) lines.push_back(list.itemText(i));
    return lines;
  }
  static void SetProxy(COptionsDlg& dialog, bool on, const QString& host, const QString& port) {
    auto& box = Control<QCheckBox>(dialog, COptionsDlg::kIdUseProxy);
    if (box.isChecked() != on) box.click();
    Control<QLineEdit>(dialog, COptionsDlg::kIdProxyHost).setText(host);
    Control<QLineEdit>(dialog, COptionsDlg::kIdProxyPort).setText(port);
  }

  ScratchDirectory scratch;
  FakePlatform platform;
  FakeMessageBoxes boxes;
  MemoryProfileStore profile;
};

TEST_F(OptionsDlgTest, ShowsTheControlsWithTheirTexts) {
  auto dialog = Open();
  EXPECT_EQ(dialog->windowTitle(), "Options");
  const struct {
    int id;
    const char* text;
  } checks[] = {{COptionsDlg::kIdLaunchOnStartup, "Launch on startup"},
                {COptionsDlg::kIdHideLanFlows, "Do not show local area network flows"},
                {COptionsDlg::kIdFreezeGraph, "Freeze the graph"},
                {COptionsDlg::kIdUseProxy, "I use proxy server"},
                {COptionsDlg::kIdNameHostsFromTraffic, "Name hosts from observed traffic"}};
  for (const auto& check : checks) EXPECT_EQ(Control<QCheckBox>(*dialog, check.id).text(), check.text);
  EXPECT_EQ(Control<QPushButton>(*dialog, COptionsDlg::kIdSetupFilters).text(), "Setup filters...");
  EXPECT_EQ(Control<QPushButton>(*dialog, kIdOk).text(), "OK");
  EXPECT_EQ(Control<QPushButton>(*dialog, kIdCancel).text(), "Cancel");
  EXPECT_TRUE(Control<QPushButton>(*dialog, kIdCancel).isDefault());
  EXPECT_FALSE(Control<QPushButton>(*dialog, kIdOk).isDefault());
  EXPECT_TRUE(Control<QComboBox>(*dialog, COptionsDlg::kIdInterfaceList).isEditable());

  dialog->show();
  SetProxy(*dialog, true, "", "");  // every caption enabled, so drawn in colour
  for (const auto& [id, caption] : {std::pair{COptionsDlg::kIdInterfaceGroup, "Networ interface to monitor:"},
                                    std::pair{COptionsDlg::kIdGeneralGroup, "General options:"},
                                    std::pair{COptionsDlg::kIdProxyGroup, "Proxy Server:"}}) {
    auto& group = Control<QGroupBox>(*dialog, id);
    EXPECT_EQ(group.title(), caption);
    EXPECT_GT(PixelsNear(group, kCaption), 5) << caption << " is not drawn in RGB(50, 0, 225)";
  }
  EXPECT_EQ(PixelsNear(Control<QCheckBox>(*dialog, COptionsDlg::kIdFreezeGraph), kCaption), 0);
}

TEST_F(OptionsDlgTest, EnterLeavesThroughCancel) {
  auto dialog = Open();
  dialog->show();
  QTest::keyClick(&Control<QCheckBox>(*dialog, COptionsDlg::kIdHideLanFlows), Qt::Key_Return);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(std::filesystem::exists(SetDat()));
}

TEST_F(OptionsDlgTest, NoSettingsFileShowsTheDefaultsAndOkWritesThem) {
  auto dialog = Open();
  for (const int id : {COptionsDlg::kIdLaunchOnStartup, COptionsDlg::kIdHideLanFlows, COptionsDlg::kIdFreezeGraph,
                       COptionsDlg::kIdUseProxy}) {
    EXPECT_FALSE(Control<QCheckBox>(*dialog, id).isChecked()) << id;
  }
  for (const int id : {COptionsDlg::kIdProxyHost, COptionsDlg::kIdProxyPort}) {
    EXPECT_TRUE(Control<QLineEdit>(*dialog, id).text().isEmpty()) << id;
    EXPECT_FALSE(Control<QLineEdit>(*dialog, id).isEnabled()) << id;
  }
  EXPECT_FALSE(Control<QGroupBox>(*dialog, COptionsDlg::kIdProxyGroup).isEnabled());
  EXPECT_FALSE(Control<QCheckBox>(*dialog, COptionsDlg::kIdLaunchOnStartup).isEnabled());

  Ok(*dialog);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(boxes.requests.empty());
  EXPECT_EQ(ReadBytes(SetDat()), ReadBytes(GoldenFile(__FILE__, "set_defaults.dat")));
  EXPECT_FALSE(dialog->Result().chosenInterface);
  EXPECT_EQ(dialog->Result().settings.strProxyHost, "?");
  EXPECT_EQ(dialog->Result().settings.strProxyPort, "?");
  EXPECT_EQ(dialog->Result().proxyAddressText, "");
}

TEST_F(OptionsDlgTest, NameHostsFromTrafficIsKeptInTheProfileNotInSetDat) {
  const auto box = [](COptionsDlg& dialog) -> QCheckBox& {
    return Control<QCheckBox>(dialog, COptionsDlg::kIdNameHostsFromTraffic);
  };
  auto dialog = Open();
  EXPECT_TRUE(box(*dialog).isChecked());  // on by default
  box(*dialog).click();
  Ok(*dialog);
  EXPECT_FALSE(dialog->Result().nameHostsFromTraffic);
  EXPECT_EQ(profile.GetInt(kSettingsSection, kNameHostsFromTrafficValue, 1), 0);
  EXPECT_EQ(ReadBytes(SetDat()), ReadBytes(GoldenFile(__FILE__, "set_defaults.dat")));

  auto again = Open();
  EXPECT_FALSE(box(*again).isChecked());
  box(*again).click();
  Control<QPushButton>(*again, kIdCancel).click();
  EXPECT_EQ(profile.GetInt(kSettingsSection, kNameHostsFromTrafficValue, 1), 0);
}

TEST_F(OptionsDlgTest, ChosenInterfaceMaskIsWritten) {
  platform.interfaces.interfaces = {Adapter("eth0", "192.168.0.10", "255.255.255.0")};
  auto dialog = Open();
  Ok(*dialog);
  EXPECT_EQ(ReadBytes(SetDat()), ReadBytes(GoldenFile(__FILE__, "set_mask.dat")));
  ASSERT_TRUE(dialog->Result().chosenInterface);
  EXPECT_EQ(dialog->Result().chosenInterface->address, MakeIpv4(192, 168, 0, 10));
  EXPECT_EQ(dialog->Result().chosenInterface->mask, MakeIpv4(255, 255, 255, 0));
  EXPECT_EQ(dialog->Result().settings.nInterfaceMask, 16777215u);
}

TEST_F(OptionsDlgTest, InterfacesAreSortedAndLineZeroIsPreselected) {
  platform.interfaces.interfaces = {Adapter("Zeta", "10.0.0.1", "255.0.0.0"),
                                    Adapter("alpha", "10.0.0.2", "255.255.0.0"),
                                    Adapter("Beta", "10.0.0.3", "255.255.255.0")};
  auto dialog = Open();
  EXPECT_EQ(Lines(*dialog), (QStringList{"alpha", "Beta", "Zeta"}));
  EXPECT_EQ(Control<QComboBox>(*dialog, COptionsDlg::kIdInterfaceList).currentIndex(), 0);
  Ok(*dialog);
  ASSERT_TRUE(dialog->Result().chosenInterface);
  EXPECT_EQ(dialog->Result().chosenInterface->address, MakeIpv4(10, 0, 0, 2));
}

TEST_F(OptionsDlgTest, SameDescriptionTakesTheAdapterReportedFirst) {
  platform.interfaces.interfaces = {Adapter("eth", "10.0.0.1", "255.0.0.0"),
                                    Adapter("eth", "10.0.0.2", "255.255.0.0")};
  for (const int line : {0, 1}) {
    auto dialog = Open();
    Control<QComboBox>(*dialog, COptionsDlg::kIdInterfaceList).setCurrentIndex(line);
    Ok(*dialog);
    ASSERT_TRUE(dialog->Result().chosenInterface) << line;
    EXPECT_EQ(dialog->Result().chosenInterface->address, MakeIpv4(10, 0, 0, 1)) << line;
    EXPECT_EQ(dialog->Result().chosenInterface->mask, MakeIpv4(255, 0, 0, 0)) << line;
  }
}

TEST_F(OptionsDlgTest, TypedInterfaceTextChoosesNothingAndKeepsTheLoadedMask) {
  platform.interfaces.interfaces = {Adapter("eth0", "10.0.0.1", "255.0.0.0")};
  WriteBytes(SetDat(), "1 1 0 ? ? 65535\r\n");
  auto dialog = Open();
  Control<QComboBox>(*dialog, COptionsDlg::kIdInterfaceList).setEditText("eth9");
  Ok(*dialog);
  EXPECT_FALSE(dialog->Result().chosenInterface);
  EXPECT_EQ(ReadBytes(SetDat()), "1 1 0 ? ? 65535\r\n");
}

TEST_F(OptionsDlgTest, ProxyChecksRunInOrderAndWriteOnlyWhenAllPass) {
  platform.names.SetForward("proxy.lan", {MakeIpv4(10, 0, 0, 9), MakeIpv4(10, 0, 0, 8)});
  platform.names.SetForward("\xe4\xbe\x8b.jp", {MakeIpv4(10, 0, 0, 7)});
  const struct {
    bool on;
    const char* host;
    const char* port;
    const char* message;  // null: accepted
    const char* written;  // null: no file
    const char* proxyText;
  } cases[] = {
      {true, "", "8080", "Input Proxy Server host!", nullptr, ""},
      {true, "", "", "Input Proxy Server host!", nullptr, ""},
      {true, "nowhere.invalid", "8080", "Can't resolve proxy IP address!", nullptr, ""},
      {true, "nowhere.invalid", "", "Can't resolve proxy IP address!", nullptr, ""},
      {true, "10.0.0.1", "", "Input Proxy Server port!", nullptr, ""},
      {true, "proxy.lan", "", "Input Proxy Server port!", nullptr, ""},
      {true, "10.0.0.1", "8080", nullptr, "0 0 1 10.0.0.1 8080 4294967295\r\n", "10.0.0.1"},
      {true, "proxy.lan", "3128", nullptr, "0 0 1 proxy.lan 3128 4294967295\r\n", "10.0.0.9"},
      {true, "proxy.lan", "80x", nullptr, "0 0 1 proxy.lan 80x 4294967295\r\n", "10.0.0.9"},
      {false, "10.0.0.1", "", nullptr, "0 0 0 ? ? 4294967295\r\n", ""},
      {false, "", "3128", nullptr, "0 0 0 ? 3128 4294967295\r\n", ""},
      // Resolvable, but set.dat stores one byte per character.
      {true, "\xe4\xbe\x8b.jp", "3128", "U+4F8B", nullptr, ""},
      {true, "proxy.lan", "31 28", "blank", nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " / " + c.port);
    std::filesystem::remove(SetDat());
    boxes.requests.clear();
    auto dialog = Open();
    dialog->show();
    SetProxy(*dialog, c.on, QString::fromUtf8(c.host), QString::fromUtf8(c.port));
    Ok(*dialog);
    if (c.message != nullptr) {
      ASSERT_EQ(boxes.requests.size(), 1u);
      EXPECT_NE(boxes.requests[0].text.find(c.message), std::string::npos) << boxes.requests[0].text;
      EXPECT_EQ(boxes.requests[0].title, "Error");
      EXPECT_EQ(boxes.requests[0].icon, MessageIcon::kStop);
      EXPECT_TRUE(dialog->isVisible());
      EXPECT_NE(dialog->result(), QDialog::Accepted);
      // Everything as the user left it.
      EXPECT_EQ(Control<QLineEdit>(*dialog, COptionsDlg::kIdProxyHost).text(), QString::fromUtf8(c.host));
      EXPECT_EQ(Control<QLineEdit>(*dialog, COptionsDlg::kIdProxyPort).text(), QString::fromUtf8(c.port));
    } else {
      EXPECT_TRUE(boxes.requests.empty());
      EXPECT_EQ(dialog->result(), QDialog::Accepted);
      EXPECT_EQ(dialog->Result().proxyAddressText, c.proxyText);
    }
    if (c.written != nullptr) {
      EXPECT_EQ(ReadBytes(SetDat()), c.written);
    } else {
      EXPECT_FALSE(std::filesystem::exists(SetDat()));
    }
  }
}

TEST_F(OptionsDlgTest, LoadedSettingsAreShownAndWrittenBack) {
  platform.interfaces.interfaces = {Adapter("eth0", "10.0.0.5", "255.255.255.0")};
  WriteBytes(SetDat(), "1 0 1 10.0.0.1 8080 255\r\n");
  auto dialog = Open();
  EXPECT_TRUE(Control<QCheckBox>(*dialog, COptionsDlg::kIdHideLanFlows).isChecked());
  EXPECT_FALSE(Control<QCheckBox>(*dialog, COptionsDlg::kIdFreezeGraph).isChecked());
  EXPECT_TRUE(Control<QCheckBox>(*dialog, COptionsDlg::kIdUseProxy).isChecked());
  EXPECT_TRUE(Control<QLineEdit>(*dialog, COptionsDlg::kIdProxyHost).isEnabled());
  EXPECT_EQ(Control<QLineEdit>(*dialog, COptionsDlg::kIdProxyHost).text(), "10.0.0.1");
  EXPECT_EQ(Control<QLineEdit>(*dialog, COptionsDlg::kIdProxyPort).text(), "8080");
  Ok(*dialog);
  EXPECT_EQ(ReadBytes(SetDat()), ReadBytes(GoldenFile(__FILE__, "set_proxy.dat")));
  EXPECT_EQ(dialog->Result().settings.bHideLanFlows, 1);
  EXPECT_EQ(dialog->Result().proxyAddressText, "10.0.0.1");
}

TEST_F(OptionsDlgTest, ProxyOffLosesHostWithoutPortAndReopensEmpty) {
  {
    auto dialog = Open();
    SetProxy(*dialog, false, "10.0.0.1", "");
    Ok(*dialog);
  }
  EXPECT_EQ(ReadBytes(SetDat()), "0 0 0 ? ? 4294967295\r\n");
  auto reopened = Open();
  EXPECT_TRUE(Control<QLineEdit>(*reopened, COptionsDlg::kIdProxyHost).text().isEmpty());
  EXPECT_TRUE(Control<QLineEdit>(*reopened, COptionsDlg::kIdProxyPort).text().isEmpty());
}

TEST_F(OptionsDlgTest, ProxyBoxSwitchesTheProxyControls) {
  auto dialog = Open();
  auto& box = Control<QCheckBox>(*dialog, COptionsDlg::kIdUseProxy);
  for (const bool on : {true, false, true}) {
    box.click();
    EXPECT_EQ(box.isChecked(), on);
    EXPECT_EQ(Control<QLineEdit>(*dialog, COptionsDlg::kIdProxyHost).isEnabled(), on);
    EXPECT_EQ(Control<QLineEdit>(*dialog, COptionsDlg::kIdProxyPort).isEnabled(), on);
    EXPECT_EQ(Control<QGroupBox>(*dialog, COptionsDlg::kIdProxyGroup).isEnabled(), on);
  }
}

TEST_F(OptionsDlgTest, CancelAfterTogglingWritesNothing) {
  WriteBytes(SetDat(), "0 0 0 ? ? 4294967295\r\n");
  auto dialog = Open();
  SetProxy(*dialog, true, "10.0.0.1", "8080");
  Control<QCheckBox>(*dialog, COptionsDlg::kIdFreezeGraph).click();
  Control<QPushButton>(*dialog, kIdCancel).click();
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(ReadBytes(SetDat()), "0 0 0 ? ? 4294967295\r\n");
  EXPECT_TRUE(boxes.requests.empty());
}

TEST_F(OptionsDlgTest, LaunchOnStartupShowsTheAutostartEntryReadOnly) {
  for (const bool present : {false, true}) {
    if (present) {
      std::filesystem::create_directories(scratch / "autostart");
      WriteBytes(scratch / "autostart" / kAutostartEntryName, "");
    }
    auto dialog = Open();
    auto& box = Control<QCheckBox>(*dialog, COptionsDlg::kIdLaunchOnStartup);
    EXPECT_EQ(box.isChecked(), present);
    EXPECT_FALSE(box.isEnabled());
  }
}

TEST_F(OptionsDlgTest, UnwritableSettingsFileIsReportedAndTheValuesStillGo) {
  WriteBytes(scratch / "file", "not a directory");
  const DataDirectory data(scratch / "file" / "data");
  auto dialog = Open(data);
  Control<QCheckBox>(*dialog, COptionsDlg::kIdFreezeGraph).click();
  Ok(*dialog);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].text, "Can't write to " + (scratch / "file" / "data" / "set.dat").string());
  EXPECT_EQ(boxes.requests[0].title, "Error");
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->Result().settings.bFreezeGraph, 1);
}

TEST_F(OptionsDlgTest, SetupFiltersRunsTheFiltersDialogOnTheSameDirectory) {
  WriteBytes(scratch / "filters.dat", "2\r\n10.1.1 iexplorer\r\n");
  auto dialog = Open();
  std::vector<FilterRule> shown;
  AnswerNextDialog<CFiltersDlg>([&shown](CFiltersDlg& filters) {
    shown = filters.Rules();
    filters.reject();
  });
  Control<QPushButton>(*dialog, COptionsDlg::kIdSetupFilters).click();
  EXPECT_EQ(shown, (std::vector<FilterRule>{{"10.1.1", "iexplorer"}}));
  EXPECT_FALSE(std::filesystem::exists(SetDat()));
}

}  // namespace
}  // namespace quorvel
