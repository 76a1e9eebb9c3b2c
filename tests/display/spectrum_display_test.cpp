// The spectrum traces and the waterfall.
#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "display/level_to_color.h"
#include "display/spectrum_display.h"

namespace brontel {
namespace {

using Levels = std::array<double, FftLength>;

std::unique_ptr<TSpectrumDisplay> MakeDisplay()
{
  auto d = std::make_unique<TSpectrumDisplay>();
  InitSpectrumDisplay(*d);
  return d;
}

Levels Flat(double level)
{
  Levels l;
  l.fill(level);
  return l;
}

constexpr TColor NewestTrace{0, 245, 255};

TEST(SpectrumDisplay, StartupFrame)
{
  auto d = MakeDisplay();
  const TRaster& r = d->SpectrumBitmap;
  ASSERT_EQ(r.Width(), 256);
  ASSERT_EQ(r.Height(), 145);
  for (int y = 0; y < 145; ++y)
    for (int x = 0; x < 256; ++x) {
      TColor expected = Black;
      if (y == 29) expected = Grey;  // the baseline across the full width
      else if ((x == 109 || x == 144) && y < 29 && y % 2 == 0) expected = Grey;  // dotted markers
      ASSERT_EQ(r.Pixel(x, y), expected) << x << "," << y;
    }
}

TEST(SpectrumDisplay, TraceHeights)
{
  EXPECT_EQ(TraceHeight(160), 29.0);
  EXPECT_EQ(TraceHeight(0), 29.0);
  EXPECT_EQ(TraceHeight(-1e9), 29.0);
  EXPECT_EQ(TraceHeight(276), 0.0);
  EXPECT_EQ(TraceHeight(1e9), 0.0);
  EXPECT_EQ(TraceHeight(std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_EQ(TraceHeight(200), 19.0);  // 69 − 200/4
  EXPECT_EQ(int(TraceHeight(161)), 28);
  EXPECT_EQ(int(TraceHeight(275)), 0);  // 0.25 truncates to row 0
}

// After one update with a flat level, the newest trace's row.
int NewestTraceRow(double level)
{
  auto d = MakeDisplay();
  DrawSpectrum(*d, Flat(level));
  int row = -1;
  for (int y = 0; y < 30; ++y)
    if (d->SpectrumBitmap.Pixel(0, y) == NewestTrace) {
      EXPECT_EQ(row, -1);
      row = y;
    }
  return row;
}

TEST(SpectrumDisplay, TraceRowsForLevels160And276)
{
  EXPECT_EQ(NewestTraceRow(160), 29);
  EXPECT_EQ(NewestTraceRow(100), 29);
  EXPECT_EQ(NewestTraceRow(276), 0);
  EXPECT_EQ(NewestTraceRow(400), 0);
  EXPECT_EQ(NewestTraceRow(200), 19);
}

TEST(SpectrumDisplay, FirstUpdateFromStartup)
{
  // SpecTrace starts at zero: the four older traces lie on row 0; the newest
  // (level 200, row 19) is drawn over the markers; column 255 is the end
  // point of the last segment and is never drawn by a trace.
  auto d = MakeDisplay();
  DrawSpectrum(*d, Flat(200));
  const TRaster& r = d->SpectrumBitmap;
  for (int x = 0; x < 256; ++x) {
    for (int y = 0; y < 30; ++y) {
      TColor expected = Black;
      if (x < 255 && y == 0) expected = LevelToColor(800, 1, false);  // trace 3 over traces 0 … 2
      else if (x < 255 && y == 19) expected = NewestTrace;
      else if ((x == 109 || x == 147) && y < 29 && y % 2 == 0) expected = Grey;
      ASSERT_EQ(r.Pixel(x, y), expected) << x << "," << y;
    }
    EXPECT_EQ(r.Pixel(x, 30), LevelToColor(5 * 200.0 - 200, 1, false));  // the waterfall row
    for (int y = 31; y < 145; ++y) ASSERT_EQ(r.Pixel(x, y), Black) << x << "," << y;
  }
  EXPECT_EQ(r.Pixel(144, 10), Black);  // the start-up marker at 144 is gone
}

TEST(SpectrumDisplay, TracesAgeAndKeepTheirColours)
{
  auto d = MakeDisplay();
  // Five updates at levels giving rows 25, 20, 15, 10, 5.
  const double levels[5] = {176, 196, 216, 236, 256};
  for (double l : levels) DrawSpectrum(*d, Flat(l));
  const TColor colours[5] = {{0, 0, 100}, {0, 0, 200}, {0, 45, 255}, {0, 145, 255}, {0, 245, 255}};
  for (int t = 0; t < 5; ++t) {
    EXPECT_EQ(d->SpecTrace[t][10], 25.0 - 5 * t);
    EXPECT_EQ(d->SpectrumBitmap.Pixel(10, 25 - 5 * t), colours[t]) << t;
  }
  DrawSpectrum(*d, Flat(0));
  EXPECT_EQ(d->SpecTrace[0][10], 20.0);
  EXPECT_EQ(d->SpecTrace[4][10], 29.0);
  EXPECT_EQ(d->SpectrumBitmap.Pixel(10, 25), Black);
  EXPECT_EQ(d->SpectrumBitmap.Pixel(10, 29), NewestTrace);  // row 29 only holds the trace now
}

TEST(SpectrumDisplay, ColumnsShowBins220To475)
{
  auto d = MakeDisplay();
  Levels l = Flat(0);
  l[220] = 400;  // column 0
  l[475] = 400;  // column 255
  l[219] = 400;  // not shown
  l[476] = 400;
  DrawSpectrum(*d, l);
  const TRaster& r = d->SpectrumBitmap;
  EXPECT_EQ(r.Pixel(0, 30), White);
  EXPECT_EQ(r.Pixel(255, 30), White);
  for (int x = 1; x < 255; ++x) ASSERT_EQ(r.Pixel(x, 30), Black) << x;
  EXPECT_EQ(d->SpecTrace[4][0], 0.0);
  EXPECT_EQ(d->SpecTrace[4][1], 29.0);
  EXPECT_EQ(d->SpecTrace[4][255], 0.0);
}

TEST(SpectrumDisplay, SilenceGivesRow29AndBlackWaterfall)
{
  auto d = MakeDisplay();
  DrawSpectrum(*d, Flat(0.0));
  for (int x = 0; x < 255; ++x) EXPECT_EQ(d->SpectrumBitmap.Pixel(x, 29), NewestTrace);
  for (int x = 0; x < 256; ++x) EXPECT_EQ(d->SpectrumBitmap.Pixel(x, 30), Black);
}

TEST(SpectrumDisplay, WaterfallRowReachesRow144After114Updates)
{
  auto d = MakeDisplay();
  DrawSpectrum(*d, Flat(400));  // a white row at 30
  const TRaster& r = d->SpectrumBitmap;
  for (int x = 0; x < 256; ++x) ASSERT_EQ(r.Pixel(x, 30), White);
  for (int u = 1; u <= 114; ++u) {
    DrawSpectrum(*d, Flat(0));
    for (int y = 30; y < 145; ++y) ASSERT_EQ(r.Pixel(77, y), y == 30 + u ? White : Black) << u << " " << y;
  }
  for (int x = 0; x < 256; ++x) ASSERT_EQ(r.Pixel(x, 144), White);
  DrawSpectrum(*d, Flat(0));  // dropped
  for (int y = 30; y < 145; ++y)
    for (int x = 0; x < 256; ++x) ASSERT_EQ(r.Pixel(x, y), Black);
}

TEST(SpectrumDisplay, WaterfallKeepsColumns)
{
  auto d = MakeDisplay();
  Levels l = Flat(0);
  for (int x = 0; x < 256; ++x) l[220 + x] = 40 + x;  // a ramp over the columns
  DrawSpectrum(*d, l);
  DrawSpectrum(*d, Flat(0));
  DrawSpectrum(*d, Flat(0));
  for (int x = 0; x < 256; ++x)
    EXPECT_EQ(d->SpectrumBitmap.Pixel(x, 32), LevelToColor(5 * (40.0 + x) - 200, 1, false)) << x;
}

}  // namespace
}  // namespace brontel
