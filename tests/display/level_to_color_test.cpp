// LevelToColor: every segment boundary, the top of each scale,
// invert, and the colours the displays use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "display/level_to_color.h"

namespace brontel {
namespace {

constexpr TColor Rgb(int r, int g, int b) { return TColor{uint8_t(r), uint8_t(g), uint8_t(b)}; }

// LevelToColor of a scaled value s (the value is chosen so that scaling gives s exactly).
TColor S1(double s, bool invert = false) { return LevelToColor(2 * s, 1, invert); }
TColor S2(double s, bool invert = false) { return LevelToColor(s, 2, invert); }
TColor S0(double s, bool invert = false) { return LevelToColor(6 * s, 0, invert); }

TEST(LevelToColor, Scale1Boundaries)
{
  EXPECT_EQ(S1(0), Rgb(0, 0, 0));
  EXPECT_EQ(S1(0.99), Rgb(0, 0, 0));
  EXPECT_EQ(S1(1), Rgb(0, 0, 1));
  EXPECT_EQ(S1(254), Rgb(0, 0, 254));
  EXPECT_EQ(S1(254.5), Rgb(0, 0, 254));
  EXPECT_EQ(S1(255), Rgb(0, 0, 255));  // segment 1, v = 0
  EXPECT_EQ(S1(256), Rgb(0, 1, 255));
  EXPECT_EQ(S1(509.75), Rgb(0, 254, 255));
  EXPECT_EQ(S1(510), Rgb(0, 255, 255));  // segment 2, v = 0
  EXPECT_EQ(S1(511), Rgb(1, 255, 255));
  EXPECT_EQ(S1(764), Rgb(254, 255, 255));
  EXPECT_EQ(S1(764.999), Rgb(254, 255, 255));
  EXPECT_EQ(S1(765), Rgb(255, 255, 255));  // the top: white
  EXPECT_EQ(S1(1e9), Rgb(255, 255, 255));
  EXPECT_EQ(S1(std::numeric_limits<double>::infinity()), Rgb(255, 255, 255));
}

TEST(LevelToColor, Scale2Boundaries)
{
  EXPECT_EQ(S2(0), Rgb(0, 0, 0));
  EXPECT_EQ(S2(254), Rgb(0, 0, 254));
  EXPECT_EQ(S2(255), Rgb(0, 0, 255));
  EXPECT_EQ(S2(509), Rgb(0, 254, 255));
  EXPECT_EQ(S2(510), Rgb(0, 255, 255));
  EXPECT_EQ(S2(511), Rgb(0, 255, 254));
  EXPECT_EQ(S2(764), Rgb(0, 255, 1));
  EXPECT_EQ(S2(765), Rgb(0, 255, 0));
  EXPECT_EQ(S2(766), Rgb(1, 255, 0));
  EXPECT_EQ(S2(1019), Rgb(254, 255, 0));
  EXPECT_EQ(S2(1020), Rgb(255, 255, 0));
  EXPECT_EQ(S2(1021), Rgb(255, 254, 0));
  EXPECT_EQ(S2(1274), Rgb(255, 1, 0));
  EXPECT_EQ(S2(1275), Rgb(255, 0, 0));
  EXPECT_EQ(S2(1276), Rgb(255, 1, 1));
  EXPECT_EQ(S2(1529), Rgb(255, 254, 254));
  EXPECT_EQ(S2(1529.9999), Rgb(255, 254, 254));
  EXPECT_EQ(S2(1530), Rgb(255, 255, 255));  // the top: white
  EXPECT_EQ(S2(5000), Rgb(255, 255, 255));
}

TEST(LevelToColor, Scale0Grey)
{
  EXPECT_EQ(S0(0), Rgb(0, 0, 0));
  EXPECT_EQ(LevelToColor(5.99, 0, false), Rgb(0, 0, 0));
  EXPECT_EQ(LevelToColor(6, 0, false), Rgb(1, 1, 1));
  EXPECT_EQ(S0(128), Rgb(128, 128, 128));
  EXPECT_EQ(S0(254), Rgb(254, 254, 254));
  EXPECT_EQ(LevelToColor(1529.99, 0, false), Rgb(254, 254, 254));
  EXPECT_EQ(S0(255), Rgb(255, 255, 255));  // the top: white
  EXPECT_EQ(LevelToColor(1530, 0, false), Rgb(255, 255, 255));
}

// Walking up each scale, the colour holds still between whole values of s, a
// value just below a whole number keeps the colour of the one below it, and
// from one whole value to the next every channel moves by one step at most:
// the segments meet exactly at multiples of 255, with no jump or gap.
TEST(LevelToColor, RampsAreContinuousAndStepOnlyAtWholeValues)
{
  const struct {
    int Scale;
    int Top;
    double ValuePerS;  // the value that gives s = 1
  } scales[] = {{0, 255, 6.0}, {1, 765, 2.0}, {2, 1530, 1.0}};
  for (const auto& sc : scales) {
    auto colour = [&](double value) { return LevelToColor(value, sc.Scale, false); };
    TColor previous = colour(0);
    for (int k = 0; k <= sc.Top; ++k) {
      const TColor c = colour(k * sc.ValuePerS);
      if (k > 0) {
        const int dr = std::abs(c.R - previous.R), dg = std::abs(c.G - previous.G), db = std::abs(c.B - previous.B);
        ASSERT_TRUE(dr <= 1 && dg <= 1 && db <= 1 && dr + dg + db > 0) << "scale " << sc.Scale << ", s " << k;
      }
      if (k < sc.Top) {
        ASSERT_EQ(colour((k + 0.5) * sc.ValuePerS), c) << "scale " << sc.Scale << ", s " << k + 0.5;
        ASSERT_EQ(colour(std::nextafter((k + 1) * sc.ValuePerS, 0.0)), c)
            << "scale " << sc.Scale << ", just below s " << k + 1;
      }
      previous = c;
    }
    EXPECT_EQ(previous, Rgb(255, 255, 255));
  }
}

TEST(LevelToColor, NegativeAndNaNAreBlack)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int scale = 0; scale <= 2; ++scale) {
    EXPECT_EQ(LevelToColor(-1, scale, false), Rgb(0, 0, 0));
    EXPECT_EQ(LevelToColor(-1e300, scale, false), Rgb(0, 0, 0));
    EXPECT_EQ(LevelToColor(nan, scale, false), Rgb(0, 0, 0));
    EXPECT_EQ(LevelToColor(nan, scale, true), Rgb(0, 0, 0));  // top − NaN is NaN
  }
}

