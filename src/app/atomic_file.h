// Replacing a file as a whole: the new contents go to a temporary file beside
// it, every write and the flush to the disk are checked, and only a complete
// temporary file is renamed over the old one. On any failure the old file is
// left exactly as it was and the temporary file is removed.
//
// Only regular files are written. A symbolic link is followed to the regular
// file it names, which is replaced (the link stays a link); a link to anything
// else or to nothing, a device, a pipe or a folder is refused.
//
// Plain C++; no toolkit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace brontel {

// The system calls the writer makes on the temporary file; tests replace them
// to make a write or the flush fail the way a full disk does.
struct TFileWriteCalls {
  ssize_t (*Write)(int fd, const void* data, std::size_t size);
  int (*Sync)(int fd);
};
// The real ones: write(2) and fsync(2).
TFileWriteCalls SystemFileWriteCalls();

// Writes `data` as the whole new contents of `path`. The permissions of a file
// being replaced are kept. False with the reason (the system's, or a sentence
// for a file that is not a regular one) in `error`; `path` is then unchanged.
bool WriteFileAtomically(const std::string& path, std::string_view data, std::string& error,
                         const TFileWriteCalls& calls = SystemFileWriteCalls());

// Where a write to `path` lands: `path` itself when nothing is there or it is a
// regular file, the regular file a symbolic link leads to. False with the
// reason in `error` for anything else.
bool RegularFileTarget(const std::string& path, std::string& target, std::string& error);

// The reason text for a file that is not a regular one.
inline constexpr const char* NotRegularFileReason = "not a regular file";

}  // namespace brontel
