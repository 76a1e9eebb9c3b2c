// The signal chain from PCM to bits: analytic answers for tones and silence,
// the bit clock, and the fast block processing against the plain reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "core/receiver.h"
#include "dsp/bandpass.h"
#include "dsp/bit_timing.h"
#include "dsp/decimate.h"
#include "dsp/discriminator.h"
#include "dsp/mixer.h"
#include "signal/navtex_signal.h"
#include "support/harness.h"
#include "support/reference_chain.h"

namespace brontel {
namespace {

using test::THarness;

std::vector<int16_t> Tone(double freq, double amplitude, double seconds)
{
  std::vector<int16_t> s(static_cast<std::size_t>(seconds * SampleRate));
  for (std::size_t n = 0; n < s.size(); ++n)
    s[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * freq * n / SampleRate)));
  return s;
}

// Peak of the band-pass output over the block after `blocks` blocks of a tone.
double BandPassPeak(double freq, double amplitude, double centF, int blocks = 6)
{
  TDecimator decim;
  TMixer mix;
  TBandPass band;
  const auto tone = Tone(freq, amplitude, blocks * 0.1);
  double peak = 0.0;
  std::array<double, FramesPerBlock> raw;
  std::array<double, BlockLen> decimated, mixed, out;
  for (int b = 0; b < blocks; ++b) {
    for (int j = 0; j < FramesPerBlock; ++j) raw[j] = tone[b * FramesPerBlock + j];
    Decimate(decim, raw, decimated);
    MixBlock(mix, centF, decimated, mixed);
    BandPassBlock(band, mixed, out);
    if (b == blocks - 1)
      for (int m = 0; m < BlockLen; ++m) peak = std::max(peak, std::abs(out[m]));
  }
  return peak;
}

TEST(FrontEnd, BandPassPassesTheTonePairAndRejectsTheRest)
{
  EXPECT_NEAR(BandPassPeak(885, 10000, 800) / 10000, 0.350, 0.004);
  EXPECT_NEAR(BandPassPeak(715, 10000, 800) / 10000, 0.354, 0.004);
  EXPECT_NEAR(BandPassPeak(800, 10000, 800) / 10000, 0.490, 0.004);
  EXPECT_LT(BandPassPeak(500, 10000, 800) / 10000, 0.0013);
  EXPECT_LT(BandPassPeak(1100, 10000, 800) / 10000, 0.0013);
  // The same pair at another centre frequency, including one above 1500 Hz.
  EXPECT_NEAR(BandPassPeak(685, 10000, 600) / 10000, 0.350, 0.006);
  EXPECT_GT(BandPassPeak(1885, 10000, 1800) / 10000, 0.2);  // less the anti-alias roll-off
}

// Mean of DiscBuf over the last block of a steady tone.
double SteadyDisc(double freq, double amplitude, double centF = 800)
{
  THarness h(centF);
  h.FeedPcm(Tone(freq, amplitude, 1.0));
  const auto& d = h.Ch().DiscBuf;
  double sum = 0.0;
  for (double v : d) sum += v;
  return sum / d.size();
}

TEST(FrontEnd, DiscriminatorGivesTheDeviationWhateverTheAmplitude)
{
  EXPECT_NEAR(SteadyDisc(885, 8000), 3084.7, 2.0);
  EXPECT_NEAR(SteadyDisc(715, 8000), -3084.7, 2.0);
  EXPECT_NEAR(SteadyDisc(800, 8000), 0.0, 2.0);
  EXPECT_NEAR(SteadyDisc(885, 16000), SteadyDisc(885, 8000), 0.5);
  EXPECT_NEAR(SteadyDisc(885, 4000), SteadyDisc(885, 8000), 0.5);
  EXPECT_NEAR(SteadyDisc(1285, 8000, 1200), 3084.7, 2.0);
}

TEST(FrontEnd, PhaseStepWrapsAroundMinusPi)
{
  EXPECT_NEAR(PhaseStep(-3.0, 3.0), -3.0 + TwoPi - 3.0, 1e-15);
  EXPECT_EQ(PhaseStep(1.0, 0.5), 0.5);
  EXPECT_EQ(InstantPhase(0.0, 1.0), 0.0);
  EXPECT_EQ(InstantPhase(1.0, 0.0), 0.0);
}

