// Settings files in the private-profile INI format: "[Section]" lines, each
// followed by "Key=Value" lines.
//
// Reading and writing keep the conventions programs expect from such files:
// section and key names compare case-insensitively (ASCII), blanks around
// names and values are ignored, a value in matching quotes loses its quotes;
// writing a key updates it where it stands, adds a missing key at the end of
// its section and a missing section at the end of the file, and leaves every
// other line as it was (comments, blank lines, other sections and keys, each
// line's own line end; new lines take the file's first line end). A line
// starting with "[" is a section only when a "]" closes the name. A file is
// always replaced as a whole (see atomic_file.h), so a crash never leaves half
// a file behind. Only regular files are read and written.
//
// Plain C++; no toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/atomic_file.h"

namespace brontel {

class TPrivateProfile {
public:
  enum class TLoad {
    Ok,       // the file was read
    Missing,  // there is no such file: an empty profile
    Failed,   // the file exists but cannot be read (see the error text)
  };

  // Reads `path`, replacing what the profile held. On Failed the profile is
  // empty and `error` says why; anything but a regular file (a pipe, a device,
  // a folder) fails without being read and without waiting.
  TLoad Load(const std::string& path, std::string* error = nullptr);

  // Writes the profile to `path` atomically. A symbolic link to a regular
  // file is followed, the permissions of an existing file are kept. False
  // with the reason in `error` when the file cannot be written; `path` is
  // then unchanged.
  bool Save(const std::string& path, std::string& error,
            const TFileWriteCalls& calls = SystemFileWriteCalls()) const;

  // The value of `key` in `section` (the first of each, if repeated), or
  // nothing when either is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
  int32_t GetInt(std::string_view section, std::string_view key, int32_t def) const;
  bool GetBool(std::string_view section, std::string_view key, bool def) const;

  // Sets `key` in `section` to `value`. False (and nothing changes) when a name
  // is empty or a name or the value would break the line structure (a line
  // end, "]" in a section name, "=" in a key).
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // The file's text as Save writes it.
  std::string Text() const;

private:
  struct TLine {
    std::string Text;  // without its line end
    std::string End;   // "\n", "\r\n", or empty for a last line without one
  };
  const std::string& NewLineEnd() const;
  std::vector<TLine> Lines;
  bool Bom = false;  // a UTF-8 byte-order mark led the file
};

// Reads an integer setting: signed decimal text, or hexadecimal after "$" or
// after "0x"/"0X" (with at least one digit following), optionally signed.
// Hexadecimal is taken as 32 bits (so $FFFFFFFF is -1). Empty text, anything
// that is not such a number and decimal numbers beyond 32 bits give `def`.
int32_t ProfileInt(std::string_view text, int32_t def);

// Reads a boolean setting: the integer reading with default 1 or 0; any
// non-zero value is true.
bool ProfileBool(std::string_view text, bool def);

}  // namespace brontel
