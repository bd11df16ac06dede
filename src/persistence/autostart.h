#pragma once

#include <filesystem>

namespace quorvel {

inline constexpr const char* kAutostartEntryName = "pelkwind.desktop";

// $XDG_CONFIG_HOME/autostart, by default ~/.config/autostart.
std::filesystem::path AutostartDirectory();

// "Launch on startup": the XDG autostart entry pelkwind.desktop exists in
// the directory, whatever it holds. Only read, never changed.
bool IsLaunchedOnStartup(const std::filesystem::path& autostartDirectory);
bool IsLaunchedOnStartup();  // in AutostartDirectory()

}  // namespace quorvel
