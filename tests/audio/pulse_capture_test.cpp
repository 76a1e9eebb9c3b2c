// Wave input and the capture engine on a real PulseAudio server.
//
// Most cases need a server whose default source is the monitor of a null sink
// (scripts/pulse-test-server.sh starts one and sets PULSE_SERVER); without
// PULSE_SERVER, or when nothing answers, they are skipped.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture_engine.h"
#include "decoder/cp932.h"
#include "signal/navtex_signal.h"
#include "audio/private_server.h"
#include "support/harness.h"
#include "support/test_audio.h"

namespace brontel {
namespace {

using TBlockView = std::span<const int16_t, BlockSamples>;

using test::Quoted;
using test::TPrivateServer;

using namespace std::chrono_literals;
namespace fs = std::filesystem;



// Sets an environment variable for one scope.
class TEnv {
public:
  TEnv(const char* name, const std::string& value) : Name(name)
  {
    if (const char* old = std::getenv(name)) Old = old, HadOld = true;
    setenv(name, value.c_str(), 1);
  }
  ~TEnv()
  {
    if (HadOld)
      setenv(Name, Old.c_str(), 1);
    else
      unsetenv(Name);
  }

private:
  const char* Name;
  std::string Old;
  bool HadOld = false;
};

struct TErrorLog final : TErrorReporter {
  void ShowError(std::string_view a, std::string_view b) override
  {
    Shown.push_back(std::string(a) + "\n" + std::string(b));
  }
  std::vector<std::string> Shown;
};
const std::string OpenBox = std::string(OpenFailedLine1) + "\n" + std::string(OpenFailedLine2);

// The user-interface thread's message queue, as far as block messages go.
class TMailbox {
public:
  void Post(uint64_t generation)
  {
    {
      std::lock_guard lock(M);
      Q.push_back(generation);
    }
    Cv.notify_one();
  }
  bool Take(uint64_t& generation, std::chrono::milliseconds timeout)
  {
    std::unique_lock lock(M);
    if (!Cv.wait_for(lock, timeout, [&] { return !Q.empty(); })) return false;
    generation = Q.front();
    Q.pop_front();
    return true;
  }

private:
  std::mutex M;
  std::condition_variable Cv;
  std::deque<uint64_t> Q;
};

// Records the notifications of a wave-input device.
struct TRecorder {
  std::mutex M;
  std::condition_variable Cv;
  std::vector<TWaveInMsg> Msgs;
  std::vector<TWaveHeader*> Done;
  std::thread::id Owner = std::this_thread::get_id();
  bool OnOwnerThread = false;

  static void Proc(TWaveIn&, TWaveInMsg msg, void* instance, TWaveHeader* h)
  {
    auto* r = static_cast<TRecorder*>(instance);
    {
      std::lock_guard lock(r->M);
      r->Msgs.push_back(msg);
      if (std::this_thread::get_id() == r->Owner) r->OnOwnerThread = true;
      if (msg == TWaveInMsg::Data) {
        r->Done.push_back(h);
      }
    }
    r->Cv.notify_all();
  }
  std::size_t Count()
  {
    std::lock_guard lock(M);
    return Done.size();
  }
  bool WaitFor(std::size_t n)
  {
    std::unique_lock lock(M);
    return Cv.wait_for(lock, 10s, [&] { return Done.size() >= n; });
  }
};

TEST(PulseWaveIn, WithoutAServerNothingOpensAndNoDeviceIsListed)
{
  const fs::path nowhere = fs::temp_directory_path() / ("brontel-no-server-" + std::to_string(getpid()));
  TEnv env("PULSE_SERVER", "unix:" + (nowhere / "native").string());
  auto driver = MakePulseWaveInDriver();
  std::vector<std::string> names{"stale"};
  EXPECT_NE(driver->ListDevices(names), TWaveResult::Ok);
  EXPECT_TRUE(names.empty());

  std::unique_ptr<TWaveIn> device;
  TRecorder rec;
  EXPECT_EQ(driver->Open(device, WaveMapper, MakeCaptureFormat(), &TRecorder::Proc, &rec),
            TWaveResult::NoDriver);
  EXPECT_EQ(device, nullptr);

  TErrorLog errors;
  TCaptureEngine engine(*driver, errors, [](uint64_t) {});
  EXPECT_FALSE(engine.OpenCapture(0));
  EXPECT_EQ(errors.Shown, std::vector<std::string>{OpenBox});
  EXPECT_FALSE(engine.IsOpen());
}

TEST(PulseWaveIn, DevicesAreTheSourcesWithTheSinkMonitor)
{
  REQUIRE_SERVER();
  auto driver = MakePulseWaveInDriver();
  const std::vector<std::string> names = InputDeviceNames(*driver);
  ASSERT_FALSE(names.empty());
  int monitor = -1;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i].rfind("Monitor of ", 0) == 0) monitor = static_cast<int>(i);
  ASSERT_GE(monitor, 0) << "no monitor source listed";
  if (std::getenv("BRONTEL_PULSE_DIR")) {  // our own test server
    EXPECT_EQ(names[static_cast<std::size_t>(monitor)], "Monitor of Brontel-Test-Output");
  }
  // The same order every time.
  EXPECT_EQ(InputDeviceNames(*driver), names);