TEST(FrontEnd, SilenceGivesOneStartUpBitAndTheSilenceLevel)
{
  THarness h;
  h.FeedPcm(std::vector<int16_t>(FramesPerBlock * 20, 0));
  ASSERT_EQ(h.BitsPerBlock.size(), 20u);
  EXPECT_EQ(h.BitsPerBlock[0], 1);
  for (std::size_t b = 1; b < h.BitsPerBlock.size(); ++b) EXPECT_EQ(h.BitsPerBlock[b], 0) << "block " << b;
  EXPECT_EQ(h.Rx->Channels[0].SampleFlags[0], 0);
  EXPECT_NEAR(h.Ch().DiscBuf[440], -54436.38, 0.01);
  EXPECT_EQ(h.Sink.Lines.size(), 0u);
  EXPECT_TRUE(h.Ch().LineText.empty());
}

TEST(FrontEnd, FirstSampleAfterStartUpTakesABit)
{
  THarness h;
  h.FeedPcm(Tone(885, 8000, 0.1));
  EXPECT_EQ(h.Ch().SampleFlags[0], 1);
}

TEST(FrontEnd, SteadyToneRingsTheClockThenStops)
{
  THarness h;
  h.FeedPcm(Tone(885, 8000, 2.0));
  ASSERT_EQ(h.BitsPerBlock.size(), 20u);
  for (int b = 0; b < 13; ++b) {
    EXPECT_GE(h.BitsPerBlock[b], 9) << "block " << b;
    EXPECT_LE(h.BitsPerBlock[b], 10) << "block " << b;
  }
  EXPECT_EQ(h.BitsPerBlock[13], 4);
  for (int b = 14; b < 20; ++b) EXPECT_EQ(h.BitsPerBlock[b], 0) << "block " << b;
  for (uint8_t bit : h.AllBits) EXPECT_EQ(bit, 1);
}

std::vector<uint8_t> RandomBits(std::size_t n, uint32_t seed)
{
  std::mt19937 rng(seed);
  std::vector<uint8_t> bits(n);
  for (auto& b : bits) b = rng() & 1;
  return bits;
}

// Whether `taken` holds `sent` (after a few start-up bits) as a contiguous run.
bool ContainsAfterStart(const std::vector<uint8_t>& taken, const std::vector<uint8_t>& sent, std::size_t skipSent)
{
  const std::string t = test::BitString(taken);
  const std::string s = test::BitString(sent).substr(skipSent, sent.size() - skipSent - 5);
  return t.find(s) != std::string::npos;
}

TEST(FrontEnd, RandomDataComesOutAsTheTransmittedBits)
{
  for (double centF : {800.0, 500.0, 1000.0, 1700.0}) {
    gen::TFskParams p;
    p.CentF = centF;
    const auto sent = RandomBits(1000, 17);
    THarness h(centF);
    h.FeedPcm(gen::ModulateFsk(sent, p));
    EXPECT_TRUE(ContainsAfterStart(h.AllBits, sent, 10)) << "centre " << centF;
    for (std::size_t b = 2; b + 1 < h.BitsPerBlock.size(); ++b) {
      EXPECT_GE(h.BitsPerBlock[b], 9) << "centre " << centF << " block " << b;
      EXPECT_LE(h.BitsPerBlock[b], 10) << "centre " << centF << " block " << b;
    }
  }
}

TEST(FrontEnd, RandomDataSurvivesNoiseOffsetAndClockError)
{
  gen::TFskParams p;
  p.SnrDb = 12.0;
  p.Offset = 8.0;
  p.Baud = 99.75;
  const auto sent = RandomBits(1500, 3);
  THarness h;
  h.FeedPcm(gen::ModulateFsk(sent, p));
  EXPECT_TRUE(ContainsAfterStart(h.AllBits, sent, 20));
}

