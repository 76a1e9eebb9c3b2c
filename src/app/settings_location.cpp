#include "app/settings_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/settings.h"

namespace brontel {

namespace {

// Folders of a system-wide installation: nothing of the user's is kept there.
bool IsSystemProgramFolder(const std::string& folder)
{
  std::error_code ec;
  std::string resolved = std::filesystem::weakly_canonical(folder, ec).string();
  if (ec) resolved = folder;
  return resolved == "/usr/bin" || resolved == "/usr/local/bin" || resolved == "/bin";
}

std::string HomeFolder()
{
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

}  // namespace

bool FolderIsWritable(const std::string& folder)
{
  struct stat info {};
  if (folder.empty() || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  // access() answers yes to root whatever the permission bits say; a folder
  // marked read-only for everyone is taken at its word.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserSettingsFilePath()
{
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    config = HomeFolder();
    if (config.empty() || config.back() != '/') config += '/';
    config += ".config";
  }
  if (config.size() > 1 && config.back() == '/') config.pop_back();
  return config + "/brontel/brontel.ini";
}

std::string SettingsFilePath(const std::string& executablePath, const TFolderProbe& writable)
{
  if (!executablePath.empty()) {
    const std::size_t slash = executablePath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : executablePath.substr(0, slash);
    bool beside = false;
    try {
      beside = !IsSystemProgramFolder(folder) && writable && writable(folder);
    } catch (...) {
      beside = false;
    }
    if (beside) return SettingsFileName(executablePath);
  }
  const std::string path = UserSettingsFilePath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  return path;
}

}  // namespace brontel