  // The monitor opens by its id; the id after the last does not.
  std::unique_ptr<TWaveIn> device;
  TRecorder rec;
  EXPECT_EQ(driver->Open(device, monitor, MakeCaptureFormat(), &TRecorder::Proc, &rec), TWaveResult::Ok);
  device.reset();
  EXPECT_EQ(driver->Open(device, static_cast<int>(names.size()), MakeCaptureFormat(), &TRecorder::Proc, &rec),
            TWaveResult::BadDeviceId);
  EXPECT_EQ(device, nullptr);

  TWaveFormat odd = MakeCaptureFormat();
  odd.BitsPerSample = 24;
  EXPECT_EQ(driver->Open(device, WaveMapper, odd, &TRecorder::Proc, &rec), TWaveResult::BadFormat);
  odd = MakeCaptureFormat();
  odd.BlockAlign = 3;
  EXPECT_EQ(driver->Open(device, WaveMapper, odd, &TRecorder::Proc, &rec), TWaveResult::BadFormat);
  EXPECT_EQ(device, nullptr);

  // Through the engine: row n + 1 is beyond the list.
  TErrorLog errors;
  TCaptureEngine engine(*driver, errors, [](uint64_t) {});
  EXPECT_FALSE(engine.OpenCapture(static_cast<int32_t>(names.size()) + 1));
  EXPECT_EQ(errors.Shown, std::vector<std::string>{OpenBox});
  EXPECT_TRUE(engine.OpenCapture(monitor + 1));
}