TEST(FrontEnd, RightChannelNeverChangesAnything)
{
  gen::TFskParams p;
  const auto left = gen::ModulateFsk(RandomBits(400, 5), p);
  std::vector<int16_t> right(left.size());
  std::mt19937 rng(9);
  for (auto& s : right) s = static_cast<int16_t>(rng());
  THarness a, b;
  a.FeedPcm(left);
  b.FeedPcm(left, &right);
  EXPECT_EQ(a.AllBits, b.AllBits);
  EXPECT_EQ(a.BitsPerBlock, b.BitsPerBlock);
  EXPECT_EQ(a.Ch().DiscBuf, b.Ch().DiscBuf);
  EXPECT_EQ(a.Rx->MixedBuf, b.Rx->MixedBuf);
}

TEST(FrontEnd, OtherWorkBetweenBlocksChangesNothing)
{
  gen::TFskParams p;
  p.SnrDb = 6.0;
  const auto left = gen::ModulateFsk(RandomBits(600, 11), p);
  THarness alone, interleaved, other;
  const auto noise = gen::NoiseOnly(0.1, p, 3);
  std::array<int16_t, BlockSamples> block{};
  std::array<int16_t, BlockSamples> otherBlock{};
  for (int j = 0; j < FramesPerBlock; ++j) otherBlock[2 * j] = noise[j];
  for (std::size_t start = 0; start + FramesPerBlock <= left.size(); start += FramesPerBlock) {
    for (int j = 0; j < FramesPerBlock; ++j) block[2 * j] = left[start + j];
    ProcessBlock(*alone.Rx, block);
    ProcessBlock(*other.Rx, otherBlock);  // another receiver's work in between
    ProcessBlock(*interleaved.Rx, block);
    ASSERT_EQ(alone.Ch().BitCount, interleaved.Ch().BitCount);
    ASSERT_TRUE(std::equal(alone.Ch().BitBuf.begin(), alone.Ch().BitBuf.begin() + alone.Ch().BitCount,
                           interleaved.Ch().BitBuf.begin()));
  }
}

// The fast block chain against the plain one over many blocks and inputs:
// every intermediate result must agree to the last bit.
void ExpectSameAsReference(const std::vector<int16_t>& left, double centF, const char* what)
{
  auto rx = std::make_unique<TReceiver>();
  rx->CentF = centF;
  auto ref = std::make_unique<test::TReferenceChain>();
  ref->CentF = centF;
  std::array<int16_t, BlockSamples> block{};
  const TChannelState& s = rx->Channels[0];
  for (std::size_t start = 0, b = 0; start + FramesPerBlock <= left.size(); start += FramesPerBlock, ++b) {
    for (int j = 0; j < FramesPerBlock; ++j) block[2 * j] = left[start + j];
    ProcessBlock(*rx, block);
    ref->ProcessBlock(block.data());
    ASSERT_EQ(rx->MixedBuf, ref->MixedBuf) << what << " block " << b;
    ASSERT_EQ(s.DiscBuf, ref->DiscBuf) << what << " block " << b;
    ASSERT_TRUE(std::equal(s.PhaseBuf.begin(), s.PhaseBuf.end(), ref->WorkBuf.begin()))
        << what << " block " << b;
    ASSERT_EQ(s.ClockBuf, ref->ClockBuf) << what << " block " << b;
    ASSERT_EQ(s.SampleFlags, ref->SampleFlags) << what << " block " << b;
    ASSERT_EQ(s.BitCount, ref->BitCount) << what << " block " << b;
    ASSERT_TRUE(std::equal(s.BitBuf.begin(), s.BitBuf.begin() + s.BitCount, ref->BitBuf.begin()));
    ASSERT_EQ(s.DecimHist, ref->DecimHist);
    ASSERT_EQ(s.BandHist, ref->BandHist);
    ASSERT_EQ(s.HilbHist, ref->HilbHist);
    ASSERT_EQ(s.PostHist, ref->PostHist);
    ASSERT_EQ(s.MixPhase, ref->MixPhase);
    ASSERT_EQ(s.LastPhase, ref->LastPhase);
    for (int k = 0; k < ClockDelayLen; ++k) ASSERT_EQ(ClockDelayAt(s, k), ref->ClockDelay[k]);
  }
}

