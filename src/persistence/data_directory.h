#pragma once

#include <filesystem>
#include <string_view>

namespace quorvel {

// The directory of the running executable (from /proc/self/exe); empty when
// it cannot be found.
std::filesystem::path GetProgramDirectory();

// The user's home: $HOME, else the password database entry.
std::filesystem::path HomeDirectory();

// An XDG base directory: the variable's value when it is an absolute path
// (the XDG rules ignore relative ones), otherwise home / fallback.
std::filesystem::path XdgBaseDirectory(const char* variableValue, const std::filesystem::path& home,
                                       const std::filesystem::path& fallback);

// $XDG_DATA_HOME/quorvel, by default ~/.local/share/quorvel.
std::filesystem::path UserDataDirectory();

// True when the directory or one above it holds a CMakeCache.txt: a build
// folder, which a rebuild or a clean may wipe.
bool IsBuildTree(const std::filesystem::path& directory);

// Where set.dat, filters.dat and the traffic logs live: the user's data
// directory, unless the program directory is a writable installation folder
// (no build folder) that already holds a set.dat, as a portable copy does.
// The writers create the directory on first write.
class DataDirectory {
 public:
  explicit DataDirectory(std::filesystem::path path) : path_(std::move(path)) {}

  static DataDirectory Choose(const std::filesystem::path& programDirectory,
                              const std::filesystem::path& userDirectory);
  // Choose(GetProgramDirectory(), UserDataDirectory()).
  static DataDirectory ForProgram();

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path File(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace quorvel