TEST(PulseWaveIn, BuffersFillInQueueOrderAndResetHandsBackTheRest)
{
  REQUIRE_SERVER();
  auto driver = MakePulseWaveInDriver();
  std::unique_ptr<TWaveIn> device;
  TRecorder rec;
  ASSERT_EQ(driver->Open(device, WaveMapper, MakeCaptureFormat(), &TRecorder::Proc, &rec), TWaveResult::Ok);

  constexpr int Count = 8;
  constexpr uint32_t Length = 4410;  // 25 ms
  std::vector<std::vector<uint8_t>> memory(Count, std::vector<uint8_t>(Length));
  std::vector<TWaveHeader> headers(Count);
  TWaveHeader loose;
  loose.Data = memory[0].data();
  loose.BufferLength = Length;
  EXPECT_EQ(device->AddBuffer(loose), TWaveResult::Unprepared);
  for (int i = 0; i < Count; ++i) {
    headers[i].Data = memory[i].data();
    headers[i].BufferLength = Length;
    ASSERT_EQ(device->PrepareHeader(headers[i]), TWaveResult::Ok);
    ASSERT_EQ(device->AddBuffer(headers[i]), TWaveResult::Ok);
  }
  EXPECT_EQ(device->UnprepareHeader(headers[0]), TWaveResult::StillPlaying);
  EXPECT_EQ(device->AddBuffer(headers[0]), TWaveResult::StillPlaying);

  // Nothing is recorded before the start.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(rec.Count(), 0u);
  device->Start();
  ASSERT_TRUE(rec.WaitFor(3));
  device->Stop();
  const std::size_t stopped = rec.Count();
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(rec.Count(), stopped) << "a stopped device filled a buffer";
  ASSERT_LT(stopped, static_cast<std::size_t>(Count));

  device->Start();
  ASSERT_TRUE(rec.WaitFor(stopped + 1));
  device->Reset();
  // Every buffer came back exactly once, in queue order, by the time Reset returned.
  {
    std::lock_guard lock(rec.M);
    ASSERT_EQ(rec.Done.size(), static_cast<std::size_t>(Count));
    for (int i = 0; i < Count; ++i) {
      EXPECT_EQ(rec.Done[i], &headers[i]) << i;
      EXPECT_TRUE(headers[i].Flags & WaveHdrDone) << i;
      EXPECT_FALSE(headers[i].Flags & WaveHdrInQueue) << i;
    }
    EXPECT_FALSE(rec.OnOwnerThread) << "notifications come on a thread of the audio side";
    EXPECT_EQ(rec.Msgs.front(), TWaveInMsg::Open);
  }
  for (int i = 0; i < Count; ++i) EXPECT_EQ(device->UnprepareHeader(headers[i]), TWaveResult::Ok);

  device.reset();
  std::this_thread::sleep_for(100ms);
  std::lock_guard lock(rec.M);
  EXPECT_EQ(rec.Done.size(), static_cast<std::size_t>(Count)) << "a notification after the close";
  EXPECT_EQ(rec.Msgs.back(), TWaveInMsg::Close);
}

// A stereo 16-bit WAV file of `left` on both channels.
void WriteWav(const fs::path& path, const std::vector<int16_t>& left)
{
  test::WriteStereoWav(path.string(), left, /*copyToRight=*/true);
}


TEST(PulseCapture, PlayedNavtexIsDecodedFromTheMonitorBlockByBlockInRingOrder)
{
  REQUIRE_SERVER();
  const std::string text = "ZCZC AB01\nLIVE CAPTURE 0123456789\nNNNN\n";
  std::vector<uint8_t> codes;
  std::string error;
  ASSERT_TRUE(gen::EnglishCodes(text, codes, error)) << error;
  const std::vector<int16_t> pcm = test::EnglishEmission(text);
  const fs::path wav = fs::temp_directory_path() / ("brontel-live-" + std::to_string(getpid()) + ".wav");
  WriteWav(wav, pcm);

  test::THarness h(800.0);
  TMailbox mailbox;
  TErrorLog errors;
  auto driver = MakePulseWaveInDriver();
  TCaptureEngine engine(*driver, errors, [&](uint64_t g) { mailbox.Post(g); });
  ASSERT_TRUE(engine.OpenCapture(0)) << (errors.Shown.empty() ? "" : errors.Shown[0]);

  std::atomic<bool> played{false};
  int playStatus = -1;
  std::thread player([&] {
    playStatus = std::system(("paplay " + Quoted(wav.string())).c_str());
    played = true;
  });

  // The user-interface thread: one block per message, in ring order, until a
  // second after the player has finished.
  int processed = 0, outOfOrder = 0, afterPlay = 0;
  uint64_t g = 0;
  while (afterPlay < 10 && processed < 600) {
    if (!mailbox.Take(g, 2s)) break;
    const int expectedSlot = processed % HeaderCount;
    if (engine.NextHeader() != expectedSlot) ++outOfOrder;
    ASSERT_TRUE(engine.ProcessWaveBlock(g, [&](std::span<const int16_t, BlockSamples> b) { ProcessBlock(*h.Rx, b); }));
    ++processed;
    if (played) ++afterPlay;
  }
  player.join();
  engine.CloseCapture();
  fs::remove(wav);

  EXPECT_EQ(playStatus, 0);
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_EQ(afterPlay, 10) << "blocks stopped coming";
  // The whole emission was recorded: about ten blocks a second.
  EXPECT_GE(processed, static_cast<int>(pcm.size() / FramesPerBlock));
  EXPECT_EQ(Cp932ToUtf8(h.Text()), text);
  EXPECT_TRUE(errors.Shown.empty());
}


