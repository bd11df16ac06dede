#include "persistence/ui/options_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "filters/ui/dialog_controls.h"
#include "filters/ui/filters_dlg.h"
#include "mainwindow/ui/message_boxes.h"
#include "persistence/autostart.h"
#include "persistence/profile_store.h"
#include "persistence/ui/sorted_combo.h"
#include "platform/name_resolver.h"

namespace quorvel {
namespace {

const QColor kCaptionColor(50, 0, 225);
// set.dat is read back with the host cut to 255 and the port to 49 characters.
constexpr int kHostLimit = 255;
constexpr int kPortLimit = 49;

QCheckBox* CheckBox(const QString& text, int id, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  SetControlId(*box, id);
  return box;
}

QLineEdit* TextEdit(int id, int maxLength, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(maxLength);
  SetControlId(*edit, id);
  return edit;
}

}  // namespace

COptionsDlg::COptionsDlg(OptionsDialogParts parts, QWidget* parent) : QDialog(parent), parts_(std::move(parts)) {
  setWindowTitle(QStringLiteral("Options"));
  setObjectName(QStringLiteral("COptionsDlg"));
  setModal(true);

  auto* interfaceGroup = new ColoredGroupBox(QStringLiteral("Networ interface to monitor:"), kCaptionColor, this);
  SetControlId(*interfaceGroup, kIdInterfaceGroup);
  interfaceList_ = new QComboBox(interfaceGroup);
  SetControlId(*interfaceList_, kIdInterfaceList);
  interfaceList_->setEditable(true);
  interfaceList_->setInsertPolicy(QComboBox::NoInsert);
  interfaceList_->setMinimumContentsLength(30);
  auto* interfaceLayout = new QVBoxLayout(interfaceGroup);
  interfaceLayout->addWidget(interfaceList_);
  interfaceAddresses_ = new QLabel(interfaceGroup);
  interfaceAddresses_->setObjectName(QStringLiteral("interfaceAddresses"));
  interfaceAddresses_->setWordWrap(true);
  interfaceAddresses_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  interfaceLayout->addWidget(interfaceAddresses_);
  connect(interfaceList_, &QComboBox::currentTextChanged, this, &COptionsDlg::ShowInterfaceAddresses);

  auto* generalGroup = new ColoredGroupBox(QStringLiteral("General options:"), kCaptionColor, this);
  SetControlId(*generalGroup, kIdGeneralGroup);
  launchOnStartup_ = CheckBox(QStringLiteral("Launch on startup"), kIdLaunchOnStartup, generalGroup);
  hideLanFlows_ = CheckBox(QStringLiteral("Do not show local area network flows"), kIdHideLanFlows, generalGroup);
  freezeGraph_ = CheckBox(QStringLiteral("Freeze the graph"), kIdFreezeGraph, generalGroup);
  useProxy_ = CheckBox(QStringLiteral("I use proxy server"), kIdUseProxy, generalGroup);
  nameHostsFromTraffic_ =
      CheckBox(QStringLiteral("Name hosts from observed traffic"), kIdNameHostsFromTraffic, generalGroup);
  auto* setupFilters = new QPushButton(QStringLiteral("Setup filters..."), generalGroup);
  SetControlId(*setupFilters, kIdSetupFilters);
  setupFilters->setAutoDefault(false);
  connect(useProxy_, &QCheckBox::clicked, this, &COptionsDlg::OnUseProxyClicked);
  connect(setupFilters, &QPushButton::clicked, this, &COptionsDlg::OnSetupFilters);
  auto* generalLayout = new QGridLayout(generalGroup);
  generalLayout->addWidget(launchOnStartup_, 0, 0);
  generalLayout->addWidget(hideLanFlows_, 1, 0);
  generalLayout->addWidget(freezeGraph_, 2, 0);
  generalLayout->addWidget(useProxy_, 3, 0);
  generalLayout->addWidget(nameHostsFromTraffic_, 4, 0);
  generalLayout->addWidget(setupFilters, 0, 1, Qt::AlignTop | Qt::AlignRight);
  generalLayout->setColumnStretch(0, 1);

  proxyGroup_ = new ColoredGroupBox(QStringLiteral("Proxy Server:"), kCaptionColor, this);
  SetControlId(*proxyGroup_, kIdProxyGroup);
  proxyHost_ = TextEdit(kIdProxyHost, kHostLimit, proxyGroup_);
  proxyHost_->setPlaceholderText(QStringLiteral("address or host name"));
  proxyPort_ = TextEdit(kIdProxyPort, kPortLimit, proxyGroup_);
  proxyPort_->setPlaceholderText(QStringLiteral("e.g. 3128"));
  proxyPort_->setMaximumWidth(110);
  auto* hostLabel = new QLabel(QStringLiteral("Host:"), proxyGroup_);
  hostLabel->setBuddy(proxyHost_);
  auto* portLabel = new QLabel(QStringLiteral("Port:"), proxyGroup_);
  portLabel->setBuddy(proxyPort_);
  auto* proxyLayout = new QHBoxLayout(proxyGroup_);
  proxyLayout->addWidget(hostLabel);
  proxyLayout->addWidget(proxyHost_, 1);
  proxyLayout->addSpacing(8);
  proxyLayout->addWidget(portLabel);
  proxyLayout->addWidget(proxyPort_);

  const DialogButtons buttons = AddOkCancel(*this);
  buttons.cancel->setDefault(true);  // Enter leaves without a change

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 12, 14, 12);
  layout->setSpacing(10);
  layout->addWidget(interfaceGroup);
  layout->addWidget(generalGroup);
  layout->addWidget(proxyGroup_);
  layout->addLayout(buttons.row);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  FillInterfaceList();
  launchOnStartup_->setChecked(IsLaunchedOnStartup(parts_.autostartDirectory));
  LoadSettings(settings_, SettingsFilePath(parts_.dataDirectory));
  EnableProxyControls(settings_.bUseProxy != 0);
  ShowSettings();
  launchOnStartup_->setEnabled(false);
  buttons.cancel->setFocus();
}

