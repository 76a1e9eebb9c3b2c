// What the command-line tools share besides option parsing: the exit
// statuses and files written whole or not at all.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace brontel::tool {

// Exit statuses: 1 for input or output that fails, 2 for a bad command line.
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// Writes `bytes` to `path` so that the file is either the old one, whole, or
// the new one, whole: a temporary file beside it, flushed to disk, then
// renamed over it. On failure says why in `error` and removes the temporary
// file.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

// For writers that need a path (libsndfile): the temporary file beside
// `path` is created and handed to `write`, which returns false (and sets
// `error`) when it fails; then it is renamed over `path`. A `path` that exists
// and is not a regular file (a device, a pipe) is written in place.
template <class F>
bool ReplaceFileWith(const std::string& path, std::string& error, F&& write);

// The temporary-file steps behind ReplaceFileWith.
bool WritesInPlace(const std::string& path);
bool MakeTemporaryBeside(const std::string& path, std::string& temporary, std::string& error);
bool CommitTemporary(const std::string& temporary, const std::string& path, std::string& error);

template <class F>
bool ReplaceFileWith(const std::string& path, std::string& error, F&& write)
{
  if (WritesInPlace(path)) return write(path, error);
  std::string temporary;
  if (!MakeTemporaryBeside(path, temporary, error)) return false;
  if (!write(temporary, error)) {
    std::remove(temporary.c_str());
    return false;
  }
  return CommitTemporary(temporary, path, error);
}

}  // namespace brontel::tool
