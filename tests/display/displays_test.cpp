// TDisplays: the displays behind the driver, the switches, the labels, and a
// golden checksum of both rasters after a fixed signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "core/receiver.h"
#include "display/displays.h"
#include "display/level_to_color.h"
#include "display/spectrum_display.h"
#include "display/status_labels.h"
#include "display_test_util.h"
#include "fake_text.h"
#include "fsk_signal.h"

#ifdef BRONTEL_HAVE_NAVTEX_SIGNAL
#include "signal/navtex_signal.h"
#endif

namespace brontel {
namespace {

using test::Outlined;
using test::TTextCall;
using Block = std::array<int16_t, BlockSamples>;

struct TFixture {
  explicit TFixture(bool withText = true, double centF = 800.0) : Rx(std::make_unique<TReceiver>())
  {
    Rx->CentF = centF;
    // The views forward to Shown1/Shown2, which a test may set at any time.
    TDisplayViews views;
    views.Image1 = [this](const TRaster& r) { if (Shown1) Shown1(r); };
    views.Image2 = [this](const TRaster& r) { if (Shown2) Shown2(r); };
    Displays = std::make_unique<TDisplays>(*Rx, withText ? &Text : nullptr, std::move(views));
    Rx->Displays = Displays.get();
  }
  void Silence(int blocks = 1)
  {
    const Block zero{};
    for (int i = 0; i < blocks; ++i) ProcessBlock(*Rx, zero);
  }
  void Fsk(int blocks = 1)
  {
    Block b;
    for (int i = 0; i < blocks; ++i) {
      Source.Next(b);
      ProcessBlock(*Rx, b);
    }
  }
  const TRaster& Spectrum() const { return Displays->SpectrumBitmap(); }
  const TRaster& Eye() const { return Displays->EyeBitmap(); }

