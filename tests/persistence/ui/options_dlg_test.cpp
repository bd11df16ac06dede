#include "persistence/ui/options_dlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
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

using testing::Control;
using testing::ReadBytes;
using testing::WriteBytes;

const char* const kDefaultsLine = "0 0 0 ? ? 4294967295\r\n";

InterfaceInfo Adapter(const std::string& description, const std::string& address, const std::string& mask) {
  return InterfaceInfo{description, description, address, mask, true, false, {}};
}

class OptionsDlgTest : public ::testing::Test, protected testing::UsesGuiApp {
 protected:
  std::unique_ptr<COptionsDlg> Open(Ipv4Address monitored = 0, std::optional<DataDirectory> data = {}) {
    return std::make_unique<COptionsDlg>(OptionsDialogParts{data.value_or(DataDirectory(scratch.path())), boxes,
                                                            platform.interfaces, platform.names,
                                                            scratch / "autostart", monitored, &profile});
  }
  std::filesystem::path SetDat() const { return scratch / "set.dat"; }

  static QComboBox& List(const COptionsDlg& dialog) { return Control<QComboBox>(dialog, COptionsDlg::kIdInterfaceList); }
  static QCheckBox& Box(const COptionsDlg& dialog, int id) { return Control<QCheckBox>(dialog, id); }
  static QLineEdit& Edit(const COptionsDlg& dialog, int id) { return Control<QLineEdit>(dialog, id); }
  static void Ok(COptionsDlg& dialog) { Control<QPushButton>(dialog, kIdOk).click(); }
  static void SetProxy(COptionsDlg& dialog, bool on, const QString& host, const QString& port) {
    if (Box(dialog, COptionsDlg::kIdUseProxy).isChecked() != on) Box(dialog, COptionsDlg::kIdUseProxy).click();
    Edit(dialog, COptionsDlg::kIdProxyHost).setText(host);
    Edit(dialog, COptionsDlg::kIdProxyPort).setText(port);
  }

  testing::ScratchDirectory scratch;
  testing::FakePlatform platform;
  testing::FakeMessageBoxes boxes;
  MemoryProfileStore profile;
};

TEST_F(OptionsDlgTest, ShowsTheControlsAndTheDefaultsAndOkWritesThem) {
  auto dialog = Open();
  EXPECT_EQ(dialog->windowTitle(), "Options");
  for (const auto& [id, text] : {std::pair{COptionsDlg::kIdLaunchOnStartup, "Launch on startup"},
                                 std::pair{COptionsDlg::kIdHideLanFlows, "Do not show local area network flows"},
                                 std::pair{COptionsDlg::kIdFreezeGraph, "Freeze the graph"},
                                 std::pair{COptionsDlg::kIdUseProxy, "I use proxy server"}}) {
    EXPECT_EQ(Box(*dialog, id).text(), text);
    EXPECT_FALSE(Box(*dialog, id).isChecked()) << text;
  }
  EXPECT_EQ(Box(*dialog, COptionsDlg::kIdNameHostsFromTraffic).text(), "Name hosts from observed traffic");
  EXPECT_EQ(Control<QPushButton>(*dialog, COptionsDlg::kIdSetupFilters).text(), "Setup filters...");
  EXPECT_TRUE(Control<QPushButton>(*dialog, kIdCancel).isDefault());
  EXPECT_FALSE(Box(*dialog, COptionsDlg::kIdLaunchOnStartup).isEnabled());
  for (const int id : {COptionsDlg::kIdProxyHost, COptionsDlg::kIdProxyPort}) {
    EXPECT_TRUE(Edit(*dialog, id).text().isEmpty()) << id;
    EXPECT_FALSE(Edit(*dialog, id).isEnabled()) << id;
  }
  EXPECT_FALSE(Control<QGroupBox>(*dialog, COptionsDlg::kIdProxyGroup).isEnabled());

  dialog->show();
  SetProxy(*dialog, true, "", "");  // every caption enabled, so drawn in colour
  for (const auto& [id, caption] : {std::pair{COptionsDlg::kIdInterfaceGroup, "Networ interface to monitor:"},
                                    std::pair{COptionsDlg::kIdGeneralGroup, "General options:"},
                                    std::pair{COptionsDlg::kIdProxyGroup, "Proxy Server:"}}) {
    auto& group = Control<QGroupBox>(*dialog, id);
    EXPECT_EQ(group.title(), caption);
    EXPECT_GT(testing::PixelsNear(group, QColor(50, 0, 225)), 5) << caption << " is not drawn in RGB(50, 0, 225)";
  }
  SetProxy(*dialog, false, "", "");
  Ok(*dialog);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(boxes.requests.empty());
  EXPECT_EQ(ReadBytes(SetDat()), kDefaultsLine);
  EXPECT_FALSE(dialog->Result().chosenInterface);
  EXPECT_EQ(dialog->Result().settings.strProxyHost, "?");
  EXPECT_EQ(dialog->Result().proxyAddressText, "");
}

