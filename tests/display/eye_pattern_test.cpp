// The eye pattern.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "display/eye_pattern.h"
#include "display/level_to_color.h"

namespace brontel {
namespace {

std::unique_ptr<TEyeDisplay> MakeEye()
{
  auto e = std::make_unique<TEyeDisplay>();
  InitEyeDisplay(*e);
  return e;
}

// The signal value drawn at row r (half a row above it, so that truncation is exact).
double ValueForRow(int r) { return 50.0 * (75 - r) - 25.0; }

// A block whose sample j is drawn at row 10 + j/4, with marks at 5 + 44·k.
struct TBlock {
  std::array<double, BlockLen> Disc{};
  std::array<uint8_t, BlockLen> Flags{};
};
int RowOfSample(int j) { return 10 + j / 4; }
int MarkSample(int k) { return 5 + 44 * k; }  // mark number k + 1

TBlock TestBlock(int marks = 10)
{
  TBlock b;
  for (int j = 0; j < BlockLen; ++j) b.Disc[j] = ValueForRow(RowOfSample(j));
  for (int k = 0; k < marks; ++k) b.Flags[MarkSample(k)] = 1;
  return b;
}

constexpr TColor RowColour(int p) { return TColor{0, uint8_t(p < 5 ? 0 : 45 + 50 * (p - 5)), uint8_t(p < 5 ? 50 * (p + 1) : 255)}; }

bool IsGridOrBlack(TColor c) { return c == Black || c == White || c == Grey; }

// The rows of column 0 drawn in `colour`.
std::set<int> Column0(const TRaster& r, TColor colour)
{
  std::set<int> rows;
  for (int y = 0; y < r.Height(); ++y)
    if (r.Pixel(0, y) == colour) rows.insert(y);
  return rows;
}

TEST(EyePattern, EyeRow)
{
  EXPECT_EQ(EyeRow(0), 75);
  EXPECT_EQ(EyeRow(1000), 55);
  EXPECT_EQ(EyeRow(-1000), 95);
  EXPECT_EQ(EyeRow(3085), 13);
  EXPECT_EQ(EyeRow(-3085), 136);
  EXPECT_EQ(EyeRow(3800), -1);  // 75 − 76 = −1
  EXPECT_EQ(EyeRow(3775), 0);   // −0.5 truncates toward zero
  for (int r = 0; r < 145; ++r) EXPECT_EQ(EyeRow(ValueForRow(r)), r);
}

TEST(EyePattern, Grid)
{
  auto e = MakeEye();
  const TRaster& r = e->EyeBitmap;
  ASSERT_EQ(r.Width(), 180);
  ASSERT_EQ(r.Height(), 145);
  const std::set<int> greyRows{55, 35, 15, 95, 115, 135}, greyCols{65, 40, 15, 115, 140, 165};
  for (int y = 0; y < 145; ++y)
    for (int x = 0; x < 180; ++x) {
      TColor expected = Black;
      // Dotted: even positions from each line's start at x = 0 or y = 0.
      if (y == 75 && x % 2 == 0) expected = White;
      if (x == 90 && y % 2 == 0) expected = White;
      if (greyRows.count(y) && x % 2 == 0) expected = Grey;  // grey drawn over white
      if (greyCols.count(x) && y % 2 == 0) expected = Grey;
      ASSERT_EQ(r.Pixel(x, y), expected) << x << "," << y;
    }
}

TEST(EyePattern, HistoryAges)
{
  auto e = MakeEye();
  std::array<double, BlockLen> d{};
  std::array<uint8_t, BlockLen> f{};
  for (int b = 0; b < 12; ++b) {
    d.fill(b);
    f.fill(0);
    f[b] = 1;
    AgeEyeHistory(*e, d, f);
  }
  for (int p = 0; p < 10; ++p) {
    EXPECT_EQ(e->EyeHist[p][100], 2 + p);
    EXPECT_EQ(e->EyeMarks[p][2 + p], 1);
    EXPECT_EQ(e->EyeMarks[p][3 + p], 0);
  }
}

TEST(EyePattern, TracesStartAtMarks2468)
{
  auto e = MakeEye();
  const TBlock b = TestBlock();
  AgeEyeHistory(*e, b.Disc, b.Flags);
  DrawEyeTraces(*e, 0, 10);
  const TRaster& r = e->EyeBitmap;
  const TColor newest = RowColour(9);
  EXPECT_EQ(newest, (TColor{0, 245, 255}));
  // Column 0 holds exactly the first pixel of every trace.
  const std::set<int> starts{RowOfSample(MarkSample(1)), RowOfSample(MarkSample(3)), RowOfSample(MarkSample(5)),
                             RowOfSample(MarkSample(7))};
  EXPECT_EQ(Column0(r, newest), starts);
  // The trace from mark 8 runs to the row's end and is clipped at x = 179.
  bool edge = false;
  for (int y = 0; y < 145; ++y) edge = edge || r.Pixel(179, y) == newest;
  EXPECT_TRUE(edge);
  // Only the newest row has data: no other trace colour appears.
  for (int y = 0; y < 145; ++y)
    for (int x = 0; x < 180; ++x) {
      const TColor c = r.Pixel(x, y);
      ASSERT_TRUE(IsGridOrBlack(c) || c == newest) << x << "," << y;
    }
  // A trace from mark 2 (sample 49) is drawn over x = 2·(j − 49) for the next samples.
  EXPECT_EQ(r.Pixel(2 * (60 - 49), RowOfSample(60)), newest);
}

TEST(EyePattern, HighCountLimitsTraces)
{
  const TBlock b = TestBlock();
  auto starts = [&](int low, int high) {
    auto e = MakeEye();
    AgeEyeHistory(*e, b.Disc, b.Flags);
    DrawEyeTraces(*e, low, high);
    return Column0(e->EyeBitmap, RowColour(9));
  };
  EXPECT_EQ(starts(0, 3), (std::set<int>{RowOfSample(MarkSample(1))}));
  EXPECT_EQ(starts(0, 2), std::set<int>{});  // highCount below 3: no trace at all
  EXPECT_EQ(starts(0, 1), std::set<int>{});
  EXPECT_EQ(starts(0, 0), std::set<int>{});
  EXPECT_EQ(starts(0, 5), (std::set<int>{RowOfSample(MarkSample(1)), RowOfSample(MarkSample(3))}));
  // lowCount: a mark starts a trace only when its number exceeds it.
  EXPECT_EQ(starts(3, 10), (std::set<int>{RowOfSample(MarkSample(3)), RowOfSample(MarkSample(5)),
                                          RowOfSample(MarkSample(7))}));
}

TEST(EyePattern, RowsWithFewerThanTwoMarksDrawNothing)
{
  for (int marks : {0, 1}) {
    auto e = MakeEye();
    const TBlock b = TestBlock(marks);
    AgeEyeHistory(*e, b.Disc, b.Flags);
    DrawEyeTraces(*e, 0, 10);
    for (int y = 0; y < 145; ++y)
      for (int x = 0; x < 180; ++x) ASSERT_TRUE(IsGridOrBlack(e->EyeBitmap.Pixel(x, y)));
  }
}

TEST(EyePattern, BlockWithoutBitsSuppressesEveryRow)
{
  auto e = MakeEye();
  const TBlock b = TestBlock();
  for (int i = 0; i < 9; ++i) AgeEyeHistory(*e, b.Disc, b.Flags);
  const TBlock silent{};
  AgeEyeHistory(*e, silent.Disc, silent.Flags);
  DrawEyeTraces(*e, 0, 0);  // highCount = BitCount = 0
  for (int y = 0; y < 145; ++y)
    for (int x = 0; x < 180; ++x) ASSERT_TRUE(IsGridOrBlack(e->EyeBitmap.Pixel(x, y))) << x << "," << y;
  // The history was still updated.
  EXPECT_EQ(e->EyeMarks[9][MarkSample(0)], 0);
  EXPECT_EQ(e->EyeMarks[8][MarkSample(0)], 1);
}

TEST(EyePattern, OlderRowsDarkerAndBelowNewer)
{
  auto e = MakeEye();
  // Row 8: the test block; row 9: the same marks one row lower.
  const TBlock b = TestBlock();
  TBlock lower = b;
  for (double& v : lower.Disc) v -= 50.0;
  AgeEyeHistory(*e, b.Disc, b.Flags);
  AgeEyeHistory(*e, lower.Disc, lower.Flags);
  DrawEyeTraces(*e, 0, 10);
  const std::set<int> older = Column0(e->EyeBitmap, RowColour(8));
  const std::set<int> newer = Column0(e->EyeBitmap, RowColour(9));
  EXPECT_EQ(older.size(), 4u);
  EXPECT_EQ(newer.size(), 4u);
  for (int y : older) EXPECT_EQ(newer.count(y + 1), 1u);
}

TEST(EyePattern, NewerRowsDrawnOverOlder)
{
  auto e = MakeEye();
  const TBlock b = TestBlock();
  for (int i = 0; i < 10; ++i) AgeEyeHistory(*e, b.Disc, b.Flags);  // all ten rows identical
  DrawEyeTraces(*e, 0, 10);
  for (int y = 0; y < 145; ++y)
    for (int x = 0; x < 180; ++x) {
      const TColor c = e->EyeBitmap.Pixel(x, y);
      ASSERT_TRUE(IsGridOrBlack(c) || c == RowColour(9)) << x << "," << y;
    }
}

TEST(EyePattern, ValuesOutsideTheRasterAreClipped)
{
  auto e = MakeEye();
  TBlock b = TestBlock();
  for (int j = 0; j < BlockLen; ++j) b.Disc[j] = (j / 20) % 2 ? 60000.0 : -60000.0;
  AgeEyeHistory(*e, b.Disc, b.Flags);
  DrawEyeTraces(*e, 0, 10);
  // Steep segments cross the whole raster: column 0 is painted top to bottom
  // where a trace starts, and nothing outside the raster is touched.
  int painted = 0;
  for (int y = 0; y < 145; ++y)
    for (int x = 0; x < 180; ++x) painted += e->EyeBitmap.Pixel(x, y) == RowColour(9);
  EXPECT_GT(painted, 145);
}

}  // namespace
}  // namespace brontel