TEST(FrontEnd, FastChainEqualsThePlainChainBitForBit)
{
  gen::TFskParams p;
  p.SnrDb = 3.0;
  ExpectSameAsReference(gen::ModulateFsk(RandomBits(300, 1), p), 800, "noisy FSK");

  std::mt19937 rng(2);
  std::vector<int16_t> full(FramesPerBlock * 8);
  for (auto& v : full) v = static_cast<int16_t>(rng());
  ExpectSameAsReference(full, 450, "full-scale noise");

  std::vector<int16_t> silence(FramesPerBlock * 4, 0);
  ExpectSameAsReference(silence, 800, "silence");

  p.CentF = 1700;
  p.SnrDb.reset();
  ExpectSameAsReference(gen::ModulateFsk(RandomBits(300, 4), p), 1700, "centre above 1500 Hz");
}

TEST(FrontEnd, CentreChangeBetweenBlocksKeepsThePhaseContinuous)
{
  auto rx = std::make_unique<TReceiver>();
  rx->CentF = 800;
  std::array<int16_t, BlockSamples> block{};
  ProcessBlock(*rx, block);
  const double before = rx->Channels[0].MixPhase;
  rx->CentF = 500;
  ProcessBlock(*rx, block);
  // 441 steps of 1000 Hz from where the last block stopped.
  double expect = before;
  for (int m = 0; m < BlockLen; ++m) {
    expect = expect + (1500.0 - 500.0) * TwoPi * SamplePeriod;
    if (expect >= TwoPi) expect -= TwoPi;
  }
  EXPECT_EQ(rx->Channels[0].MixPhase, expect);
}

}  // namespace
}  // namespace brontel

namespace brontel {
namespace {

TEST(FrontEnd, TheRobustPathBesideLeavesTheExactPathAsItWas)
{
  gen::TFskParams p;
  p.SnrDb = 8.0;
  const auto pcm = gen::ModulateFsk(RandomBits(900, 11), p);
  TSessionOptions beside;
  beside.RobustBeside = true;
  TReceiverSession alone, both(beside);
  std::array<int16_t, BlockSamples> block{};
  for (std::size_t start = 0, b = 0; start + FramesPerBlock <= pcm.size(); start += FramesPerBlock, ++b) {
    for (int j = 0; j < FramesPerBlock; ++j) block[2 * j] = pcm[start + j];
    alone.ProcessBlock(block);
    both.ProcessBlock(block);
    const TChannelState &a = alone.Channel(), &c = both.Channel();
    ASSERT_EQ(a.DiscBuf, c.DiscBuf) << "block " << b;
    ASSERT_EQ(a.BitCount, c.BitCount) << "block " << b;
    ASSERT_TRUE(std::equal(a.BitBuf.begin(), a.BitBuf.begin() + a.BitCount, c.BitBuf.begin())) << "block " << b;
  }
  EXPECT_EQ(alone.Receiver().Text.MemoText, both.Receiver().Text.MemoText);
  EXPECT_EQ(alone.Channel().LineText, both.Channel().LineText);
  EXPECT_TRUE(both.Receiver().Robust);
}

}  // namespace
}  // namespace brontel

namespace brontel {
namespace {

// The driver hands the robust path its centre with every block; the robust
// path's frequency tracking must carry on through that, not start again.
TEST(FrontEnd, TheRobustPathKeepsItsTuningFromBlockToBlock)
{
  gen::TFskParams p;
  p.SnrDb = 15.0;
  p.Offset = 40.0;
  const auto pcm = gen::ModulateFsk(RandomBits(800, 5), p);
  TSessionOptions o;
  o.Decoder = TDecoderPath::Robust;
  TReceiverSession session(o);
  std::array<int16_t, BlockSamples> block{};
  for (std::size_t start = 0; start + FramesPerBlock <= pcm.size(); start += FramesPerBlock) {
    for (int j = 0; j < FramesPerBlock; ++j) block[2 * j] = pcm[start + j];
    session.ProcessBlock(block);
  }
  EXPECT_NEAR(session.Receiver().Robust->FrequencyOffset(), 40.0, 5.0);
}

}  // namespace
}  // namespace brontel
