#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/status.h"
#include "persistence/data_directory.h"

namespace quorvel {

struct EngineSettings;

inline constexpr std::string_view kSettingsFileName = "set.dat";

// The values kept in set.dat; the defaults apply when the file lacks them.
struct Settings {
  int bHideLanFlows = 0;                      // "Do not show local area network flows"
  int bFreezeGraph = 0;                       // "Freeze the graph"
  int bUseProxy = 0;                          // "I use proxy server"
  std::string strProxyHost;                   // UTF-8, as typed: dotted IPv4 or a host name
  std::string strProxyPort;                   // UTF-8, as typed
  std::uint32_t nInterfaceMask = 0xFFFFFFFF;  // wire order, like addresses
};

std::filesystem::path SettingsFilePath(const DataDirectory& directory);
std::filesystem::path SettingsFilePath();  // in DataDirectory::ForProgram()

// Overwrites the fields that the file holds, in order up to the first one
// that does not read; the others keep the caller's values. A missing or
// unreadable file changes nothing.
void LoadSettings(Settings& settings, const std::filesystem::path& path);
// The same for the bytes of a settings file.
void ReadSettingsText(std::string_view fileBytes, Settings& settings);

// Writes the file whole or not at all, after putting the "?" placeholders for
// empty texts into the caller's copy. A host or port that the file cannot
// hold (characters above U+00FF, blanks, tabs, line breaks) is refused: the
// copy stays as it was and nothing is written.
Status SaveSettings(Settings& settings, const std::filesystem::path& path);

// The bytes SaveSettings writes, with the placeholders put into settings;
// the same refusal as SaveSettings.
Status FormatSettingsFile(Settings& settings, std::string& fileBytes);

// The decimal number the port text starts with; 0 when it does not start
// with a digit or the number is not a port (above 65535).
std::uint16_t ProxyPortFromText(std::string_view text);

// Hands the values to the engine: switches, mask, proxy server text = host,
// proxy address = host as dotted IPv4 (0 otherwise), proxy port.
void ApplySettings(const Settings& settings, EngineSettings& engine);

}  // namespace quorvel