TEST_F(OptionsDlgTest, NameHostsFromTrafficIsKeptInTheProfileNotInSetDat) {
  auto dialog = Open();
  EXPECT_TRUE(Box(*dialog, COptionsDlg::kIdNameHostsFromTraffic).isChecked()) << "on by default";
  Box(*dialog, COptionsDlg::kIdNameHostsFromTraffic).click();
  Ok(*dialog);
  EXPECT_FALSE(dialog->Result().nameHostsFromTraffic);
  EXPECT_EQ(profile.GetInt(kSettingsSection, kNameHostsFromTrafficValue, 1), 0);
  EXPECT_EQ(ReadBytes(SetDat()), kDefaultsLine);

  auto again = Open();
  EXPECT_FALSE(Box(*again, COptionsDlg::kIdNameHostsFromTraffic).isChecked());
  Box(*again, COptionsDlg::kIdNameHostsFromTraffic).click();
  Control<QPushButton>(*again, kIdCancel).click();
  EXPECT_EQ(profile.GetInt(kSettingsSection, kNameHostsFromTrafficValue, 1), 0);
}

// The list is sorted; the line of the interface being monitored is
// preselected, so that OK alone never moves capture.
TEST_F(OptionsDlgTest, PreselectsTheMonitoredInterfaceAndChoosesWhatTheUserLeftSelected) {
  const std::vector<InterfaceInfo> docker = {Adapter("wlan0", "10.0.0.5", "255.255.255.0"),
                                             Adapter("docker0", "172.17.0.1", "255.255.0.0"),
                                             Adapter("Bridge", "192.168.122.1", "255.255.255.0")};
  const std::vector<InterfaceInfo> twins = {Adapter("eth", "10.0.0.1", "255.0.0.0"),
                                            Adapter("eth", "10.0.0.2", "255.255.0.0")};
  const Ipv4Address wlan = MakeIpv4(10, 0, 0, 5);
  const struct {
    const char* name;
    std::vector<InterfaceInfo> adapters;
    Ipv4Address monitored;
    const char* preselected;  // "" for no line
    int pickLine;             // -1: left as preselected
    const char* typed;        // text typed into the edit field, or null
    std::optional<Ipv4Address> chosen;
    const char* written;
  } cases[] = {
      {"monitored kept", docker, wlan, "wlan0", -1, nullptr, wlan, "0 0 0 ? ? 16777215\r\n"},
      {"another picked", docker, wlan, "wlan0", 1, nullptr, MakeIpv4(172, 17, 0, 1), "0 0 0 ? ? 65535\r\n"},
      {"monitored not listed", docker, MakeIpv4(10, 9, 9, 9), "", -1, nullptr, std::nullopt, kDefaultsLine},
      {"nothing monitored", docker, 0, "", -1, nullptr, std::nullopt, kDefaultsLine},
      {"typed text", docker, wlan, "wlan0", -1, "eth9", std::nullopt, kDefaultsLine},
      // Same description: a picked line takes the adapter reported first,
      // the monitored one left alone stays itself.
      {"twin picked", twins, MakeIpv4(10, 0, 0, 2), "eth", 1, nullptr, MakeIpv4(10, 0, 0, 1), "0 0 0 ? ? 255\r\n"},
      {"twin kept", twins, MakeIpv4(10, 0, 0, 2), "eth", -1, nullptr, MakeIpv4(10, 0, 0, 2), "0 0 0 ? ? 65535\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(SetDat());
    platform.interfaces.interfaces = c.adapters;
    auto dialog = Open(c.monitored);
    if (c.adapters.size() == 3) {
      QStringList lines;
      for (int i = 0; i < List(*dialog).count(); ++i) lines << List(*dialog).itemText(i);
      EXPECT_EQ(lines, (QStringList{"Bridge", "docker0", "wlan0"}));
    }
    EXPECT_EQ(List(*dialog).currentText().toStdString(), c.preselected);
    if (c.pickLine >= 0) List(*dialog).setCurrentIndex(c.pickLine);
    if (c.typed != nullptr) List(*dialog).setEditText(QString::fromLatin1(c.typed));
    Ok(*dialog);
    const auto& chosen = dialog->Result().chosenInterface;
    EXPECT_EQ(chosen ? std::optional(chosen->address) : std::nullopt, c.chosen);
    EXPECT_EQ(ReadBytes(SetDat()), c.written);
  }
}

TEST_F(OptionsDlgTest, ShowsTheAddressesOfTheLineSelected) {
  platform.interfaces.interfaces = {Adapter("alpha", "10.0.0.2", "255.255.0.0"),
                                    Adapter("Beta", "10.0.0.3", "255.255.255.0")};
  platform.interfaces.interfaces[1].ipv6Addresses = {{*ParseIp("2001:db8::3"), 64}, {*ParseIp("fe80::3"), 64}};
  auto dialog = Open(MakeIpv4(10, 0, 0, 2));
  auto* addresses = dialog->findChild<QLabel*>(QStringLiteral("interfaceAddresses"));
  ASSERT_NE(addresses, nullptr);
  EXPECT_EQ(addresses->text(), "IPv4 10.0.0.2");
  List(*dialog).setCurrentIndex(1);
  EXPECT_EQ(addresses->text(), "IPv4 10.0.0.3; IPv6 2001:db8::3/64, fe80::3/64");
}

TEST_F(OptionsDlgTest, ProxyChecksRunInOrderAndWriteOnlyWhenAllPass) {
  platform.names.SetForward("proxy.lan", {MakeIpv4(10, 0, 0, 9), MakeIpv4(10, 0, 0, 8)});
  platform.names.SetForward6("proxy.lan", {*ParseIp("2001:db8::1")});  // IPv4 comes first
  platform.names.SetForward6("proxy6.lan", {*ParseIp("2001:db8::9")});
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
      {true, "2001:db8::8", "3128", nullptr, "0 0 1 2001:db8::8 3128 4294967295\r\n", "2001:db8::8"},
      {true, "proxy6.lan", "3128", nullptr, "0 0 1 proxy6.lan 3128 4294967295\r\n", "2001:db8::9"},
      {true, "proxy.lan", "3128", nullptr, "0 0 1 proxy.lan 3128 4294967295\r\n", "10.0.0.9"},
      {true, "proxy.lan", "80x", nullptr, "0 0 1 proxy.lan 80x 4294967295\r\n", "10.0.0.9"},
      {false, "10.0.0.1", "", nullptr, kDefaultsLine, ""},
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
      EXPECT_TRUE(dialog->isVisible());
      // Everything as the user left it.
      EXPECT_EQ(Edit(*dialog, COptionsDlg::kIdProxyHost).text(), QString::fromUtf8(c.host));
      EXPECT_EQ(Edit(*dialog, COptionsDlg::kIdProxyPort).text(), QString::fromUtf8(c.port));
    } else {
      EXPECT_TRUE(boxes.requests.empty());
      EXPECT_EQ(dialog->result(), QDialog::Accepted);
      EXPECT_EQ(dialog->Result().proxyAddressText, c.proxyText);
    }
    EXPECT_EQ(std::filesystem::exists(SetDat()) ? ReadBytes(SetDat()) : "no file", c.written ? c.written : "no file");
  }
}

