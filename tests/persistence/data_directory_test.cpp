#include "persistence/data_directory.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "persistence/autostart.h"
#include "persistence/scratch_directory.h"
#include "persistence/settings_file.h"

namespace quorvel {
namespace {

using testing::ScratchDirectory;
using testing::WriteBytes;

// Sets (or, given null, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DataDirectoryTest, TheProgramDirectoryServesOnlyAsAnInstallationHoldingASetDat) {
  EXPECT_TRUE(std::filesystem::exists(GetProgramDirectory() / "persistence_tests"));
  ScratchDirectory dir;
  const auto user = dir / "user";
  for (const char* folder : {"portable", "bare", "build/release/bin"}) std::filesystem::create_directories(dir / folder);
  for (const char* file : {"portable/set.dat", "build/CMakeCache.txt", "build/release/set.dat",
                           "build/release/bin/set.dat", "file"}) {
    WriteBytes(dir / file, "");
  }
  const std::pair<std::filesystem::path, std::filesystem::path> cases[] = {
      {dir / "portable", dir / "portable"},   {dir / "bare", user}, {dir / "build" / "release", user},
      {dir / "build" / "release" / "bin", user}, {dir / "missing", user}, {dir / "file", user}, {{}, user},
  };
  for (const auto& [program, chosen] : cases) EXPECT_EQ(DataDirectory::Choose(program, user).Path(), chosen) << program;
  EXPECT_EQ(SettingsFilePath(DataDirectory(dir.path())), dir / "set.dat");
}

TEST(DataDirectoryTest, FollowsTheXdgRules) {
  EXPECT_EQ(XdgBaseDirectory("/data", "/home/u", ".local/share"), "/data");
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative"}) {
    EXPECT_EQ(XdgBaseDirectory(ignored, "/home/u", ".config"), "/home/u/.config");
  }
  {
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(UserDataDirectory(), "/srv/data/quorvel");
  }
  ScopedEnv home("HOME", "/home/someone"), data("XDG_DATA_HOME", nullptr), config("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(UserDataDirectory(), "/home/someone/.local/share/quorvel");
  EXPECT_EQ(AutostartDirectory(), "/home/someone/.config/autostart");
}

TEST(AutostartTest, LaunchOnStartupIsTheEntryFile) {
  ScratchDirectory dir;
  EXPECT_FALSE(IsLaunchedOnStartup(dir.path()));
  EXPECT_FALSE(IsLaunchedOnStartup(dir / "missing"));
  std::filesystem::create_directory(dir / "pelkwind.desktop");
  EXPECT_FALSE(IsLaunchedOnStartup(dir.path())) << "a directory is no entry";
  std::filesystem::remove(dir / "pelkwind.desktop");
  WriteBytes(dir / "pelkwind.desktop", std::string(5000, 'x'));
  EXPECT_TRUE(IsLaunchedOnStartup(dir.path())) << "whatever the entry holds";
  ScopedEnv config("XDG_CONFIG_HOME", dir.path().c_str());
  EXPECT_FALSE(IsLaunchedOnStartup());
  std::filesystem::create_directory(dir / "autostart");
  WriteBytes(dir / "autostart" / "pelkwind.desktop", "");
  EXPECT_TRUE(IsLaunchedOnStartup());
}

}  // namespace
}  // namespace quorvel
