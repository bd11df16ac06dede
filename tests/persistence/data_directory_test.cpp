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

TEST(DataDirectoryTest, ProgramDirectoryHoldsTheRunningExecutable) {
  const auto directory = GetProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_TRUE(std::filesystem::exists(directory / "persistence_tests"));
}

TEST(DataDirectoryTest, UsesTheProgramDirectoryOnlyWhenItIsAWritableDirectory) {
  ScratchDirectory dir;
  const auto user = dir / "user";
  WriteBytes(dir / "file", "x");
  EXPECT_EQ(DataDirectory::Choose(dir.path(), user).Path(), dir.path());
  EXPECT_EQ(DataDirectory::Choose(dir / "missing", user).Path(), user);
  EXPECT_EQ(DataDirectory::Choose(dir / "file", user).Path(), user);
  EXPECT_EQ(DataDirectory::Choose({}, user).Path(), user);
  EXPECT_EQ(DataDirectory(dir.path()).File("set.dat"), dir / "set.dat");
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