TEST_F(OptionsDlgTest, LoadedSettingsAndTheAutostartEntryAreShownAndWrittenBack) {
  platform.interfaces.interfaces = {Adapter("eth0", "10.0.0.5", "255.255.255.0")};
  WriteBytes(SetDat(), "1 0 1 10.0.0.1 8080 255\r\n");
  std::filesystem::create_directories(scratch / "autostart");
  WriteBytes(scratch / "autostart" / kAutostartEntryName, "");
  auto dialog = Open(MakeIpv4(10, 0, 0, 5));
  EXPECT_TRUE(Box(*dialog, COptionsDlg::kIdLaunchOnStartup).isChecked());
  EXPECT_FALSE(Box(*dialog, COptionsDlg::kIdLaunchOnStartup).isEnabled()) << "read only";
  EXPECT_TRUE(Box(*dialog, COptionsDlg::kIdHideLanFlows).isChecked());
  EXPECT_FALSE(Box(*dialog, COptionsDlg::kIdFreezeGraph).isChecked());
  EXPECT_TRUE(Edit(*dialog, COptionsDlg::kIdProxyHost).isEnabled());
  EXPECT_EQ(Edit(*dialog, COptionsDlg::kIdProxyHost).text(), "10.0.0.1");
  EXPECT_EQ(Edit(*dialog, COptionsDlg::kIdProxyPort).text(), "8080");
  for (const bool on : {false, true}) {  // the proxy box switches its controls
    Box(*dialog, COptionsDlg::kIdUseProxy).click();
    EXPECT_EQ(Edit(*dialog, COptionsDlg::kIdProxyPort).isEnabled(), on);
    EXPECT_EQ(Control<QGroupBox>(*dialog, COptionsDlg::kIdProxyGroup).isEnabled(), on);
  }
  Ok(*dialog);
  EXPECT_EQ(ReadBytes(SetDat()), "1 0 1 10.0.0.1 8080 16777215\r\n");
}

