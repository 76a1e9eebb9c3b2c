// Where the window keeps its settings: beside the executable when its folder
// is writable, else in the user's configuration folder.
#include "app/settings_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using brontel::FolderIsWritable;
using brontel::SettingsFilePath;

// Sets an environment variable for one test and puts the old value back.
class TScopedEnv {
public:
  TScopedEnv(const char* name, const char* value) : Name(name)
  {
    if (const char* old = std::getenv(name)) Old = old;
    if (value) setenv(name, value, 1); else unsetenv(name);
  }
  ~TScopedEnv() { if (Old) setenv(Name, Old->c_str(), 1); else unsetenv(Name); }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
  const char* Name;
  std::optional<std::string> Old;
};

class SettingsLocation : public testing::Test {
protected:
  void SetUp() override
  {
    Root = fs::temp_directory_path() /
           ("brontel-settings-location-" + std::to_string(getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Root);
    fs::create_directories(Root);
  }
  void TearDown() override
  {
    std::error_code ec;
    fs::permissions(Root / "readonly", fs::perms::owner_all, ec);
    fs::remove_all(Root, ec);
  }
  std::string Path(const std::string& relative) const { return (Root / relative).string(); }

  fs::path Root;
};

const auto Writable = [](const std::string&) { return true; };
const auto ReadOnly = [](const std::string&) { return false; };

TEST_F(SettingsLocation, BesideTheExecutableWhenItsFolderIsWritable)
{
  std::string probed;
  const auto probe = [&](const std::string& folder) { probed = folder; return true; };
  EXPECT_EQ(SettingsFilePath("/opt/radio/bin/brontel", probe), "/opt/radio/bin/brontel.ini");
  EXPECT_EQ(probed, "/opt/radio/bin");
  // The name rule of the settings file is kept: the extension is replaced.
  EXPECT_EQ(SettingsFilePath("/home/op/brontel.bin", Writable), "/home/op/brontel.ini");
  EXPECT_EQ(SettingsFilePath("/brontel", probe), "/brontel.ini");
  EXPECT_EQ(probed, "/");
}

TEST_F(SettingsLocation, ConfigurationFolderWhenTheExecutablesFolderIsReadOnly)
{
  TScopedEnv xdg("XDG_CONFIG_HOME", Path("config").c_str());
  EXPECT_EQ(SettingsFilePath("/opt/radio/bin/brontel", ReadOnly), Path("config/brontel/brontel.ini"));
  EXPECT_TRUE(fs::is_directory(Root / "config/brontel"));
  // The file keeps the program's name whatever the executable is called.
  EXPECT_EQ(SettingsFilePath("/opt/radio/bin/brontel-1.0", ReadOnly), Path("config/brontel/brontel.ini"));
  // A probe that fails counts as read-only.
  EXPECT_EQ(SettingsFilePath("/opt/x/brontel", [](const std::string&) -> bool { throw 1; }),
            Path("config/brontel/brontel.ini"));
  EXPECT_EQ(SettingsFilePath("", Writable), Path("config/brontel/brontel.ini"));
}

TEST_F(SettingsLocation, SystemProgramFoldersAreNeverWrittenTo)
{
  TScopedEnv xdg("XDG_CONFIG_HOME", Path("config").c_str());
  for (const char* exe : {"/usr/bin/brontel", "/usr/local/bin/brontel", "/bin/brontel"}) {
    EXPECT_EQ(SettingsFilePath(exe, Writable), Path("config/brontel/brontel.ini")) << exe;
  }
}

TEST_F(SettingsLocation, HomeConfigWithoutAnAbsoluteXdgConfigHome)
{
  TScopedEnv home("HOME", Path("home").c_str());
  for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/config"}) {
    TScopedEnv env("XDG_CONFIG_HOME", xdg);
    EXPECT_EQ(SettingsFilePath("/opt/x/brontel", ReadOnly), Path("home/.config/brontel/brontel.ini"))
        << (xdg ? xdg : "(unset)");
  }
  EXPECT_TRUE(fs::is_directory(Root / "home/.config/brontel"));
}

TEST_F(SettingsLocation, AFolderThatCannotBeCreatedStillGivesThePath)
{
  std::ofstream(Root / "file") << "not a folder";
  TScopedEnv xdg("XDG_CONFIG_HOME", Path("file/config").c_str());
  EXPECT_EQ(SettingsFilePath("/opt/x/brontel", ReadOnly), Path("file/config/brontel/brontel.ini"));
}

TEST_F(SettingsLocation, FolderWritabilityFollowsThePermissionBits)
{
  EXPECT_TRUE(FolderIsWritable(Root.string()));
  fs::create_directory(Root / "readonly");
  fs::permissions(Root / "readonly", fs::perms::owner_read | fs::perms::owner_exec |
                                         fs::perms::group_read | fs::perms::group_exec);
  EXPECT_FALSE(FolderIsWritable(Path("readonly")));  // for root as well
  EXPECT_FALSE(FolderIsWritable(Path("missing")));
  std::ofstream(Root / "file") << "x";
  EXPECT_FALSE(FolderIsWritable(Path("file")));
  EXPECT_FALSE(FolderIsWritable(""));
}

TEST_F(SettingsLocation, TheRealProbeDecidesForAnExecutableInAReadOnlyFolder)
{
  TScopedEnv xdg("XDG_CONFIG_HOME", Path("config").c_str());
  EXPECT_EQ(SettingsFilePath(Path("brontel")), Path("brontel.ini"));
  fs::create_directory(Root / "readonly");
  fs::permissions(Root / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(SettingsFilePath(Path("readonly/brontel")), Path("config/brontel/brontel.ini"));
}

}  // namespace
