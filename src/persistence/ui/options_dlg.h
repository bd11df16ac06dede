#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/ipv4.h"
#include "persistence/data_directory.h"
#include "persistence/settings_file.h"
#include "platform/interfaces.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace quorvel {

class MessageBoxes;
class NameResolver;
class ProfileStore;

// What the Options dialog works with; all of it outlives the dialog.
struct OptionsDialogParts {
  DataDirectory dataDirectory;  // set.dat, and filters.dat for "Setup filters..."
  MessageBoxes& messages;
  InterfaceLister& interfaces;
  NameResolver& names;  // resolves a proxy server given by name
  std::filesystem::path autostartDirectory;  // where "Launch on startup" is looked up
  Ipv4Address monitoredAddress = 0;  // the interface capture runs on now; 0 for none
  ProfileStore* profile = nullptr;  // keeps "Name hosts from observed traffic"; none: always on
};

// The interface chosen on OK.
struct InterfaceChoice {
  Ipv4Address address = 0;
  Ipv4Address mask = 0;
};

// What an OK hands to the Options command.
struct OptionsResult {
  Settings settings;  // as written to set.dat, "?" placeholders included
  std::optional<InterfaceChoice> chosenInterface;
  std::string proxyAddressText;  // dotted IPv4 or IPv6 text; empty when the proxy is off
  bool nameHostsFromTraffic = true;  // "Name hosts from observed traffic", kept in the profile
};

// "Options": the interface to monitor, the switches and the proxy server.
// OK validates, writes set.dat and offers Result(); Cancel changes nothing.
class COptionsDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kIdInterfaceGroup = 1020;
  static constexpr int kIdInterfaceList = 1000;
  static constexpr int kIdGeneralGroup = 1021;
  static constexpr int kIdLaunchOnStartup = 1013;
  static constexpr int kIdHideLanFlows = 1014;
  static constexpr int kIdFreezeGraph = 1015;
  static constexpr int kIdUseProxy = 1016;
  static constexpr int kIdSetupFilters = 1017;
  static constexpr int kIdProxyGroup = 1022;
  static constexpr int kIdProxyHost = 1008;
  static constexpr int kIdProxyPort = 1019;
  static constexpr int kIdNameHostsFromTraffic = 1023;

  explicit COptionsDlg(OptionsDialogParts parts, QWidget* parent = nullptr);

  // Meaningful once the dialog ended with OK.
  const OptionsResult& Result() const { return result_; }

  // The checks in order; a failed one says why and leaves the dialog open.
  void accept() override;

 private:
  void FillInterfaceList();
  void ShowInterfaceAddresses();
  void ShowSettings();
  void ReadControls();
  void EnableProxyControls(bool enabled);
  void OnUseProxyClicked();
  void OnSetupFilters();
  std::optional<InterfaceChoice> ChosenInterface() const;
  std::optional<InterfaceChoice> ChoiceOf(const InterfaceInfo& entry) const;
  void ShowError(const std::string& message);

  OptionsDialogParts parts_;
  std::vector<InterfaceInfo> entries_;  // in the order the system reports them
  int monitoredLine_ = -1;              // the preselected line of the monitored interface
  const InterfaceInfo* monitored_ = nullptr;
  Settings settings_;                   // the dialog's copy, bound to the controls
  OptionsResult result_;

  QComboBox* interfaceList_ = nullptr;
  QLabel* interfaceAddresses_ = nullptr;  // of the line selected
  QCheckBox* launchOnStartup_ = nullptr;
  QCheckBox* hideLanFlows_ = nullptr;
  QCheckBox* freezeGraph_ = nullptr;
  QCheckBox* useProxy_ = nullptr;
  QCheckBox* nameHostsFromTraffic_ = nullptr;
  QGroupBox* proxyGroup_ = nullptr;
  QLineEdit* proxyHost_ = nullptr;
  QLineEdit* proxyPort_ = nullptr;
};

}  // namespace quorvel
