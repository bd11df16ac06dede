#include "persistence/autostart.h"

#include <cstdlib>
#include <system_error>

#include "persistence/data_directory.h"

namespace quorvel {

std::filesystem::path AutostartDirectory() {
  return XdgBaseDirectory(std::getenv("XDG_CONFIG_HOME"), HomeDirectory(), ".config") / "autostart";
}

bool IsLaunchedOnStartup(const std::filesystem::path& autostartDirectory) {
  std::error_code error;
  return std::filesystem::is_regular_file(autostartDirectory / kAutostartEntryName, error);
}

bool IsLaunchedOnStartup() { return IsLaunchedOnStartup(AutostartDirectory()); }

}  // namespace quorvel
