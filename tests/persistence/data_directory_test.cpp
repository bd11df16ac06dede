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

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DataDirectoryTest, TheProgramDirectoryServesOnlyAsAnInstallationHoldingASetDat) {
  EXPECT_TRUE(std::filesystem::exists(GetProgramDirectory() / "persistence_tests"));
  ScratchDirectory dir;
  const auto user = dir / "user";
  for (const char* folder : {"portable", "bare", "build/release", "build/release/bin"}) {
    std::filesystem::create_directories(dir / folder);
  }
  WriteBytes(dir / "portable" / "set.dat", "");
  WriteBytes(dir / "build" / "CMakeCache.txt", "");
  WriteBytes(dir / "build" / "release" / "set.dat", "");
  WriteBytes(dir / "build" / "release" / "bin" / "set.dat", "");
  WriteBytes(dir / "file", "x");
  const std::pair<std::filesystem::path, std::filesystem::path> cases[] = {
      {dir / "portable", dir / "portable"},
      {dir / "bare", user},
      {dir / "build" / "release", user},
      {dir / "build" / "release" / "bin", user},
      {dir / "missing", user},
      {dir / "file", user},
      {{}, user},
  };
  for (const auto& [program, chosen] : cases) EXPECT_EQ(DataDirectory::Choose(program, user).Path(), chosen) << program;
  EXPECT_EQ(SettingsFilePath(DataDirectory(dir.path())), dir / "set.dat");
}

TEST(DataDirectoryTest, FollowsTheXdgRules) {
  EXPECT_EQ(XdgBaseDirectory("/data", "/home/u", ".local/share"), "/data");
  EXPECT_EQ(XdgBaseDirectory(nullptr, "/home/u", ".local/share"), "/home/u/.local/share");
  EXPECT_EQ(XdgBaseDirectory("", "/home/u", ".local/share"), "/home/u/.local/share");
  EXPECT_EQ(XdgBaseDirectory("relative", "/home/u", ".config"), "/home/u/.config");
  {
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(UserDataDirectory(), "/srv/data/quorvel");
  }
  ScopedEnv home("HOME", "/home/someone");
  ScopedEnv data("XDG_DATA_HOME", nullptr);
  ScopedEnv config("XDG_CONFIG_HOME", nullptr);
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
