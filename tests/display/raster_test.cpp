// The raster primitives: PutPixel, rectangles, lines, copies, all clipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "display/raster.h"

namespace brontel {
namespace {

using Pixels = std::set<std::pair<int, int>>;

// Every pixel whose colour differs from `background`.
Pixels Painted(const TRaster& r, TColor background = Black)
{
  Pixels p;
  for (int y = 0; y < r.Height(); ++y)
    for (int x = 0; x < r.Width(); ++x)
      if (!(r.Pixel(x, y) == background)) p.insert({x, y});
  return p;
}

// An independent reference: the classic incremental Bresenham (decision
// variable D, a step of the minor axis when D > 0), run from the start point
// for every octant, end point excluded, no clipping.
Pixels ReferenceLine(int x0, int y0, int x1, int y1, bool dotted = false)
{
  Pixels p;
  const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
  const int sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
  int x = x0, y = y0;
  if (dx >= dy) {
    int d = 2 * dy - dx;
    for (int i = 0; i < dx; ++i) {
      if (!dotted || i % 2 == 0) p.insert({x, y});
      if (d > 0) {
        y += sy;
        d -= 2 * dx;
      }
      d += 2 * dy;
      x += sx;
    }
  } else {
    int d = 2 * dx - dy;
    for (int i = 0; i < dy; ++i) {
      if (!dotted || i % 2 == 0) p.insert({x, y});
      if (d > 0) {
        x += sx;
        d -= 2 * dy;
      }
      d += 2 * dx;
      y += sy;
    }
  }
  return p;
}

Pixels Clip(const Pixels& in, int w, int h)
{
  Pixels out;
  for (auto [x, y] : in)
    if (x >= 0 && x < w && y >= 0 && y < h) out.insert({x, y});
  return out;
}

constexpr TColor C{10, 20, 30};

TEST(Raster, CreateIsBlackWithAlignedRows)
{
  TRaster r(5, 3);
  EXPECT_EQ(r.Width(), 5);
  EXPECT_EQ(r.Height(), 3);
  EXPECT_EQ(r.Stride(), 16);  // 15 bytes rounded up to a multiple of 4
  EXPECT_TRUE(Painted(r).empty());
  EXPECT_EQ(TRaster(256, 145).Stride(), 768);
  EXPECT_EQ(TRaster(180, 145).Stride(), 540);
}

TEST(Raster, PutPixelWritesBlueGreenRed)
{
  TRaster r(4, 3);
  PutPixel(2, 1, r, TColor{1, 2, 3});
  const uint8_t* p = r.Row(1) + 6;
  EXPECT_EQ(p[0], 3);  // blue
  EXPECT_EQ(p[1], 2);  // green
  EXPECT_EQ(p[2], 1);  // red
  EXPECT_EQ(r.Pixel(2, 1), (TColor{1, 2, 3}));
  EXPECT_EQ(Painted(r), (Pixels{{2, 1}}));
}

TEST(Raster, PutPixelOutsideChangesNothing)
{
  TRaster r(256, 145);
  const std::vector<uint8_t> before(r.Bits(), r.Bits() + r.Stride() * r.Height());
  for (auto [x, y] : std::vector<std::pair<int, int>>{
           {256, 0}, {0, 145}, {256, 145}, {-1, 0}, {0, -1}, {-1, -1}, {-100000, 5}, {5, 1 << 30}})
    PutPixel(x, y, r, White);
  EXPECT_EQ(std::vector<uint8_t>(r.Bits(), r.Bits() + r.Stride() * r.Height()), before);
  PutPixel(255, 144, r, White);
  EXPECT_EQ(Painted(r), (Pixels{{255, 144}}));
}

TEST(Raster, FillRectRightAndBottomExclusive)
{
  TRaster r(10, 8);
  FillRect(r, {2, 3, 5, 6}, C);
  Pixels expected;
  for (int y = 3; y < 6; ++y)
    for (int x = 2; x < 5; ++x) expected.insert({x, y});
  EXPECT_EQ(Painted(r), expected);
  EXPECT_EQ(r.Pixel(2, 3), C);
}

TEST(Raster, FillRectClipped)
{
  TRaster r(10, 8);
  FillRect(r, {-5, -5, 2, 1}, C);
  FillRect(r, {8, 6, 100, 100}, Grey);  // grey takes the memset path
  FillRect(r, {4, 4, 4, 6}, White);     // empty
  FillRect(r, {6, 2, 3, 5}, White);     // inverted: empty
  Pixels expected{{0, 0}, {1, 0}, {8, 6}, {9, 6}, {8, 7}, {9, 7}};
  EXPECT_EQ(Painted(r), expected);
  EXPECT_EQ(r.Pixel(9, 7), Grey);
}

TEST(Raster, LineEndPointNotDrawn)
{
  TRaster r(20, 20);
  DrawLine(r, 2, 3, 7, 3, TPen{C});
  EXPECT_EQ(Painted(r), (Pixels{{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}}));
  TRaster v(20, 20);
  DrawLine(v, 4, 9, 4, 5, TPen{C});  // upwards
  EXPECT_EQ(Painted(v), (Pixels{{4, 9}, {4, 8}, {4, 7}, {4, 6}}));
  TRaster d(20, 20);
  DrawLine(d, 1, 1, 4, 4, TPen{C});
  EXPECT_EQ(Painted(d), (Pixels{{1, 1}, {2, 2}, {3, 3}}));
}

TEST(Raster, LineToItselfDrawsNothing)
{
  TRaster r(5, 5);
  DrawLine(r, 2, 2, 2, 2, TPen{C});
  EXPECT_TRUE(Painted(r).empty());
}

TEST(Raster, LineTiesRoundTowardsTheStart)
{
  // Slope 1/2: step 1 lies exactly half-way; it stays on the start's row.
  TRaster r(10, 10);
  DrawLine(r, 0, 0, 4, 2, TPen{C});
  EXPECT_EQ(Painted(r), (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
  TRaster b(10, 10);
  DrawLine(b, 4, 2, 0, 0, TPen{C});
  EXPECT_EQ(Painted(b), (Pixels{{4, 2}, {3, 2}, {2, 1}, {1, 1}}));
}

TEST(Raster, LinesMatchReferenceBresenham)
{
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> coord(0, 60);
  for (int n = 0; n < 2000; ++n) {
    const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    const bool dotted = n % 3 == 0;
    TRaster r(61, 61);
    DrawLine(r, x0, y0, x1, y1, TPen{C, dotted ? TPenStyle::Dot : TPenStyle::Solid});
    ASSERT_EQ(Painted(r), ReferenceLine(x0, y0, x1, y1, dotted))
        << "(" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ") dotted " << dotted;
  }
}

TEST(Raster, ClippedLinesKeepTheirPixels)
{
  // A small raster sees exactly the inside part of the unclipped line, with
  // the dotted pattern anchored at the (possibly outside) start point.
  std::mt19937 rng(777);
  std::uniform_int_distribution<int> coord(-40, 60);
  const int W = 23, H = 17;
  for (int n = 0; n < 5000; ++n) {
    const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    const bool dotted = n % 2 == 1;
    TRaster r(W, H);
    DrawLine(r, x0, y0, x1, y1, TPen{C, dotted ? TPenStyle::Dot : TPenStyle::Solid});
    ASSERT_EQ(Painted(r), Clip(ReferenceLine(x0, y0, x1, y1, dotted), W, H))
        << "(" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ") dotted " << dotted;
  }
}

TEST(Raster, HugeCoordinatesAreClipped)
{
  TRaster r(10, 10);
  DrawLine(r, -1000000000, 5, 1000000000, 5, TPen{C});
  Pixels row;
  for (int x = 0; x < 10; ++x) row.insert({x, 5});
  EXPECT_EQ(Painted(r), row);
  TRaster s(10, 10);
  DrawLine(s, 0, -1073741824, 2, 1073741824, TPen{C});  // steep, far outside
  for (auto [x, y] : Painted(s)) EXPECT_EQ(x, 1) << y;
  EXPECT_EQ(Painted(s).size(), 10u);
  TRaster t(10, 10);
  DrawLine(t, 20, 20, 30, 40, TPen{C});
  DrawLine(t, -5, 3, -1, 8, TPen{C});
  EXPECT_TRUE(Painted(t).empty());
}

TEST(Raster, DottedPatternStartsOn)
{
  TRaster r(10, 3);
  DrawLine(r, 0, 1, 10, 1, TPen{White, TPenStyle::Dot});
  EXPECT_EQ(Painted(r), (Pixels{{0, 1}, {2, 1}, {4, 1}, {6, 1}, {8, 1}}));
  TRaster l(10, 3);
  DrawLine(l, 9, 1, 0, 1, TPen{White, TPenStyle::Dot});  // from the right
  EXPECT_EQ(Painted(l), (Pixels{{9, 1}, {7, 1}, {5, 1}, {3, 1}, {1, 1}}));
}

TEST(Raster, DottedGapsAreTransparent)
{
  TRaster r(6, 1);
  FillRect(r, {0, 0, 6, 1}, Red);
  DrawLine(r, 0, 0, 6, 0, TPen{Grey, TPenStyle::Dot});
  for (int x = 0; x < 6; ++x) EXPECT_EQ(r.Pixel(x, 0), x % 2 == 0 ? Grey : Red) << x;
}

// A raster whose every pixel has its own colour.
TRaster Numbered(int w, int h)
{
  TRaster r(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) PutPixel(x, y, r, TColor{uint8_t(x), uint8_t(y), uint8_t(x * 7 + y * 3)});
  return r;
}

// What a copy must give: each destination pixel takes its source's old value.
TRaster ReferenceCopy(const TRaster& in, int dl, int dt, TRect s)
{
  TRaster out = in;
  for (int y = s.Top; y < s.Bottom; ++y)
    for (int x = s.Left; x < s.Right; ++x) {
      const int tx = x + dl - s.Left, ty = y + dt - s.Top;
      if (x >= 0 && y >= 0 && x < in.Width() && y < in.Height() && tx >= 0 && ty >= 0 && tx < in.Width() &&
          ty < in.Height())
        PutPixel(tx, ty, out, in.Pixel(x, y));
    }
  return out;
}

void ExpectSame(const TRaster& a, const TRaster& b)
{
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(a.Pixel(x, y), b.Pixel(x, y)) << x << "," << y;
}

TEST(Raster, CopyRectOverlapDown)
{
  // The waterfall scroll: rows 30 … 143 to 31 … 144.
  TRaster r = Numbered(256, 145);
  const TRaster expected = ReferenceCopy(r, 0, 31, {0, 30, 256, 144});
  CopyRect(r, 0, 31, {0, 30, 256, 144});
  ExpectSame(r, expected);
  EXPECT_EQ(r.Pixel(7, 31), (TColor{7, 30, uint8_t(49 + 90)}));
  EXPECT_EQ(r.Pixel(7, 30), (TColor{7, 30, uint8_t(49 + 90)}));  // row 30 keeps its old content
}

TEST(Raster, CopyRectOverlapAllDirections)
{
  for (int dx = -3; dx <= 3; ++dx)
    for (int dy = -3; dy <= 3; ++dy) {
      TRaster r = Numbered(20, 15);
      const TRect src{4, 3, 14, 11};
      const TRaster expected = ReferenceCopy(r, 4 + dx, 3 + dy, src);
      CopyRect(r, 4 + dx, 3 + dy, src);
      ExpectSame(r, expected);
    }
}

TEST(Raster, CopyRectClipped)
{
  const std::vector<std::pair<std::pair<int, int>, TRect>> cases{
      {{-5, -4}, {0, 0, 20, 15}}, {{10, 8}, {0, 0, 20, 15}}, {{3, 2}, {-6, -6, 5, 5}},
      {{0, 0}, {15, 10, 40, 40}}, {{30, 30}, {0, 0, 5, 5}},   {{2, 2}, {5, 5, 3, 3}}};
  for (const auto& [dst, src] : cases) {
    TRaster r = Numbered(20, 15);
    const TRaster expected = ReferenceCopy(r, dst.first, dst.second, src);
    CopyRect(r, dst.first, dst.second, src);
    ExpectSame(r, expected);
  }
}

TEST(Raster, TruncCoord)
{
  EXPECT_EQ(TruncCoord(2.9), 2);
  EXPECT_EQ(TruncCoord(-2.9), -2);  // toward zero
  EXPECT_EQ(TruncCoord(-0.5), 0);
  EXPECT_EQ(TruncCoord(1e300), 1 << 30);
  EXPECT_EQ(TruncCoord(-1e300), -(1 << 30));
  EXPECT_EQ(TruncCoord(std::numeric_limits<double>::quiet_NaN()), 0);
}

}  // namespace
}  // namespace brontel
