// A PulseAudio server of a test's own (scripts/pulse-test-server.sh in a
// folder of the test's), which the test may stop and start again.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "audio/wave_in.h"

namespace brontel::test {

// Whether the tests' sound server (PULSE_SERVER) answers and has a source.
inline bool ServerAnswers()
{
  const char* server = std::getenv("PULSE_SERVER");
  if (!server || !*server) return false;
  std::vector<std::string> names;
  return MakePulseWaveInDriver()->ListDevices(names) == TWaveResult::Ok && !names.empty();
}

// Skips a test that needs the tests' sound server when it does not answer.
#define REQUIRE_SERVER()                                                        \
  do {                                                                          \
    if (!::brontel::test::ServerAnswers())                                      \
      GTEST_SKIP() << "no PulseAudio server (PULSE_SERVER unset or silent)";   \
  } while (0)

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

class TPrivateServer {
public:
  explicit TPrivateServer(std::filesystem::path dir) : Dir(std::move(dir)) {}
  ~TPrivateServer() { Stop(); }
  bool Start() { return Run("start") == 0; }
  void Stop() { Run("stop"); }
  std::string Address() const { return "unix:" + (Dir / "native").string(); }

private:
  int Run(const char* verb)
  {
    const std::string cmd = Quoted(std::string(BRONTEL_SOURCE_DIR) + "/scripts/pulse-test-server.sh") + " " +
                            verb + " " + Quoted(Dir.string()) + " >/dev/null";
    return std::system(cmd.c_str());
  }
  std::filesystem::path Dir;
};

}  // namespace brontel::test