TEST_F(OptionsDlgTest, EnterOrCancelAfterChangesWritesNothing) {
  WriteBytes(SetDat(), kDefaultsLine);
  for (const bool enter : {true, false}) {
    auto dialog = Open();
    dialog->show();
    SetProxy(*dialog, true, "10.0.0.1", "8080");
    Box(*dialog, COptionsDlg::kIdFreezeGraph).click();
    if (enter) {
      QTest::keyClick(&Box(*dialog, COptionsDlg::kIdHideLanFlows), Qt::Key_Return);
    } else {
      Control<QPushButton>(*dialog, kIdCancel).click();
    }
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(ReadBytes(SetDat()), kDefaultsLine);
  }
  EXPECT_TRUE(boxes.requests.empty());
}

TEST_F(OptionsDlgTest, UnwritableSettingsFileIsReportedAndTheValuesStillGo) {
  WriteBytes(scratch / "file", "not a directory");
  auto dialog = Open(0, DataDirectory(scratch / "file" / "data"));
  Box(*dialog, COptionsDlg::kIdFreezeGraph).click();
  Ok(*dialog);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].text, "Can't write to " + (scratch / "file" / "data" / "set.dat").string());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->Result().settings.bFreezeGraph, 1);
}

TEST_F(OptionsDlgTest, SetupFiltersRunsTheFiltersDialogOnTheSameDirectory) {
  WriteBytes(scratch / "filters.dat", "2\r\n10.1.1 iexplorer\r\n");
  auto dialog = Open();
  std::vector<FilterRule> shown;
  testing::AnswerNextDialog<CFiltersDlg>([&shown](CFiltersDlg& filters) {
    shown = filters.Rules();
    filters.reject();
  });
  Control<QPushButton>(*dialog, COptionsDlg::kIdSetupFilters).click();
  EXPECT_EQ(shown, (std::vector<FilterRule>{{"10.1.1", "iexplorer"}}));
  EXPECT_FALSE(std::filesystem::exists(SetDat()));
}

}  // namespace
}  // namespace quorvel
