#include "persistence/settings_file.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>

#include "common/ip_address.h"
#include "common/ipv4.h"
#include "engine/engine_state.h"
#include "persistence/latin1.h"
#include "persistence/text_file.h"

namespace quorvel {
namespace {

constexpr std::size_t kLineLimit = 519;
constexpr std::size_t kHostLimit = 255;
constexpr std::size_t kPortLimit = 49;
// Only the first line matters, and it is cut at kLineLimit characters.
constexpr std::size_t kReadLimit = 4096;
constexpr std::string_view kPlaceholder = "?";

// Reads fields the way "%d", "%u" and "%s" do: each skips the separators
// before it; a number needs at least one digit.
class FieldScanner {
 public:
  explicit FieldScanner(std::string_view text) : rest_(text) {}

  std::optional<int> Int() {
    bool negative = false;
    const auto magnitude = Number(negative);
    if (!magnitude) return std::nullopt;
    // Out-of-range numbers saturate rather than wrap.
    const long long value = static_cast<long long>(*magnitude);
    return static_cast<int>(std::clamp<long long>(negative ? -value : value, INT_MIN, INT_MAX));
  }

  std::optional<std::uint32_t> Unsigned() {
    bool negative = false;
    const auto magnitude = Number(negative);
    if (!magnitude) return std::nullopt;
    if (*magnitude > UINT32_MAX) return UINT32_MAX;
    const auto value = static_cast<std::uint32_t>(*magnitude);
    // As strtoul: a minus sign negates modulo 2^32.
    return negative ? static_cast<std::uint32_t>(0U - value) : value;
  }

  std::optional<std::string_view> Token() { return NextToken(rest_); }

 private:
  std::optional<unsigned long long> Number(bool& negative) {
    std::size_t i = 0;
    while (i < rest_.size() && IsTokenSeparator(rest_[i])) ++i;
    if (i < rest_.size() && (rest_[i] == '+' || rest_[i] == '-')) {
      negative = rest_[i] == '-';
      ++i;
    }
    const std::size_t digits = i;
    unsigned long long value = 0;
    constexpr unsigned long long kCap = 1ULL << 40;  // beyond every range read here
    while (i < rest_.size() && rest_[i] >= '0' && rest_[i] <= '9') {
      value = std::min(kCap, value * 10 + static_cast<unsigned>(rest_[i] - '0'));
      ++i;
    }
    if (i == digits) return std::nullopt;
    rest_.remove_prefix(i);
    return value;
  }

  std::string_view rest_;
};

bool HasSeparator(std::string_view text) {
  for (const char c : text) {
    if (IsTokenSeparator(c)) return true;
  }
  return false;
}

// The Latin-1 form of a text for the file, or why it cannot be stored.
Status StorableToken(std::string_view what, std::string_view text, std::string& latin1) {
  const auto converted = Utf8ToLatin1(text);
  if (!converted)
    return Status::Failure("Can't save the " + std::string(what) + ": " + DescribeNotLatin1(text));
  if (HasSeparator(*converted)) {
    return Status::Failure("Can't save the " + std::string(what) + ": the text \"" + std::string(text) +
                           "\" contains a blank, a tab or a line break");
  }
  latin1 = *converted;
  return Status::Success();
}

}  // namespace

std::filesystem::path SettingsFilePath(const DataDirectory& directory) {
  return directory.File(kSettingsFileName);
}

std::filesystem::path SettingsFilePath() { return SettingsFilePath(DataDirectory::ForProgram()); }

void ReadSettingsText(std::string_view fileBytes, Settings& settings) {
  LineReader lines(fileBytes);
  std::string_view line;
  if (!lines.Next(kLineLimit, line)) return;
  FieldScanner scanner(line);
  [&] {
    const auto hideLan = scanner.Int();
    if (!hideLan) return;
    settings.bHideLanFlows = *hideLan;
    const auto freeze = scanner.Int();
    if (!freeze) return;
    settings.bFreezeGraph = *freeze;
    const auto useProxy = scanner.Int();
    if (!useProxy) return;
    settings.bUseProxy = *useProxy;
    const auto host = scanner.Token();
    if (!host) return;
    settings.strProxyHost = Latin1ToUtf8(host->substr(0, kHostLimit));
    const auto port = scanner.Token();
    if (!port) return;
    settings.strProxyPort = Latin1ToUtf8(port->substr(0, kPortLimit));
    const auto mask = scanner.Unsigned();
    if (!mask) return;
    settings.nInterfaceMask = *mask;
  }();
  if (settings.strProxyHost == kPlaceholder) {
    settings.strProxyHost.clear();
    settings.strProxyPort.clear();
  }
}

void LoadSettings(Settings& settings, const std::filesystem::path& path) {
  if (const auto bytes = ReadFileHead(path, kReadLimit)) ReadSettingsText(*bytes, settings);
}

Status FormatSettingsFile(Settings& settings, std::string& fileBytes) {
  // An empty port loses the host too: the reader takes a "?" host as "no proxy
  // server given".
  std::string host = settings.strProxyHost.empty() ? std::string(kPlaceholder) : settings.strProxyHost;
  std::string port = settings.strProxyPort;
  if (port.empty()) {
    host = kPlaceholder;
    port = kPlaceholder;
  }
  std::string hostLatin1;
  std::string portLatin1;
  if (Status status = StorableToken("proxy server host", host, hostLatin1); !status) return status;
  if (Status status = StorableToken("proxy server port", port, portLatin1); !status) return status;
  settings.strProxyHost = std::move(host);
  settings.strProxyPort = std::move(port);
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%d %d %d ", settings.bHideLanFlows, settings.bFreezeGraph,
                settings.bUseProxy);
  char mask[16];
  std::snprintf(mask, sizeof mask, "%u", static_cast<unsigned>(settings.nInterfaceMask));
  fileBytes = std::string(numbers) + hostLatin1 + " " + portLatin1 + " " + mask + "\r\n";
  return Status::Success();
}

Status SaveSettings(Settings& settings, const std::filesystem::path& path) {
  std::string bytes;
  if (Status status = FormatSettingsFile(settings, bytes); !status) return status;
  return WriteFileAtomically(path, bytes);
}

std::uint16_t ProxyPortFromText(std::string_view text) {
  std::uint32_t value = 0;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + static_cast<std::uint32_t>(text[digits] - '0');
    if (value > 65535) return 0;
    ++digits;
  }
  return static_cast<std::uint16_t>(value);
}

void ApplySettings(const Settings& settings, EngineSettings& engine) {
  engine.hideLanFlows = settings.bHideLanFlows != 0;
  engine.freezeGraph = settings.bFreezeGraph != 0;
  engine.useProxy = settings.bUseProxy != 0;
  engine.networkMask = settings.nInterfaceMask;
  engine.SetProxyServerText(settings.strProxyHost);
  engine.proxyAddress.Set(ParseIp(settings.strProxyHost).value_or(IpAddress()));
  engine.proxyPort = ProxyPortFromText(settings.strProxyPort);
}

}  // namespace quorvel