  test::TRecordingText Text;
  std::function<void(const TRaster&)> Shown1, Shown2;
  std::unique_ptr<TReceiver> Rx;
  std::unique_ptr<TDisplays> Displays;
  test::TFskSource Source;
};

std::vector<uint8_t> Bytes(const TRaster& r) { return {r.Bits(), r.Bits() + r.Stride() * r.Height()}; }

std::vector<TTextCall> Concat(std::vector<TTextCall> a, const std::vector<TTextCall>& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Displays, ConstructionShowsStartupFrames)
{
  auto rx = std::make_unique<TReceiver>();
  int shown1 = 0, shown2 = 0;
  const TRaster *r1 = nullptr, *r2 = nullptr;
  TDisplayViews views;
  views.Image1 = [&](const TRaster& r) { ++shown1, r1 = &r; };
  views.Image2 = [&](const TRaster& r) { ++shown2, r2 = &r; };
  {
    TDisplays d(*rx, nullptr, views);
    EXPECT_EQ(rx->Displays, nullptr);  // attaching is the caller's choice
    EXPECT_EQ(shown1, 1);
    EXPECT_EQ(shown2, 1);
    EXPECT_EQ(r1, &d.SpectrumBitmap());
    EXPECT_EQ(r2, &d.EyeBitmap());
    EXPECT_EQ(d.SpectrumFrames(), 1u);
    EXPECT_EQ(d.EyeFrames(), 1u);
    EXPECT_EQ(d.Analyser().FftSize, 1024);
    TSpectrumDisplay s;
    InitSpectrumDisplay(s);
    TEyeDisplay e;
    InitEyeDisplay(e);
    EXPECT_EQ(Bytes(d.SpectrumBitmap()), Bytes(s.SpectrumBitmap));
    EXPECT_EQ(Bytes(d.EyeBitmap()), Bytes(e.EyeBitmap));
    rx->Displays = &d;
  }
  EXPECT_EQ(rx->Displays, nullptr);  // the destructor detaches
}

TEST(Displays, EveryBlockPresentsBothDisplays)
{
  TFixture f;
  int shown1 = 0, shown2 = 0;
  f.Shown1 = [&](const TRaster&) { ++shown1; };
  f.Shown2 = [&](const TRaster&) { ++shown2; };
  f.Fsk(3);
  EXPECT_EQ(shown1, 3);
  EXPECT_EQ(shown2, 3);
  EXPECT_EQ(f.Displays->SpectrumFrames(), 4u);
  EXPECT_EQ(f.Displays->EyeFrames(), 4u);
  // The analyser took the mixer output of the last block.
  for (int i = 0; i < BlockLen; ++i) ASSERT_EQ(f.Displays->Analyser().SpecBuf[i], f.Rx->MixedBuf[i]);
  // The eye history took channel 0's discriminator output and bit marks.
  for (int i = 0; i < BlockLen; ++i) {
    ASSERT_EQ(f.Displays->Eye().EyeHist[9][i], f.Rx->Channels[0].DiscBuf[i]);
    ASSERT_EQ(f.Displays->Eye().EyeMarks[9][i], f.Rx->Channels[0].SampleFlags[i]);
  }
}

TEST(Displays, DecodingIsTheSameWithAndWithoutDisplays)
{
  TFixture with;
  auto without = std::make_unique<TReceiver>();
  without->CentF = 800.0;
  test::TFskSource source;
  Block b;
  for (int i = 0; i < 20; ++i) {
    with.Fsk();
    source.Next(b);
    ProcessBlock(*without, b);
    const auto& a = with.Rx->Channels[0];
    const auto& c = without->Channels[0];
    ASSERT_EQ(a.BitCount, c.BitCount) << i;
    ASSERT_TRUE(std::equal(a.BitBuf.begin(), a.BitBuf.begin() + a.BitCount, c.BitBuf.begin())) << i;
  }
}

TEST(Displays, LabelsFollowTheDecoderFlags)
{
  TFixture f;
  const TRaster* eye = &f.Eye();
  f.Silence();
  EXPECT_EQ(f.Text.Calls, Concat(Outlined(eye, 150, 115, "POS", Green), Outlined(eye, 150, 130, "JPN", Green)));
  const struct {
    bool Inverted, Eng;
    const char *Pol, *Mode;
  } cases[] = {{true, false, "NEG", "JPN"}, {true, true, "NEG", "ENG"}, {false, true, "POS", "ENG"},
               {false, false, "POS", "JPN"}};
  for (const auto& c : cases) {
    f.Rx->Channels[0].Inverted = c.Inverted;
    f.Rx->Channels[0].EngMode = c.Eng;
    f.Text.Calls.clear();
    f.Silence();  // silence after the start-up bit: the decoder changes nothing
    EXPECT_EQ(f.Text.Calls, Concat(Outlined(eye, 150, 115, c.Pol, Green), Outlined(eye, 150, 130, c.Mode, Green)));
  }
}

TEST(Displays, LabelsShowTheRequestedChannel)
{
  TFixture f;
  f.Rx->Channels[1].Inverted = true;
  f.Rx->Channels[1].EngMode = true;
  f.Displays->DrawEyePattern(1, true, 0, 0);
  const TRaster* eye = &f.Eye();
  EXPECT_EQ(f.Text.Calls, Concat(Outlined(eye, 150, 115, "NEG", Green), Outlined(eye, 150, 130, "ENG", Green)));
}

TEST(Displays, NoRendererNoText)
{
  TFixture f(false);
  f.Silence(2);
  TEyeDisplay e;
  InitEyeDisplay(e);
  EXPECT_EQ(Bytes(f.Eye()), Bytes(e.EyeBitmap));  // only the grid: no traces, no labels
}

// The spectrum's off frame, without the text.
void ExpectSpectrumOffFrame(const TRaster& r)
{
  for (int y = 0; y < 145; ++y)
    for (int x = 0; x < 256; ++x) {
      TColor expected = Black;
      if (y == 29) expected = Grey;
      else if ((x == 109 || x == 147) && y < 29 && y % 2 == 0) expected = Grey;
      ASSERT_EQ(r.Pixel(x, y), expected) << x << "," << y;
    }
}

TEST(Displays, SpectrumOffFrame)
{
  TFixture f;
  f.Fsk(5);
  f.Text.Calls.clear();
  const uint64_t frames = f.Displays->SpectrumFrames();
  f.Displays->Image1Click();
  EXPECT_FALSE(f.Rx->DispSpectrum);
  EXPECT_EQ(f.Displays->SpectrumFrames(), frames + 1);
  ExpectSpectrumOffFrame(f.Spectrum());
  EXPECT_EQ(f.Text.Calls, Outlined(&f.Spectrum(), 226, 130, "OFF", Red));
  // While off: no analysis, no drawing, the window frozen.
  const auto specBuf = f.Displays->Analyser().SpecBuf;
  const auto traces = f.Displays->Spectrum().SpecTrace;
  f.Fsk(3);
  EXPECT_EQ(f.Displays->SpectrumFrames(), frames + 1);
  EXPECT_EQ(f.Displays->Analyser().SpecBuf, specBuf);
  EXPECT_EQ(f.Displays->Spectrum().SpecTrace, traces);
  ExpectSpectrumOffFrame(f.Spectrum());
  // On again: the stale window moves up by one block at the next analysis.
  f.Displays->Image1Click();
  EXPECT_TRUE(f.Rx->DispSpectrum);
  EXPECT_EQ(f.Displays->SpectrumFrames(), frames + 1);  // nothing shown yet
  f.Fsk();
  EXPECT_EQ(f.Displays->SpectrumFrames(), frames + 2);
  for (int i = 0; i < 1024 - BlockLen; ++i) ASSERT_EQ(f.Displays->Analyser().SpecBuf[BlockLen + i], specBuf[i]);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(f.Displays->Spectrum().SpecTrace[t], traces[t + 1]);
}

// A text renderer that paints given pixels red whenever it is asked for text.
class TPaintingText final : public TTextRenderer {
public:
  explicit TPaintingText(std::vector<std::pair<int, int>> pixels) : Pixels(std::move(pixels)) {}
  void DrawText(TRaster& raster, int, int, std::string_view, TColor) override
  {
    for (auto [x, y] : Pixels) PutPixel(x, y, raster, Red);
  }
  std::vector<std::pair<int, int>> Pixels;
};

TEST(Displays, SpectrumOnClearsTheOffLabelOnly)
{
  // Stand-ins for the label's pixels (inside its box) and pixels just outside it.
  TPaintingText text({{226, 135}, {220, 110}, {219, 120}, {230, 109}});
  auto rx = std::make_unique<TReceiver>();
  TDisplays d(*rx, &text);
  d.Image1Click();  // off: the label is drawn
  const TRaster& r = d.SpectrumBitmap();
  ASSERT_EQ(r.Pixel(226, 135), Red);
  d.Image1Click();  // on
  EXPECT_EQ(r.Pixel(226, 135), Black);
  EXPECT_EQ(r.Pixel(220, 110), Black);
  EXPECT_EQ(r.Pixel(219, 120), Red);
  EXPECT_EQ(r.Pixel(230, 109), Red);
}

TEST(Displays, FirstSpectrumFrameAfterSwitchingOn)
{
  // Two quick clicks: the off frame stays until the next block, whose frame
  // has a waterfall that starts from black.
  TFixture f(false);
  f.Fsk(8);
  std::vector<uint64_t> shown;
  f.Shown1 = [&](const TRaster& r) { shown.push_back(test::RasterHash(r)); };
  f.Displays->Image1Click();
  f.Displays->Image1Click();
  ASSERT_EQ(shown.size(), 1u);  // the off frame only
  f.Fsk();
  ASSERT_EQ(shown.size(), 2u);
  const TRaster& r = f.Spectrum();
  for (int y = 31; y < 145; ++y)
    for (int x = 0; x < 256; ++x) ASSERT_EQ(r.Pixel(x, y), Black) << x << "," << y;
  bool rowDrawn = false;
  for (int x = 0; x < 256; ++x) rowDrawn = rowDrawn || !(r.Pixel(x, 30) == Black);
  EXPECT_TRUE(rowDrawn);
  // The baseline of the off frame is gone, the traces are back.
  EXPECT_NE(r.Pixel(0, 29), Grey);
}

TEST(Displays, EyeOffFrameAndOnAgain)
{
  TFixture f;
  f.Fsk(5);
  f.Text.Calls.clear();
  const uint64_t frames = f.Displays->EyeFrames();
  f.Displays->Image2Click();
  EXPECT_FALSE(f.Rx->DispEyepattern);
  EXPECT_EQ(f.Displays->EyeFrames(), frames + 1);
  TEyeDisplay grid;
  InitEyeDisplay(grid);
  EXPECT_EQ(Bytes(f.Eye()), Bytes(grid.EyeBitmap));  // the grid, no traces
  EXPECT_EQ(f.Text.Calls, Outlined(&f.Eye(), 150, 130, "OFF", Red));  // no status labels
  // While off: the history is frozen and nothing is drawn.
  const auto hist = f.Displays->Eye().EyeHist;
  f.Text.Calls.clear();
  f.Fsk(2);
  EXPECT_EQ(f.Displays->Eye().EyeHist, hist);
  EXPECT_EQ(f.Displays->EyeFrames(), frames + 1);
  EXPECT_TRUE(f.Text.Calls.empty());
  // On again: nothing happens until the next block, which redraws everything.
  const auto before = Bytes(f.Eye());
  f.Displays->Image2Click();
  EXPECT_TRUE(f.Rx->DispEyepattern);
  EXPECT_EQ(f.Displays->EyeFrames(), frames + 1);
  EXPECT_EQ(Bytes(f.Eye()), before);
  f.Fsk();
  EXPECT_EQ(f.Displays->EyeFrames(), frames + 2);
  EXPECT_EQ(f.Text.Calls, Concat(Outlined(&f.Eye(), 150, 115, "POS", Green), Outlined(&f.Eye(), 150, 130, "JPN", Green)));
  EXPECT_EQ(f.Displays->Eye().EyeHist[8], hist[9]);  // the rows from before the pause, one older
}

TEST(Displays, EyeClickedOffAndOnWithinOneBlock)
{
  TFixture f;
  f.Fsk(2);
  std::vector<uint64_t> shown;
  f.Shown2 = [&](const TRaster& r) { shown.push_back(test::RasterHash(r)); };
  f.Displays->Image2Click();
  f.Displays->Image2Click();
  ASSERT_EQ(shown.size(), 1u);  // the off frame stays on screen
  f.Fsk();
  EXPECT_EQ(shown.size(), 2u);
}

TEST(Displays, EyeOpensAtTheBitInstants)
{
  // With a clean FSK signal the eye is open: every trace starts (x = 0, a
  // bit-taking instant) well away from the centre line, at |v| > 1500 (the
  // full tone levels ±3085 lie at rows 13 and 136; isolated bits do not
  // reach them through the post-detection filter).
  TFixture f(false);
  f.Fsk(20);
  const TRaster& r = f.Eye();
  const TColor newest{0, 245, 255};
  int starts = 0;
  for (int y = 0; y < 145; ++y)
    if (r.Pixel(0, y) == newest) {
      ++starts;
      EXPECT_TRUE(y <= 45 || y >= 105) << y;
    }
  EXPECT_GE(starts, 2);
}

TEST(Displays, SpectrumPeaksNextToTheMarkers)
{
  TFixture f(false);
  f.Fsk(10);
  const auto& L = f.Displays->Analyser().SpecLevel;
  int best = 0;
  for (int x = 0; x < 256; ++x)
    if (L[220 + x] > L[220 + best]) best = x;
  EXPECT_TRUE(std::abs(best - 109) <= 3 || std::abs(best - 147) <= 3) << best;
  EXPECT_GT(L[220 + best], 240.0);
}

// A renderer that, once armed, paints the whole raster in a colour the
// displays never use, then draws nothing more.
constexpr TColor Scribble{1, 2, 3};
class TScribblingText final : public TTextRenderer {
public:
  void DrawText(TRaster& raster, int, int, std::string_view, TColor) override
  {
    if (!Armed) return;
    for (int y = 0; y < raster.Height(); ++y)
      for (int x = 0; x < raster.Width(); ++x) PutPixel(x, y, raster, Scribble);
    Armed = false;
  }
  bool Armed = false;
};

// What the golden eye raster relies on: every block redraws the eye from a
// clean grid, so nothing of an earlier frame survives but the history traces.
TEST(Displays, EveryEyeFrameStartsFromACleanGrid)
{
  TScribblingText text;
  auto rx = std::make_unique<TReceiver>();
  TDisplays d(*rx, &text);
  rx->Displays = &d;
  test::TFskSource source;
  Block b;
  for (int i = 0; i < 5; ++i) source.Next(b), ProcessBlock(*rx, b);
  text.Armed = true;
  source.Next(b), ProcessBlock(*rx, b);  // the labels of this block scribble over everything
  ASSERT_EQ(d.EyeBitmap().Pixel(90, 75), Scribble);
  source.Next(b), ProcessBlock(*rx, b);

  TEyeDisplay grid;
  InitEyeDisplay(grid);
  std::vector<TColor> traces;
  for (int p = 0; p < EyeRows; ++p) traces.push_back(LevelToColor(100 * (p + 1), 1, false));
  int traced = 0;
  for (int y = 0; y < EyeHeight; ++y)
    for (int x = 0; x < EyeWidth; ++x) {
      const TColor c = d.EyeBitmap().Pixel(x, y);
      const bool trace = std::find(traces.begin(), traces.end(), c) != traces.end();
      traced += trace;
      ASSERT_TRUE(c == grid.EyeBitmap.Pixel(x, y) || trace) << x << "," << y;
    }
  EXPECT_GT(traced, 0);
}

// A pointer over the spectrum reads the frequency the column shows: a pure
// tone, run through the receiver, peaks in the column whose frequency is the
// tone's (within a bin), wherever the centre is set; and back again.
TEST(Displays, TheColumnWhereAToneShowsReadsAsItsFrequency)
{
  const struct {
    double CentF, Tone;
  } cases[] = {{800, 800}, {800, 1030}, {800, 420}, {1200, 1200}, {2000, 1930}, {2000, 2060}, {300, 520}};
  for (const auto& c : cases) {
    TFixture f(false, c.CentF);
    Block b;
    double phase = 0;
    for (int block = 0; block < 12; ++block) {
      for (int j = 0; j < FramesPerBlock; ++j) {
        b[2 * j] = b[2 * j + 1] = static_cast<int16_t>(std::lround(6000.0 * std::sin(phase)));
        phase = std::fmod(phase + TwoPi * c.Tone / SampleRate, TwoPi);
      }
      ProcessBlock(*f.Rx, b);
    }
    const auto& level = f.Displays->Analyser().SpecLevel;
    int peak = 0;
    for (int x = 1; x < SpectrumWidth; ++x)
      if (level[FirstBin + x] > level[FirstBin + peak]) peak = x;
    EXPECT_NEAR(SpectrumColumnHz(peak, c.CentF), c.Tone, 4.4) << c.CentF << " Hz centre, tone " << c.Tone;
    EXPECT_NEAR(SpectrumColumnOf(SpectrumColumnHz(peak + 0.25, c.CentF), c.CentF), peak + 0.25, 1e-9);
  }
}

// Both rasters after a fixed signal, with a switch of each display on the
// way. Any change of the drawing, the colours or the numbers behind them
// (front end and analyser included) changes these checksums.
TEST(Displays, GoldenRasters)
{
  TFixture f(false);
  f.Fsk(25);
  f.Displays->Image1Click();
  f.Displays->Image2Click();
  f.Fsk(3);
  f.Displays->Image1Click();
  f.Displays->Image2Click();
  f.Fsk(12);
  test::DumpRaster(f.Spectrum(), "golden_spectrum");
  test::DumpRaster(f.Eye(), "golden_eye");
  const uint64_t spectrum = test::RasterHash(f.Spectrum()), eye = test::RasterHash(f.Eye());
  EXPECT_EQ(spectrum, test::GoldenSpectrumRaster) << std::hex << spectrum;
  EXPECT_EQ(eye, test::GoldenEyeRaster) << std::hex << eye;
}

#ifdef BRONTEL_HAVE_NAVTEX_SIGNAL
// The labels follow the real decoder: an inverted English emission turns
// "POS"/"JPN" into "NEG"/"ENG" in the block where the decoder switches.
TEST(Displays, LabelsFollowGeneratedNavtex)
{
  std::vector<uint8_t> codes;
  std::string error;
  ASSERT_TRUE(gen::EnglishCodes("ZCZC FA01\nTEST MESSAGE FOR THE LABELS\nNNNN\n", codes, error)) << error;
  gen::TEmission e;
  e.PhasingSeconds = 6.0;
  const std::vector<int16_t> pcm = gen::ModulateFsk(gen::EmissionBits(codes, e, true), gen::TFskParams{});

  TFixture f;
  Block block;
  bool sawStart = false, sawEnd = false;
  for (std::size_t start = 0; start < pcm.size(); start += FramesPerBlock) {
    block.fill(0);
    for (std::size_t j = 0; j < FramesPerBlock && start + j < pcm.size(); ++j) block[2 * j] = pcm[start + j];
    f.Text.Calls.clear();
    ProcessBlock(*f.Rx, block);
    const TChannelState& s = f.Rx->Channels[0];
    ASSERT_EQ(f.Text.Calls.size(), 10u);
    EXPECT_EQ(f.Text.Calls[4].Text, s.Inverted ? "NEG" : "POS");
    EXPECT_EQ(f.Text.Calls[9].Text, s.EngMode ? "ENG" : "JPN");
    sawStart = sawStart || (f.Text.Calls[4].Text == "POS" && f.Text.Calls[9].Text == "JPN");
    sawEnd = sawEnd || (f.Text.Calls[4].Text == "NEG" && f.Text.Calls[9].Text == "ENG");
  }
  EXPECT_TRUE(sawStart);
  EXPECT_TRUE(sawEnd);
  EXPECT_TRUE(f.Rx->Channels[0].Inverted);
  EXPECT_TRUE(f.Rx->Channels[0].EngMode);
}
#endif

}  // namespace
}  // namespace brontel
