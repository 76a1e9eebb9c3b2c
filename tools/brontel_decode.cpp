// brontel-decode: the receiver without a window. Reads a recording (or raw PCM
// on standard input, or the sound server's input), runs it block by block
// through a receiver session and prints the decoded text as it is received,
// the completed messages, or the bits of every block.
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>

#include "decode_options.h"
#include "decode_run.h"
#include "tool_files.h"

int main(int argc, char** argv)
{
  using namespace brontel::decode;
  // A reader that goes away (`| head`) makes writes fail with EPIPE, which is
  // said and ends the run cleanly, its open messages stored.
  std::signal(SIGPIPE, SIG_IGN);
  TDecodeOptions options;
  if (const std::optional<int> status = ParseOptions(argc, argv, options)) return *status;
  try {
    return Decode(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brontel-decode: %s\n", e.what());
    return brontel::tool::ExitFailure;
  }
}
