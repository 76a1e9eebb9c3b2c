// What the message and store tests share: messages as the assembler makes
// them, files and folders of their own, and code run in a child process.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "messages/assembler.h"

namespace brontel::msg::test {

inline constexpr double Hour = 3600.0;
inline constexpr double Day0 = 1796634000.0;  // 2026-12-07T09:00:00Z

// The message the assembler makes of `lines` received from time t (cut
// short unless the last line is NNNN).
inline TMessage Received(const std::vector<std::string>& lines, double t = Day0)
{
  TMessage out;
  TAssemblerOptions o;
  o.Epoch = t;
  TMessageAssembler a([&](TMessage&& m) { out = std::move(m); }, o);
  for (const std::string& l : lines) a.Line(l, 0.0);
  a.Finish(0.0);
  return out;
}

inline std::string Bytes(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A folder of its own with a store path in it, removed with all it holds.
struct TTempDir {
  std::filesystem::path Dir;
  std::string Store;
  explicit TTempDir(const std::string& name)
      : Dir(std::filesystem::temp_directory_path() / ("brontel-" + name + "-" + std::to_string(::getpid()))),
        Store((Dir / "messages.sqlite").string())
  {
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
  }
  ~TTempDir()
  {
    std::filesystem::permissions(Dir, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(Dir);
  }
};

// Runs `body` in a child process, as nobody when `unprivileged` and run by
// root (so that permissions hold for it); its exit status, -1 for a signal.
inline int InChild(const std::function<int()>& body, bool unprivileged = false)
{
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `body(i)` for i = 0 .. n-1 in n child processes released at the same
// moment; their exit statuses in order, -1 for a signal.
inline std::vector<int> InChildrenAtOnce(int n, const std::function<int(int)>& body)
{
  int gate[2];
  if (::pipe(gate) != 0) return std::vector<int>(static_cast<std::size_t>(n), -1);
  std::vector<pid_t> children;
  for (int i = 0; i < n; ++i) {
    const pid_t pid = ::fork();
    if (pid != 0) {
      children.push_back(pid);
      continue;
    }
    ::close(gate[1]);
    char c;
    (void)!::read(gate[0], &c, 1);  // returns when the parent closes the gate
    ::_exit(body(i));
  }
  ::close(gate[0]);
  ::close(gate[1]);
  std::vector<int> statuses;
  for (const pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return statuses;
}

}  // namespace brontel::msg::test
