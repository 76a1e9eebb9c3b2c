// Runs a shell command as a user would and collects what it prints.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace brontel::test {

struct TCommandResult {
  int Status = -1;  // exit status, -1 when it did not exit normally
  std::string Out;  // standard output
};

// `command` goes to the shell as written (redirections included).
inline TCommandResult RunShell(const std::string& command)
{
  TCommandResult r;
  std::FILE* p = ::popen(command.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.Out.append(buf.data(), n);
  const int st = ::pclose(p);
  r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace brontel::test