void COptionsDlg::FillInterfaceList() {
  entries_ = parts_.interfaces.List();
  QStringList descriptions;
  for (const InterfaceInfo& entry : entries_) descriptions.push_back(QString::fromStdString(entry.description));
  interfaceList_->addItems(SortedListTexts(descriptions));
  // The interface being monitored, so that OK leaves capture where it is;
  // no line when it is not in the list.
  for (const InterfaceInfo& entry : entries_) {
    if (parts_.monitoredAddress == 0 || ParseIpv4(entry.address) != parts_.monitoredAddress) continue;
    monitored_ = &entry;
    monitoredLine_ = interfaceList_->findText(QString::fromStdString(entry.description), Qt::MatchExactly);
    break;
  }
  interfaceList_->setCurrentIndex(monitoredLine_);
  ShowInterfaceAddresses();
}

void COptionsDlg::ShowInterfaceAddresses() {
  const int line = interfaceList_->currentIndex();
  if (line >= 0 && line == monitoredLine_ && monitored_ != nullptr) {
    interfaceAddresses_->setText(QString::fromStdString(InterfaceAddressesText(*monitored_)));
    return;
  }
  const std::string description = interfaceList_->currentText().toStdString();
  for (const InterfaceInfo& entry : entries_) {
    if (entry.description != description) continue;
    interfaceAddresses_->setText(QString::fromStdString(InterfaceAddressesText(entry)));
    return;
  }
  interfaceAddresses_->clear();
}

void COptionsDlg::ShowSettings() {
  hideLanFlows_->setChecked(settings_.bHideLanFlows != 0);
  freezeGraph_->setChecked(settings_.bFreezeGraph != 0);
  useProxy_->setChecked(settings_.bUseProxy != 0);
  nameHostsFromTraffic_->setChecked(
      !parts_.profile || parts_.profile->GetInt(kSettingsSection, kNameHostsFromTrafficValue, 1) != 0);
  proxyHost_->setText(QString::fromStdString(settings_.strProxyHost));
  proxyPort_->setText(QString::fromStdString(settings_.strProxyPort));
}

void COptionsDlg::ReadControls() {
  settings_.bHideLanFlows = hideLanFlows_->isChecked() ? 1 : 0;
  settings_.bFreezeGraph = freezeGraph_->isChecked() ? 1 : 0;
  settings_.bUseProxy = useProxy_->isChecked() ? 1 : 0;
  settings_.strProxyHost = proxyHost_->text().toStdString();
  settings_.strProxyPort = proxyPort_->text().toStdString();
}

