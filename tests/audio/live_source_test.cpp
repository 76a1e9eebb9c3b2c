// Live input as a block source, against a driver with no sound behind it. The
// fake device is driven from the reading thread only: blocks are filled before
// they are read, at most a ring's worth at a time.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "audio/fake_wave_in.h"
#include "audio/live_source.h"
#include "decoder/cp932.h"
#include "support/harness.h"
#include "support/test_audio.h"

namespace brontel {
namespace {

using namespace std::chrono_literals;

struct TLiveTest : ::testing::Test {
  test::TFakeDriver Driver;
  std::vector<std::string> Notices;
  std::vector<int> Gaps;

  TLiveOptions Options()
  {
    TLiveOptions o;
    o.OnNotice = [this](const std::string& s) { Notices.push_back(s); };
    o.OnGap = [this](int lost) { Gaps.push_back(lost); };
    o.RetryMs = 10;
    return o;
  }
  int Opens() const
  {
    return static_cast<int>(std::count_if(Driver.Log.begin(), Driver.Log.end(),
                                          [](const std::string& s) { return s.rfind("open", 0) == 0; }));
  }
};

// Reads until ReadBlock ends on another thread, which must happen within
// `limit` after `stop` is run on this one.
template <class F>
bool EndsPromptly(TLiveSource& live, F stop, std::vector<int16_t>& firstSamples, std::chrono::seconds limit = 5s)
{
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    TBlock block;
    while (live.ReadBlock(block)) firstSamples.push_back(block[0]);
    ended = true;
  });
  std::this_thread::sleep_for(100ms);  // the reader is waiting by now, most likely
  stop();
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ended && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
  const bool ok = ended;
  if (!ok) live.RequestStop();
  reader.join();
  return ok;
}

TEST_F(TLiveTest, AnEmissionThroughTheDeviceIsDecodedBlockByBlockInOrder)
{
  const std::string text = "ZCZC FE01\nLIVE SOURCE 0123456789\nNNNN\n";
  const std::vector<int16_t> mono = test::EnglishEmission(text);
  std::vector<int16_t> stereo(mono.size() * 2);
  for (std::size_t i = 0; i < mono.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = mono[i];

  TLiveSource live(Driver, Options());
  ASSERT_TRUE(live.Open());
  test::THarness h(800.0);
  TBlock block;
  std::size_t at = 0;
  while (at < stereo.size()) {
    int filled = 0;
    for (; filled < HeaderCount && at < stereo.size(); ++filled, at += BlockSamples) {
      const std::size_t n = std::min<std::size_t>(BlockSamples, stereo.size() - at);
      ASSERT_TRUE(Driver.Device->FillNextWith({stereo.data() + at, n}));
    }
    for (int i = 0; i < filled; ++i) {
      ASSERT_TRUE(live.ReadBlock(block));
      h.Session.ProcessBlock(block);
    }
  }
  EXPECT_EQ(Cp932ToUtf8(h.Text()), text);
  EXPECT_EQ(Opens(), 1);
  EXPECT_EQ(Notices, std::vector<std::string>{"recording from the standard input device"});
  EXPECT_TRUE(Gaps.empty());
  EXPECT_EQ(live.BlocksLost(), 0u);
}

TEST_F(TLiveTest, AStopHandsOverWhatWasRecordedThenClosesTheDevice)
{
  TLiveSource live(Driver, Options());
  ASSERT_TRUE(live.Open());
  for (int16_t v = 1; v <= 3; ++v) Driver.Device->FillNext(v);
  live.RequestStop();
  TBlock block;
  for (int16_t v = 1; v <= 3; ++v) {
    ASSERT_TRUE(live.ReadBlock(block));
    EXPECT_EQ(block[0], v);
    EXPECT_EQ(block[BlockSamples - 1], v);
  }
  EXPECT_FALSE(live.ReadBlock(block));
  EXPECT_EQ(Driver.Device, nullptr) << "the device is closed";
  EXPECT_FALSE(live.ReadBlock(block));
  EXPECT_EQ(Opens(), 1) << "nothing is opened after the stop";
  EXPECT_TRUE(live.Error().empty());
}

TEST_F(TLiveTest, AStopFromAnotherThreadOrASignalEndsAWaitingRead)
{
  {
    TLiveSource live(Driver, Options());
    ASSERT_TRUE(live.Open());
    Driver.Device->FillNext(7);
    std::vector<int16_t> read;
    EXPECT_TRUE(EndsPromptly(live, [&] { live.RequestStop(); }, read));
    EXPECT_EQ(read, std::vector<int16_t>{7});
  }
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    TLiveSource live(Driver, Options());
    ASSERT_TRUE(InstallStopSignals(live));
    std::vector<int16_t> read;
    EXPECT_TRUE(EndsPromptly(live, [&] { raise(signal); }, read)) << signal;
    EXPECT_TRUE(read.empty());
    EXPECT_TRUE(live.Error().empty());
  }
  // The destroyed source took its handlers with it.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  sigaction(SIGHUP, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST_F(TLiveTest, EveryOverrunIsReportedWithTheBlocksItLost)
{
  TLiveSource live(Driver, Options());
  ASSERT_TRUE(live.Open());
  TBlock block;
  Driver.Device->FillNext(1);
  Driver.Device->Drop(5 * BlockBytes + 1);  // a part of a block counts as one
  Driver.Device->FillNext(2);
  Driver.Device->Drop(10);
  Driver.Device->FillNext(3);
  Driver.Device->FillNext(4);
  std::vector<std::size_t> gapsBefore;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(live.ReadBlock(block));
    EXPECT_EQ(block[0], i + 1);
    gapsBefore.push_back(Gaps.size());
  }
  EXPECT_EQ(Gaps, (std::vector<int>{6, 1}));
  EXPECT_EQ(gapsBefore, (std::vector<std::size_t>{0, 1, 2, 2})) << "each gap comes with the block after it";
  EXPECT_EQ(live.BlocksLost(), 7u);

  // Without a gap handler the loss is still told.
  test::TFakeDriver other;
  TLiveOptions o = Options();
  o.OnGap = nullptr;
  TLiveSource quiet(other, std::move(o));
  ASSERT_TRUE(quiet.Open());
  other.Device->Drop(BlockBytes * 12);
  other.Device->FillNext(1);
  ASSERT_TRUE(quiet.ReadBlock(block));
  EXPECT_EQ(Notices.back(), "sound lost: 12 blocks (1.2 s)");
}

