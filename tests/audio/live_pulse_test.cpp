// Live input from a real PulseAudio server: the default server of the tests
// (scripts/pulse-test-server.sh, PULSE_SERVER set; skipped without one) and a
// private server of the test's own that it stops and starts again.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/live_source.h"
#include "decoder/cp932.h"
#include "messages/store.h"
#include "audio/private_server.h"
#include "support/harness.h"
#include "support/test_audio.h"

namespace brontel {
namespace {

using test::Quoted;
using test::TPrivateServer;

using namespace std::chrono_literals;
namespace fs = std::filesystem;




// Notices collected from the reading thread, looked at from the test's.
class TNotices {
public:
  void Add(const std::string& s)
  {
    std::lock_guard lock(M);
    All.push_back(s);
  }
  // Whether a notice starting with `prefix` came within `limit`.
  bool WaitFor(const std::string& prefix, std::chrono::milliseconds limit)
  {
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
      {
        std::lock_guard lock(M);
        for (const std::string& s : All)
          if (s.rfind(prefix, 0) == 0) return true;
      }
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }
  std::vector<std::string> Copy()
  {
    std::lock_guard lock(M);
    return All;
  }

private:
  std::mutex M;
  std::vector<std::string> All;
};

TEST(LivePulse, APlayedEmissionIsDecodedFromTheMonitor)
{
  REQUIRE_SERVER();
  const std::string text = "ZCZC LP01\nHEADLESS WATCH 0123456789\nNNNN\n";
  const fs::path wav = fs::temp_directory_path() / ("brontel-live-src-" + std::to_string(getpid()) + ".wav");
  test::WriteStereoWav(wav.string(), test::EnglishEmission(text), /*copyToRight=*/true);

  TNotices notices;
  TLiveOptions o;
  o.Device = "monitor";  // the test server's only source, found by a part of its name
  o.OnNotice = [&](const std::string& s) { notices.Add(s); };
  int gaps = 0;
  o.OnGap = [&](int) { ++gaps; };
  auto driver = MakePulseWaveInDriver();
  TLiveSource live(*driver, std::move(o));
  ASSERT_TRUE(live.Open());

  std::atomic<bool> played{false};
  int playStatus = -1;
  std::thread player([&] {
    playStatus = std::system(("paplay " + Quoted(wav.string())).c_str());
    played = true;
  });
  test::THarness h(800.0);
  TBlock block;
  int afterPlay = 0, blocks = 0;
  while (live.ReadBlock(block)) {
    h.Session.ProcessBlock(block);
    if (++blocks > 400) live.RequestStop();  // 40 s: something is wrong
    if (played && ++afterPlay == 10) live.RequestStop();
  }
  player.join();
  fs::remove(wav);

  EXPECT_EQ(playStatus, 0);
  EXPECT_EQ(Cp932ToUtf8(h.Text()), text);
  EXPECT_TRUE(live.Error().empty());
  EXPECT_FALSE(live.IsOpen());
  EXPECT_EQ(gaps, 0);
  const std::vector<std::string> said = notices.Copy();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].rfind("recording from input device ", 0), 0u) << said[0];
}


TEST(LivePulse, AServerLateAtTheStartThenLostAndBackIsWaitedForAndToldOf)
{
  REQUIRE_SERVER();
  TPrivateServer server(fs::temp_directory_path() / ("brontel-live-loss-" + std::to_string(getpid())));
  const char* old = std::getenv("PULSE_SERVER");
  const std::string outer = old ? old : "";
  setenv("PULSE_SERVER", server.Address().c_str(), 1);

  TNotices notices;
  TLiveOptions o;
  o.OnNotice = [&](const std::string& s) { notices.Add(s); };
  o.QuietMs = 1500;
  auto driver = MakePulseWaveInDriver();
  TLiveSource live(*driver, std::move(o));
  std::atomic<int> blocks{0};
  std::thread reader([&] {
    TBlock block;
    while (live.ReadBlock(block)) ++blocks;
  });
  auto blocksWithin = [&](int n, std::chrono::milliseconds limit) {
    const int from = blocks;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (blocks - from < n && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
    return blocks - from >= n;
  };

  EXPECT_TRUE(notices.WaitFor("cannot record from the standard input device (no sound server answers)", 3000ms));
  ASSERT_TRUE(server.Start());
  EXPECT_TRUE(notices.WaitFor("recording from the standard input device", 4000ms));
  EXPECT_TRUE(blocksWithin(5, 3000ms)) << "no blocks from the server that came";

  server.Stop();
  EXPECT_TRUE(notices.WaitFor("no sound from the input for ", 3000ms));
  ASSERT_TRUE(server.Start());
  EXPECT_TRUE(notices.WaitFor("sound from the input again after ", 6000ms));
  EXPECT_TRUE(blocksWithin(5, 3000ms)) << "no blocks from the restarted server";

  live.RequestStop();
  reader.join();
  setenv("PULSE_SERVER", outer.c_str(), 1);
  EXPECT_TRUE(live.Error().empty());
  EXPECT_FALSE(live.IsOpen());
  // Each event told once, in order.
  const std::vector<std::string> said = notices.Copy();
  const std::vector<std::string> starts{"cannot record from", "recording from", "no sound from the input",
                                        "sound from the input again"};
  ASSERT_EQ(said.size(), starts.size()) << ::testing::PrintToString(said);
  for (std::size_t i = 0; i < said.size(); ++i) EXPECT_EQ(said[i].rfind(starts[i], 0), 0u) << said[i];
}

}  // namespace
}  // namespace brontel

namespace brontel {
namespace {

// brontel-decode as an unattended receiver: it records until SIGTERM, then
// writes what it holds and stores the message it received.
TEST(LivePulse, TheHeadlessReceiverFinishesCleanlyOnSigterm)
{
  REQUIRE_SERVER();
  const fs::path dir = fs::temp_directory_path() / ("brontel-live-rx-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path wav = dir / "emission.wav", out = dir / "out.txt", store = dir / "messages.sqlite";
  test::WriteStereoWav(wav.string(), test::EnglishEmission("ZCZC OA07\nNAVIGATIONAL WARNING\nNNNN\nLAST"), true);

  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const std::string bin = BRONTEL_BINARY_DIR "/tools/brontel-decode";
    std::freopen(out.c_str(), "w", stdout);
    ::execl(bin.c_str(), bin.c_str(), "--live", "monitor", "--messages", "--store", store.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::this_thread::sleep_for(1500ms);  // the receiver opens its input
  EXPECT_EQ(std::system(("paplay " + Quoted(wav.string())).c_str()), 0);
  std::this_thread::sleep_for(1000ms);
  ::kill(pid, SIGTERM);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::ifstream in(out);
  const std::string printed((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(printed.find("OA07  station O  subject A"), std::string::npos) << printed;
  EXPECT_NE(printed.find("NAVIGATIONAL WARNING"), std::string::npos) << printed;
  EXPECT_NE(printed.find("LAST"), std::string::npos) << "the unfinished line is written at the end:\n" << printed;
  std::string error;
  auto stored = msg::TMessageStore::Open(store.string(), msg::TMessageStore::TMode::Existing, error);
  ASSERT_TRUE(stored) << error;
  std::vector<msg::TMessage> found;
  ASSERT_TRUE(stored->Find("OA07", found, error)) << error;
  EXPECT_EQ(found.size(), 1u);
  stored.reset();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace brontel
