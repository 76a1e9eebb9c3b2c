#include "tool_support.h"

#include "brontel/version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brontel::tool {

namespace fs = std::filesystem;

bool ParseNumber(const std::string& text, double& value)
{
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && end != text.c_str() && *end == '\0';
}

namespace {

std::string Format(double v)
{
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

std::string Lower(std::string s)
{
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string SystemError(const std::string& what)
{
  return what + ": " + std::strerror(errno);
}

}  // namespace

CLI::Validator NumberIn(double lo, double hi)
{
  return CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        double v = 0.0;
        if (ParseNumber(text, v) && v >= lo && v <= hi) return {};
        return "takes a number from " + Format(lo) + " to " + Format(hi) + ", not '" + text + "'";
      },
      "");
}

std::optional<std::size_t> FindKeyword(const std::vector<std::string>& names, const std::string& text)
{
  for (std::size_t i = 0; i < names.size(); ++i)
    if (Lower(names[i]) == Lower(text)) return i;
  return std::nullopt;
}

void SetUpApp(CLI::App& app)
{
  app.set_version_flag("--version", app.get_name() + " " BRONTEL_VERSION_STRING, "show the version");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_formatter()->column_width(24);
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv)
{
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
  } catch (const CLI::CallForVersion& e) {
    std::puts(e.what());
    return std::fflush(stdout) == 0 ? 0 : ExitFailure;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "%s: %s\nRun '%s --help' for the options.\n", app.get_name().c_str(), e.what(),
                 app.get_name().c_str());
    return ExitUsage;
  } catch (const std::exception& e) {  // a check that failed in an unexpected way
    std::fprintf(stderr, "%s: %s\n", app.get_name().c_str(), e.what());
    return ExitUsage;
  }
}

bool WritesInPlace(const std::string& path)
{
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool MakeTemporaryBeside(const std::string& path, std::string& temporary, std::string& error)
{
  const fs::path p(path);
  std::string pattern = (p.parent_path() / ("." + p.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    error = SystemError("cannot create a file beside " + path);
    return false;
  }
  ::close(fd);
  temporary = pattern;
  return true;
}

bool CommitTemporary(const std::string& temporary, const std::string& path, std::string& error)
{
  // The new file gets the old one's permissions, or the usual ones for a new file.
  struct stat old {};
  mode_t mode;
  if (::stat(path.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  if (!ok) error = SystemError("cannot write " + path);
  if (fd >= 0 && ::close(fd) != 0 && ok) {
    ok = false;
    error = SystemError("cannot write " + path);
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    error = SystemError("cannot replace " + path);
  }
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error)
{
  return ReplaceFileWith(path, error, [&](const std::string& target, std::string& err) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      err = SystemError("cannot write " + path);
      return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        err = SystemError("cannot write " + path);
        ::close(fd);
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
      err = SystemError("cannot write " + path);
      return false;
    }
    return true;
  });
}

}  // namespace brontel::tool
