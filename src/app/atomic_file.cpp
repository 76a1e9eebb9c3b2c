#include "app/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <system_error>

namespace brontel {

namespace {

std::string Reason(int err) { return std::error_code(err, std::generic_category()).message(); }

std::string FolderOf(const std::string& path)
{
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes all of `data`, checking every call; a call that writes nothing
// counts as a full disk.
bool WriteAll(const TFileWriteCalls& calls, int fd, std::string_view data, int& err)
{
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = calls.Write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

TFileWriteCalls SystemFileWriteCalls() { return {&::write, &::fsync}; }

bool RegularFileTarget(const std::string& path, std::string& target, std::string& error)
{
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) {  // a new file (its folder is checked when it is created)
      target = path;
      return true;
    }
    error = Reason(errno);
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    target = path;
    return true;
  }
  if (!S_ISLNK(st.st_mode)) {
    error = NotRegularFileReason;
    return false;
  }
  // A link: the file at the end of it, which must exist and be regular.
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved || ::stat(resolved.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = NotRegularFileReason;
    return false;
  }
  target = resolved.get();
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view data, std::string& error,
                         const TFileWriteCalls& calls)
{
  std::string target;
  if (!RegularFileTarget(path, target, error)) return false;

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = Reason(errno);
    return false;
  }

  int err = 0;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
  bool ok = WriteAll(calls, fd, data, err);
  if (ok && calls.Sync(fd) != 0) ok = false, err = errno;
  if (::close(fd) != 0 && ok) ok = false, err = errno;
  // The target may have changed kind while the temporary file was written.
  if (ok && ::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    ::unlink(temp.c_str());
    error = NotRegularFileReason;
    return false;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false, err = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    error = Reason(err);
    return false;
  }
  // Make the rename itself durable; a failure here loses nothing already written.
  const int dfd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace brontel