TEST(LevelToColor, Invert)
{
  // The bottom of the scale becomes white, the top black.
  EXPECT_EQ(S1(0, true), Rgb(255, 255, 255));
  EXPECT_EQ(S1(765, true), Rgb(0, 0, 0));
  EXPECT_EQ(S1(2000, true), Rgb(0, 0, 0));
  EXPECT_EQ(S1(-5, true), Rgb(255, 255, 255));
  EXPECT_EQ(S1(100, true), Rgb(155, 255, 255));  // s = 665
  EXPECT_EQ(S1(255, true), Rgb(0, 255, 255));  // s = 510
  EXPECT_EQ(S2(0, true), Rgb(255, 255, 255));
  EXPECT_EQ(S2(1530, true), Rgb(0, 0, 0));
  EXPECT_EQ(S2(255, true), Rgb(255, 0, 0));  // s = 1275
  EXPECT_EQ(S0(0, true), Rgb(255, 255, 255));
  EXPECT_EQ(S0(255, true), Rgb(0, 0, 0));
  EXPECT_EQ(S0(55, true), Rgb(200, 200, 200));
}

TEST(LevelToColor, TraceAndEyeColours)
{
  // The trace colours of the spectrum.
  const TColor traces[5] = {Rgb(0, 0, 100), Rgb(0, 0, 200), Rgb(0, 45, 255), Rgb(0, 145, 255), Rgb(0, 245, 255)};
  for (int t = 0; t < 5; ++t) EXPECT_EQ(LevelToColor(200 * (t + 1), 1, false), traces[t]) << t;
  // The eye pattern's row colours.
  const TColor rows[10] = {Rgb(0, 0, 50),    Rgb(0, 0, 100),  Rgb(0, 0, 150),   Rgb(0, 0, 200),
                           Rgb(0, 0, 250),   Rgb(0, 45, 255), Rgb(0, 95, 255),   Rgb(0, 145, 255),
                           Rgb(0, 195, 255), Rgb(0, 245, 255)};
  for (int p = 0; p < 10; ++p) EXPECT_EQ(LevelToColor(100 * (p + 1), 1, false), rows[p]) << p;
}

TEST(LevelToColor, WaterfallRamp)
{
  // 5·L − 200 with scale 1: black up to level 40, blue to 142, cyan to 244,
  // white from about 346.
  auto wf = [](double level) { return LevelToColor(5 * level - 200, 1, false); };
  EXPECT_EQ(wf(0), Rgb(0, 0, 0));
  EXPECT_EQ(wf(40), Rgb(0, 0, 0));
  EXPECT_EQ(wf(41), Rgb(0, 0, 2));
  EXPECT_EQ(wf(142), Rgb(0, 0, 255));
  EXPECT_EQ(wf(244), Rgb(0, 255, 255));
  EXPECT_EQ(wf(346), Rgb(255, 255, 255));
}

}  // namespace
}  // namespace brontel
