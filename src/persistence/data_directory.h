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

// Where set.dat, filters.dat and the traffic logs live: the program directory
// when it is a writable directory, otherwise the user's data directory. The
// writers create the directory on first write.
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