TEST(PulseCapture, AStallLongerThanTheRingLosesSoundThatIsCounted)
{
  REQUIRE_SERVER();
  TMailbox mailbox;
  TErrorLog errors;
  auto driver = MakePulseWaveInDriver();
  TCaptureEngine engine(*driver, errors, [&](uint64_t g) { mailbox.Post(g); });
  int gaps = 0, lost = 0;
  engine.SetGapHandler([&](int blocks) { ++gaps, lost += blocks; });
  ASSERT_TRUE(engine.OpenCapture(0));
  TReceiver rx;

  // Nothing is taken for a second longer than the ring holds.
  std::this_thread::sleep_for(std::chrono::milliseconds(HeaderCount * 100 + 1000));
  uint64_t g = 0;
  int processed = 0;
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (gaps == 0 && std::chrono::steady_clock::now() < end)
    if (mailbox.Take(g, 50ms) && engine.ProcessWaveBlock(g, [&](TBlockView b) { ProcessBlock(rx, b); })) ++processed;
  EXPECT_EQ(gaps, 1);
  EXPECT_GE(processed, HeaderCount + 1) << "the full ring came first";
  EXPECT_GE(lost, 3);
  EXPECT_EQ(static_cast<uint64_t>(lost), engine.BlocksLost());
  EXPECT_EQ(engine.BlocksLostBeforeLastBlock(), lost);
}

TEST(PulseCapture, LosingTheServerStopsTheBlocksAndARestartedServerBringsThemBack)
{
  REQUIRE_SERVER();
  TPrivateServer server(fs::temp_directory_path() / ("brontel-pulse-loss-" + std::to_string(getpid())));
  ASSERT_TRUE(server.Start());
  TEnv env("PULSE_SERVER", server.Address());

  TMailbox mailbox;
  TErrorLog errors;
  auto driver = MakePulseWaveInDriver();
  TCaptureEngine engine(*driver, errors, [&](uint64_t g) { mailbox.Post(g); });
  ASSERT_TRUE(engine.OpenCapture(0));

  TReceiver rx;

  int processed = 0;
  // Handles messages for `span`, or until `enough` blocks have been
  // processed; returns how many were.
  auto pump = [&](std::chrono::milliseconds span, int enough = INT32_MAX) {
    const auto end = std::chrono::steady_clock::now() + span;
    int n = 0;
    uint64_t g = 0;
    while (n < enough && std::chrono::steady_clock::now() < end)
      if (mailbox.Take(g, 50ms) && engine.ProcessWaveBlock(g, [&](TBlockView b) { ProcessBlock(rx, b); })) ++n, ++processed;
    return n;
  };

  EXPECT_EQ(pump(5000ms, 5), 5);
  server.Stop();
  pump(500ms);  // blocks already on their way
  EXPECT_EQ(pump(1500ms), 0) << "blocks without a server";
  EXPECT_TRUE(errors.Shown.empty()) << "a loss while running is not reported";

  ASSERT_TRUE(server.Start());
  EXPECT_EQ(pump(8000ms, 5), 5) << "capture did not resume on the restarted server";
  EXPECT_EQ(engine.NextHeader(), processed % HeaderCount);

  // Closing with the server gone neither hangs nor fails.
  server.Stop();
  pump(200ms);
  EXPECT_TRUE(engine.CloseCapture());
  EXPECT_FALSE(engine.IsOpen());
  EXPECT_EQ(pump(200ms), 0);
}

}  // namespace
}  // namespace brontel