void COptionsDlg::EnableProxyControls(bool enabled) {
  proxyGroup_->setEnabled(enabled);
  proxyHost_->setEnabled(enabled);
  proxyPort_->setEnabled(enabled);
}

void COptionsDlg::OnUseProxyClicked() {
  ReadControls();
  EnableProxyControls(settings_.bUseProxy != 0);
}

void COptionsDlg::OnSetupFilters() {
  // The rules reach the engine only when this dialog ends with OK.
  CFiltersDlg dialog(parts_.dataDirectory, parts_.messages, this);
  dialog.exec();
}

std::optional<InterfaceChoice> COptionsDlg::ChosenInterface() const {
  const int line = interfaceList_->currentIndex();
  // A text typed into the edit field selects no line.
  if (line < 0 || interfaceList_->currentText() != interfaceList_->itemText(line)) return std::nullopt;
  // Left on the monitored interface: that one, even when an earlier adapter
  // has the same description.
  if (line == monitoredLine_ && monitored_ != nullptr) return ChoiceOf(*monitored_);
  const std::string description = interfaceList_->itemText(line).toStdString();
  for (const InterfaceInfo& entry : entries_) {
    if (entry.description == description) return ChoiceOf(entry);
  }
  return std::nullopt;
}

std::optional<InterfaceChoice> COptionsDlg::ChoiceOf(const InterfaceInfo& entry) const {
  const auto address = ParseIpv4(entry.address);
  const auto mask = ParseIpv4(entry.mask);
  if (!address || !mask) return std::nullopt;
  return InterfaceChoice{*address, *mask};
}

void COptionsDlg::ShowError(const std::string& message) {
  parts_.messages.Show(MessageBoxRequest{message, "Error", MessageIcon::kStop, MessageButtons::kOk});
}

void COptionsDlg::accept() {
  ReadControls();
  Settings candidate = settings_;
  const std::optional<InterfaceChoice> chosen = ChosenInterface();
  if (chosen) candidate.nInterfaceMask = chosen->mask;

  std::string proxyAddressText;
  if (candidate.bUseProxy == 1) {
    if (candidate.strProxyHost.empty()) {
      ShowError("Input Proxy Server host!");
      return;
    }
    if (ParseIp(candidate.strProxyHost)) {
      proxyAddressText = candidate.strProxyHost;
    } else {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      // An IPv4 address where the name has one, as before IPv6; else IPv6.
      const std::vector<Ipv4Address> addresses = parts_.names.ResolveIpv4(candidate.strProxyHost);
      const std::vector<IpAddress> addresses6 =
          addresses.empty() ? parts_.names.ResolveIpv6(candidate.strProxyHost) : std::vector<IpAddress>{};
      QApplication::restoreOverrideCursor();
      if (addresses.empty() && addresses6.empty()) {
        ShowError("Can't resolve proxy IP address!");
        return;
      }
      proxyAddressText = addresses.empty() ? IpToText(addresses6.front()) : Ipv4ToText(addresses.front());
    }
    if (candidate.strProxyPort.empty()) {
      ShowError("Input Proxy Server port!");
      return;
    }
  }

  // Refuse texts set.dat cannot hold before anything is written.
  Settings formatted = candidate;
  std::string bytes;
  if (const Status storable = FormatSettingsFile(formatted, bytes); !storable) {
    ShowError(storable.error);
    return;
  }
  const std::filesystem::path path = SettingsFilePath(parts_.dataDirectory);
  if (!SaveSettings(candidate, path)) {
    // The values still reach the running engine; only the next start loses them.
    ShowError("Can't write to " + path.string());
  }
  settings_ = candidate;
  const bool nameHosts = nameHostsFromTraffic_->isChecked();
  if (parts_.profile) parts_.profile->SetInt(kSettingsSection, kNameHostsFromTrafficValue, nameHosts ? 1 : 0);
  result_ = OptionsResult{candidate, chosen, proxyAddressText, nameHosts};
  QDialog::accept();
}

}  // namespace quorvel
