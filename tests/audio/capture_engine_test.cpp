// The capture engine against a driver with no sound behind it.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "audio/capture_engine.h"
#include "audio/fake_wave_in.h"
#include "core/receiver.h"

namespace brontel {
namespace {

struct TErrorLog final : TErrorReporter {
  void ShowError(std::string_view a, std::string_view b) override
  {
    Shown.push_back(std::string(a) + "\n" + std::string(b));
  }
  std::vector<std::string> Shown;
};

const std::string OpenBox = std::string(OpenFailedLine1) + "\n" + std::string(OpenFailedLine2);
const std::string BufferBox = std::string(BufferFailedLine1) + "\n" + std::string(BufferFailedLine2);

// The engine with its messages collected as the user-interface thread would
// receive them.
struct TEngineTest : ::testing::Test {
  test::TFakeDriver Driver;
  TErrorLog Errors;
  std::vector<uint64_t> Posted;
  TCaptureEngine Engine{Driver, Errors, [this](uint64_t g) { Posted.push_back(g); }};

  // Handles every waiting message; returns the first sample of each block taken.
  std::vector<int16_t> Dispatch()
  {
    std::vector<int16_t> taken;
    const std::vector<uint64_t> waiting = std::move(Posted);
    Posted.clear();
    for (uint64_t g : waiting)
      if (Engine.IsCurrent(g)) taken.push_back(Engine.TakeBlock()[0]);
    return taken;
  }

