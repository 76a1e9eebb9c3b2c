// What both command-line tools share: option parsing on CLI11 with this
// project's messages and exit statuses, and files written whole or not at all.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brontel::tool {

// Exit statuses: 1 for input or output that fails, 2 for a bad command line.
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// A whole decimal (or hexadecimal floating) number, as strtod reads it; false
// for anything else, trailing text included.
bool ParseNumber(const std::string& text, double& value);

// A check for number options: a number from lo to hi (NaN refused).
CLI::Validator NumberIn(double lo, double hi);

// A keyword option: the value must be one of `names` (any letter case) and
// the option then takes the value paired with it.
template <class T>
using TKeywords = std::vector<std::pair<std::string, T>>;

std::optional<std::size_t> FindKeyword(const std::vector<std::string>& names, const std::string& text);

template <class T>
CLI::Option* AddKeyword(CLI::App& app, const std::string& name, T& value, TKeywords<T> keywords,
                        const std::string& help)
{
  std::vector<std::string> names;
  std::vector<T> values;
  for (auto& [n, v] : keywords) names.push_back(n), values.push_back(v);
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) list += (i ? (i + 1 == names.size() ? " or " : ", ") : "") + names[i];
  auto* opt = app.add_option_function<std::string>(
      name, [&value, names, values](const std::string& text) { value = values[*FindKeyword(names, text)]; }, help);
  opt->check(CLI::Validator(
      [names, list](std::string& text) -> std::string {
        return FindKeyword(names, text) ? std::string() : "takes " + list + ", not '" + text + "'";
      },
      ""));
  return opt;
}

// A parser with this project's conventions: a later repetition of an option
// wins, and --help/-h prints the generated help.
void SetUpApp(CLI::App& app);

// Runs app.parse. Returns nothing when the program should go on; otherwise
// the status to exit with: 0 after --help, ExitUsage (with the message and a
// hint on standard error) for a bad command line.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv);

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