TEST(LiveDevices, RowsAndNamesOrNumbersChooseTheDevice)
{
  test::TFakeDriver driver;
  const std::vector<std::string> rows = ListDevices(driver);
  EXPECT_EQ(rows, (std::vector<std::string>{"standard input device", "Line In", "Microphone"}));
  driver.FailList = true;
  EXPECT_EQ(ListDevices(driver), std::vector<std::string>{"standard input device"});

  std::string error;
  EXPECT_EQ(FindDevice(rows, "2", error), 2);
  EXPECT_EQ(FindDevice(rows, "9", error), 9) << "a number is taken as it is";
  EXPECT_EQ(FindDevice(rows, "microphone", error), 2);
  EXPECT_EQ(FindDevice(rows, "PHONE", error), 2);
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(FindDevice(rows, "in", error), -1);
  EXPECT_EQ(error, "\"in\" matches several input devices: 0 (standard input device) 1 (Line In)");
  EXPECT_EQ(FindDevice(rows, "line in", error), 1) << "a whole name wins over parts";
  EXPECT_EQ(FindDevice(rows, "speaker", error), -1);
  EXPECT_EQ(error, "no input device matches \"speaker\"");
  EXPECT_EQ(FindDevice(rows, "99999999999", error), -1);
  EXPECT_FALSE(error.empty());
}

TEST_F(TLiveTest, TheChosenDeviceOpensAndAMissingOneGivesWayToTheStandardDevice)
{
  {
    TLiveOptions o = Options();
    o.Device = "micro";
    TLiveSource live(Driver, std::move(o));
    ASSERT_TRUE(live.Open());
    EXPECT_EQ(Driver.LastDeviceId, 1);
    EXPECT_EQ(live.InputIndex(), 2);
    EXPECT_EQ(Notices.back(), "recording from input device 2 (Microphone)");
  }
  for (const char* device : {"", "speaker"}) {
    Notices.clear();
    TLiveOptions o = Options();
    o.InputIndex = 7;
    o.Device = device;
    TLiveSource live(Driver, std::move(o));
    ASSERT_TRUE(live.Open());
    EXPECT_EQ(Driver.LastDeviceId, WaveMapper);
    EXPECT_EQ(live.InputIndex(), 0);
    ASSERT_EQ(Notices.size(), 2u);
    EXPECT_EQ(Notices[0], *device ? "no input device matches \"speaker\": using the standard input device"
                                  : "input device 7 not found: using the standard input device");
    EXPECT_EQ(Notices[1], "recording from the standard input device");
  }
}

TEST_F(TLiveTest, AMissingServerIsToldOnceAndTriedAgainUntilTheStop)
{
  Driver.FailOpen = TWaveResult::NoDriver;
  Driver.FailList = true;
  TLiveSource live(Driver, Options());
  std::vector<int16_t> read;
  auto stopLater = [&] {
    std::this_thread::sleep_for(200ms);
    live.RequestStop();
  };
  EXPECT_TRUE(EndsPromptly(live, stopLater, read));
  EXPECT_TRUE(read.empty());
  EXPECT_GE(Opens(), 3) << "tried again every RetryMs";
  EXPECT_EQ(Notices, std::vector<std::string>{
                         "cannot record from the standard input device (no sound server answers): "
                         "trying again every second"});
  EXPECT_TRUE(live.Error().empty());
}

TEST_F(TLiveTest, AnInputThatCanNeverOpenEndsTheReadingWithAnError)
{
  Driver.FailOpen = TWaveResult::BadFormat;
  TLiveSource live(Driver, Options());
  TBlock block;
  EXPECT_FALSE(live.ReadBlock(block));
  EXPECT_EQ(live.Error(), "cannot record from the standard input device: the recording format (44100 Hz, "
                          "16-bit stereo) is refused");
  ASSERT_EQ(Notices.size(), 1u);
  EXPECT_EQ(Notices[0], std::string(ErrorCaption) + ": " + std::string(OpenFailedLine1) + " " +
                            std::string(OpenFailedLine2));
  EXPECT_EQ(Opens(), 1);
  EXPECT_FALSE(live.ReadBlock(block));
  EXPECT_EQ(Opens(), 1);
}

}  // namespace
}  // namespace brontel
