// Any bytes as an audio file: the reader must open it or refuse it with one
// line naming the file, and read it to the end (or to a reported error)
// without crashing.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "io/block_source.h"

namespace {

// Enough to go through every path of the reader without spending the run on
// one long (or heavily resampled) file.
constexpr int MaxBlocks = 50;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
  const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::string error;
  auto source = brontel::OpenAudioFile(path, error);
  if (!source) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(error.find('\n') == std::string::npos);
    FUZZ_CHECK(error.find(path) != std::string::npos);
  } else {
    brontel::TBlock block;
    for (int i = 0; i < MaxBlocks && source->ReadBlock(block); ++i) {
    }
    FUZZ_CHECK(source->Error().find('\n') == std::string::npos);
  }
  source.reset();
  ::close(fd);
  return 0;
}