  std::vector<std::string> LogSince(std::size_t from) const
  {
    return {Driver.Log.begin() + static_cast<long>(from), Driver.Log.end()};
  }
};

TEST(CaptureFormat, IsPcm44100Stereo16)
{
  const TWaveFormat f = MakeCaptureFormat();
  EXPECT_EQ(f.Channels, 2);
  EXPECT_EQ(f.SamplesPerSec, 44100u);
  EXPECT_EQ(f.BlockAlign, 4);
  EXPECT_EQ(f.BitsPerSample, 16);
}

TEST_F(TEngineTest, OpenQueuesTheWholeRingInSlotOrderBeforeStarting)
{
  ASSERT_TRUE(Engine.OpenCapture(0));
  EXPECT_EQ(Driver.LastDeviceId, WaveMapper);
  std::vector<std::string> expected{"open -1"};
  for (int i = 0; i < HeaderCount; ++i) {
    expected.push_back("prepare " + std::to_string(i));
    expected.push_back("add " + std::to_string(i));
  }
  expected.push_back("start");
  EXPECT_EQ(Driver.Log, expected);
  EXPECT_EQ(Driver.Device->Queued(), static_cast<std::size_t>(HeaderCount));
  EXPECT_EQ(Driver.Device->QueueTail()->BufferLength, static_cast<uint32_t>(BlockBytes));
  EXPECT_TRUE(Errors.Shown.empty());
  EXPECT_TRUE(Posted.empty()) << "the open notification is not a block";

  // Rows of the device list map to device ids one lower.
  ASSERT_TRUE(Engine.OpenCapture(2));
  EXPECT_EQ(Driver.LastDeviceId, 1);
}

TEST_F(TEngineTest, BlocksComeInRingOrderAndAreHandedBackToTheEndOfTheQueue)
{
  ASSERT_TRUE(Engine.OpenCapture(0));
  std::vector<int16_t> expected, got;
  // 70 blocks: more than twice round the ring, in bursts as a busy thread would see them.
  for (int burst = 0; burst < 7; ++burst) {
    for (int k = 0; k < 10; ++k) {
      const auto value = static_cast<int16_t>(burst * 10 + k + 1);
      ASSERT_TRUE(Driver.Device->FillNext(value));
      expected.push_back(value);
    }
    const std::size_t before = Driver.Log.size();
    const int slot = Engine.NextHeader();
    const std::vector<int16_t> taken = Dispatch();
    got.insert(got.end(), taken.begin(), taken.end());
    EXPECT_EQ(Engine.NextHeader(), (slot + 10) % HeaderCount);
    // Each block went straight back to the device, at the end of its queue.
    EXPECT_EQ(Driver.Device->Queued(), static_cast<std::size_t>(HeaderCount));
    EXPECT_EQ(LogSince(before).front(), "prepare " + std::to_string(slot));
    EXPECT_EQ(LogSince(before)[1], "add " + std::to_string(slot));
  }
  EXPECT_EQ(got, expected);
  // Check the contents of a fresh run of blocks.
  Driver.Device->FillNext(-7);
  Driver.Device->FillNext(32767);
  EXPECT_EQ(Dispatch(), (std::vector<int16_t>{-7, 32767}));
  Driver.Device->FillNext(1234);
  ASSERT_EQ(Posted.size(), 1u);
  ASSERT_TRUE(Engine.IsCurrent(Posted[0]));
  const auto block = Engine.TakeBlock();
  for (int16_t s : block) ASSERT_EQ(s, 1234);
}

TEST_F(TEngineTest, TheBlockIsCopiedOutBeforeTheDeviceCanRefillIt)
{
  // A queue that has run dry gets the handed-back buffer as its only one and
  // writes into it at once.
  Driver.ScribbleOnAdd = true;
  ASSERT_TRUE(Engine.OpenCapture(0));
  for (int k = 0; k < HeaderCount; ++k) Driver.Device->FillNext(static_cast<int16_t>(100 + k));
  for (uint64_t g : Posted) {
    const int slot = Engine.NextHeader();
    const auto block = Engine.TakeBlock();
    ASSERT_EQ(block[0], 100 + slot);
    ASSERT_EQ(block[BlockSamples - 1], 100 + slot);
    (void)g;
  }
}

TEST_F(TEngineTest, AnInputThatCannotBeOpenedIsReportedAndLeavesNothingOpen)
{
  // Row 3 is device id 2, beyond the two devices installed.
  EXPECT_FALSE(Engine.OpenCapture(3));
  EXPECT_EQ(Driver.LastDeviceId, 2);
  EXPECT_EQ(Errors.Shown, std::vector<std::string>{OpenBox});
  EXPECT_FALSE(Engine.IsOpen());
  EXPECT_EQ(Driver.Log, std::vector<std::string>{"open 2"});

  // A negative row (a damaged setting) is an unknown device, not an overflow.
  EXPECT_FALSE(Engine.OpenCapture(INT32_MIN));
  EXPECT_FALSE(Engine.OpenCapture(-1));
  EXPECT_LT(Driver.LastDeviceId, WaveMapper);
  EXPECT_EQ(Errors.Shown.size(), 3u);

  // Closing what is not open calls nothing.
  const std::size_t calls = Driver.Log.size();
  EXPECT_TRUE(Engine.CloseCapture());
  EXPECT_EQ(Driver.Log.size(), calls);
}

TEST_F(TEngineTest, ABufferThatCannotBeSetUpIsReportedAndOnlyTheSlotsSetUpAreReleased)
{
  struct TCase {
    int FailPrepareAt, FailAddAt, SlotsPrepared;
  };
  for (const TCase c : {TCase{5, -1, 5}, TCase{-1, 7, 8}, TCase{0, -1, 0}}) {
    SCOPED_TRACE(testing::Message() << "prepare fails at " << c.FailPrepareAt << ", add at " << c.FailAddAt);
    Driver.FailPrepareAt = c.FailPrepareAt;
    Driver.FailAddAt = c.FailAddAt;
    Errors.Shown.clear();
    EXPECT_FALSE(Engine.OpenCapture(1));
    EXPECT_EQ(Errors.Shown, std::vector<std::string>{BufferBox});
    // Open but not recording: no start, and no block message is accepted.
    EXPECT_TRUE(Engine.IsOpen());
    EXPECT_FALSE(Engine.IsRecording());
    EXPECT_EQ(Driver.Log.back().rfind("start", 0), std::string::npos);
    EXPECT_FALSE(Engine.IsCurrent(Engine.Generation()));

    const std::size_t before = Driver.Log.size();
    EXPECT_TRUE(Engine.CloseCapture());
    std::vector<std::string> expected{"stop", "reset"};
    for (int i = 0; i < c.SlotsPrepared; ++i) expected.push_back("unprepare " + std::to_string(i));
    expected.push_back("close");
    EXPECT_EQ(LogSince(before), expected);
    EXPECT_FALSE(Engine.IsOpen());
    Dispatch();
  }
}

TEST_F(TEngineTest, MessagesOfAClosedOpenAreDroppedAndAReopenStartsAtSlotZero)
{
  ASSERT_TRUE(Engine.OpenCapture(0));
  for (int k = 0; k < 5; ++k) Driver.Device->FillNext(static_cast<int16_t>(k));
  EXPECT_EQ(Dispatch().size(), 5u);
  for (int k = 0; k < 3; ++k) Driver.Device->FillNext(static_cast<int16_t>(50 + k));
  // Three blocks are waiting when the device closes; the reset hands back the
  // other 29 buffers with a message each.
  const std::size_t before = Driver.Log.size();
  EXPECT_TRUE(Engine.CloseCapture());
  EXPECT_EQ(Posted.size(), static_cast<std::size_t>(HeaderCount));
  std::vector<std::string> expected{"stop", "reset"};
  for (int i = 0; i < HeaderCount; ++i) expected.push_back("unprepare " + std::to_string(i));
  expected.push_back("close");
  EXPECT_EQ(LogSince(before), expected);
  EXPECT_EQ(Engine.NextHeader(), 0);

  // While closed, and after the next open, the old messages take no block.
  const std::vector<uint64_t> stale = Posted;
  EXPECT_TRUE(Dispatch().empty());
  ASSERT_TRUE(Engine.OpenCapture(0));
  Posted = stale;
  EXPECT_TRUE(Dispatch().empty());
  EXPECT_EQ(Engine.NextHeader(), 0);

  // The first block of the new open is slot 0's.
  Driver.Device->FillNext(99);
  EXPECT_EQ(Dispatch(), std::vector<int16_t>{99});
  EXPECT_EQ(Engine.NextHeader(), 1);
}

TEST_F(TEngineTest, OpenAndCloseNotificationsAreNoBlocks)
{
  ASSERT_TRUE(Engine.OpenCapture(0));
  Driver.Device->Notify(TWaveInMsg::Open);
  Driver.Device->Notify(TWaveInMsg::Close);
  EXPECT_TRUE(Posted.empty());
  Engine.CloseCapture();
  EXPECT_EQ(Posted.size(), static_cast<std::size_t>(HeaderCount)) << "only the reset's blocks";
}

TEST_F(TEngineTest, DestroyingTheEngineClosesTheDevice)
{
  {
    TCaptureEngine other(Driver, Errors, [](uint64_t) {});
    ASSERT_TRUE(other.OpenCapture(0));
  }
  EXPECT_EQ(Driver.Log.back(), "close");
  EXPECT_EQ(Driver.Device, nullptr);
}

TEST_F(TEngineTest, SoundLostWhileTheRingWasFullIsCountedBeforeTheFirstBlockAfterIt)
{
  auto rx = std::make_unique<TReceiver>();
  std::vector<std::string> seen;  // gaps and blocks in the order the receiver sees them
  Engine.SetGapHandler([&](int blocks) { seen.push_back("gap " + std::to_string(blocks)); });
  auto process = [&] {
    const std::vector<uint64_t> waiting = std::move(Posted);
    Posted.clear();
    for (uint64_t g : waiting)
      if (Engine.ProcessWaveBlock(g, [&](std::span<const int16_t, BlockSamples> b) { ProcessBlock(*rx, b); }))
        seen.push_back("block");
  };
  ASSERT_TRUE(Engine.OpenCapture(0));
  for (int k = 0; k < HeaderCount; ++k) ASSERT_TRUE(Driver.Device->FillNext(1));
  EXPECT_FALSE(Driver.Device->FillNext(2)) << "the ring is full";
  Driver.Device->Drop(5 * BlockBytes + 1);  // five blocks and a little more
  process();
  EXPECT_EQ(seen, std::vector<std::string>(HeaderCount, "block")) << "the blocks before the gap are whole";
  EXPECT_EQ(Engine.BlocksLost(), 0u);

  seen.clear();
  ASSERT_TRUE(Driver.Device->FillNext(3));
  ASSERT_TRUE(Driver.Device->FillNext(4));
  process();
  EXPECT_EQ(seen, (std::vector<std::string>{"gap 6", "block", "block"}));
  EXPECT_EQ(Engine.BlocksLost(), 6u);
  EXPECT_EQ(Engine.BlocksLostBeforeLastBlock(), 0);

  Driver.Device->Drop(100);
  ASSERT_TRUE(Driver.Device->FillNext(5));
  process();
  EXPECT_EQ(Engine.BlocksLostBeforeLastBlock(), 1);
  EXPECT_EQ(Engine.BlocksLost(), 7u) << "the total of every gap";
}

TEST(InputDevices, NamesInDeviceOrderFromOneLookOrNoneAtAll)
{
  test::TFakeDriver driver;
  driver.Names = {"A", "B", "C", "D"};
  EXPECT_EQ(InputDeviceNames(driver), (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(driver.ListCalls, 1);
  driver.FailList = true;
  EXPECT_TRUE(InputDeviceNames(driver).empty());
  driver.FailList = false;
  driver.Names.clear();
  EXPECT_TRUE(InputDeviceNames(driver).empty());
}

}  // namespace
}  // namespace brontel
