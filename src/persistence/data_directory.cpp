#include "persistence/data_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

namespace quorvel {

namespace fs = std::filesystem;

fs::path GetProgramDirectory() {
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return executable.parent_path();
}

fs::path HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return fs::path("/");
}

fs::path XdgBaseDirectory(const char* variableValue, const fs::path& home, const fs::path& fallback) {
  if (variableValue != nullptr && variableValue[0] == '/') return variableValue;
  return home / fallback;
}

fs::path UserDataDirectory() {
  return XdgBaseDirectory(std::getenv("XDG_DATA_HOME"), HomeDirectory(), ".local/share") / "quorvel";
}

bool IsBuildTree(const fs::path& directory) {
  std::error_code error;
  for (fs::path at = directory; !at.empty(); at = at.parent_path()) {
    if (fs::exists(at / "CMakeCache.txt", error)) return true;
    if (at == at.parent_path()) break;
  }
  return false;
}

DataDirectory DataDirectory::Choose(const fs::path& programDirectory, const fs::path& userDirectory) {
  std::error_code error;
  if (!programDirectory.empty() && fs::is_regular_file(programDirectory / "set.dat", error) &&
      ::access(programDirectory.c_str(), W_OK) == 0 && !IsBuildTree(programDirectory)) {
    return DataDirectory(programDirectory);
  }
  return DataDirectory(userDirectory);
}

DataDirectory DataDirectory::ForProgram() { return Choose(GetProgramDirectory(), UserDataDirectory()); }

}  // namespace quorvel
