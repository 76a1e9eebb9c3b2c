// Where the settings file lives. Beside the executable (its name with ".ini",
// see SettingsFileName) wherever the executable's folder is writable: the
// build tree, a copy in the user's own folders. An installed program's folder
// is not (and /usr/bin or /usr/local/bin is never written to, not even by
// root), so there the file is $XDG_CONFIG_HOME/brontel/brontel.ini, by default
// ~/.config/brontel/brontel.ini. Plain C++; no toolkit.
#pragma once

#include <functional>
#include <string>

namespace brontel {

// Whether the settings file may be written into `folder`.
using TFolderProbe = std::function<bool(const std::string& folder)>;

// True when `folder` is a directory this process may create files in. A folder
// without any write permission bit counts as read-only for root as well.
bool FolderIsWritable(const std::string& folder);

// The settings file for the executable at `executablePath` (absolute, as the
// toolkit reports it). When the file goes to the configuration folder, the
// folder is created if missing; if that fails the path is still returned and
// the failure shows when the file is written. Never throws.
std::string SettingsFilePath(const std::string& executablePath,
                             const TFolderProbe& writable = FolderIsWritable);

// $XDG_CONFIG_HOME/brontel/brontel.ini, or $HOME/.config/brontel/brontel.ini
// when XDG_CONFIG_HOME is unset, empty or relative. Creates nothing.
std::string UserSettingsFilePath();

}  // namespace brontel
