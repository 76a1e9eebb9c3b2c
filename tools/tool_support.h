// What both command-line tools share: option parsing on CLI11 with this
// project's messages, plus the exit statuses and whole-file writing of
// tool_files.h (which files that parse no options include on their own:
// CLI11 is costly to compile).
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tool_files.h"

namespace brontel::tool {

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

}  // namespace brontel::tool
