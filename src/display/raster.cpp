#include "display/raster.h"

#include <algorithm>
#include <cstring>

namespace brontel {

void TRaster::Create(int width, int height)
{
  W = std::max(width, 0);
  H = std::max(height, 0);
  RowBytes = (3 * W + 3) & ~3;
  Data.assign(static_cast<std::size_t>(RowBytes) * H, 0);
}

void FillRect(TRaster& raster, TRect rect, TColor colour)
{
  const int l = std::max(rect.Left, 0), r = std::min(rect.Right, raster.Width());
  const int t = std::max(rect.Top, 0), b = std::min(rect.Bottom, raster.Height());
  if (l >= r || t >= b) return;
  const std::size_t bytes = 3 * static_cast<std::size_t>(r - l);
  if (colour.R == colour.G && colour.G == colour.B) {
    for (int y = t; y < b; ++y) std::memset(raster.Row(y) + 3 * l, colour.R, bytes);
    return;
  }
  uint8_t* first = raster.Row(t) + 3 * l;
  for (int x = 0; x < r - l; ++x) {
    first[3 * x] = colour.B;
    first[3 * x + 1] = colour.G;
    first[3 * x + 2] = colour.R;
  }
  for (int y = t + 1; y < b; ++y) std::memcpy(raster.Row(y) + 3 * l, first, bytes);
}

namespace {

using i64 = long long;
using i128 = __int128;

// Smallest i with i · den ≥ num, for den > 0 (ceiling division).
i128 CeilDiv(i128 num, i128 den) { return num >= 0 ? (num + den - 1) / den : -((-num) / den); }
// Largest i with i · den ≤ num, for den > 0 (floor division).
i128 FloorDiv(i128 num, i128 den) { return num >= 0 ? num / den : -((-num + den - 1) / den); }

}  // namespace

void DrawLine(TRaster& raster, int x0, int y0, int x1, int y1, const TPen& pen)
{
  const i64 dx = x1 >= x0 ? i64(x1) - x0 : i64(x0) - x1;
  const i64 dy = y1 >= y0 ? i64(y1) - y0 : i64(y0) - y1;
  const bool xMajor = dx >= dy;
  const i64 dM = xMajor ? dx : dy;  // major distance: the number of pixels drawn
  const i64 dm = xMajor ? dy : dx;  // minor distance
  if (dM == 0) return;
  const i64 M0 = xMajor ? x0 : y0, m0 = xMajor ? y0 : x0;
  const int sM = (xMajor ? x1 >= x0 : y1 >= y0) ? 1 : -1;
  const int sm = (xMajor ? y1 >= y0 : x1 >= x0) ? 1 : -1;
  const i64 LM = xMajor ? raster.Width() : raster.Height();
  const i64 Lm = xMajor ? raster.Height() : raster.Width();

  // Step i (0 … dM − 1) draws major M0 + sM·i and minor m0 + sm·f(i), with
  // f(i) = floor((2·i·dm + c) / (2·dM)) and c = dM − 1: i·dm/dM rounded to the
  // nearest integer, a tie rounded down (towards the start).
  const i64 c = dM - 1;
  const uint8_t b = pen.Color.B, g = pen.Color.G, r = pen.Color.R;
  const bool dotted = pen.Style == TPenStyle::Dot;
  const i64 twoDM = 2 * dM, twoDm = 2 * dm;
  auto draw = [&](i64 from, i64 to, i64 rem, i64 M, i64 m) {
    for (i64 i = from; i <= to; ++i) {
      if (!dotted || (i & 1) == 0) {
        const int x = static_cast<int>(xMajor ? M : m), y = static_cast<int>(xMajor ? m : M);
        uint8_t* p = raster.Row(y) + 3 * x;
        p[0] = b;
        p[1] = g;
        p[2] = r;
      }
      rem += twoDm;
      if (rem >= twoDM) {
        rem -= twoDM;
        m += sm;
      }
      M += sM;
    }
  };

  // Every pixel lies in the box the two end points span: with both inside,
  // nothing is clipped and the line starts at step 0 (f(0) = 0, remainder c).
  // The short segments of the traces are almost all of this kind.
  if (static_cast<unsigned>(x0) < static_cast<unsigned>(raster.Width()) &&
      static_cast<unsigned>(x1) < static_cast<unsigned>(raster.Width()) &&
      static_cast<unsigned>(y0) < static_cast<unsigned>(raster.Height()) &&
      static_cast<unsigned>(y1) < static_cast<unsigned>(raster.Height())) {
    draw(0, dM - 1, c, M0, m0);
    return;
  }
  // Both end points beyond the same edge: so is every pixel.
  if ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 >= raster.Width() && x1 >= raster.Width()) ||
      (y0 >= raster.Height() && y1 >= raster.Height()))
    return;

  i128 lo = 0, hi = dM - 1;
  // Major coordinate inside 0 … LM − 1.
  if (sM > 0) {
    lo = std::max<i128>(lo, -M0);
    hi = std::min<i128>(hi, LM - 1 - M0);
  } else {
    lo = std::max<i128>(lo, M0 - (LM - 1));
    hi = std::min<i128>(hi, M0);
  }
  // Minor coordinate inside 0 … Lm − 1, that is kLo ≤ f(i) ≤ kHi.
  const i128 kLo = sm > 0 ? -i128(m0) : i128(m0) - (Lm - 1);
  const i128 kHi = sm > 0 ? i128(Lm) - 1 - m0 : i128(m0);
  if (kHi < 0 || kLo > kHi) return;  // f(i) ≥ 0 always
  if (dm == 0) {
    if (kLo > 0) return;  // f(i) = 0 for every i
  } else {
    if (kLo > 0) lo = std::max<i128>(lo, CeilDiv(2 * i128(dM) * kLo - c, 2 * i128(dm)));
    hi = std::min<i128>(hi, FloorDiv(2 * i128(dM) * (kHi + 1) - c - 1, 2 * i128(dm)));
  }
  if (lo > hi) return;

  const i128 num = 2 * lo * dm + c;
  draw(static_cast<i64>(lo), static_cast<i64>(hi), static_cast<i64>(num % twoDM), M0 + sM * static_cast<i64>(lo),
       m0 + sm * static_cast<i64>(num / twoDM));
}

void CopyRect(TRaster& raster, int dstLeft, int dstTop, TRect src)
{
  const i64 ox = i64(dstLeft) - src.Left, oy = i64(dstTop) - src.Top;
  const i64 W = raster.Width(), H = raster.Height();
  // Source columns and rows whose source and destination both lie inside.
  const i64 l = std::max<i64>({src.Left, 0, -ox}), r = std::min<i64>({src.Right, W, W - ox});
  const i64 t = std::max<i64>({src.Top, 0, -oy}), b = std::min<i64>({src.Bottom, H, H - oy});
  if (l >= r || t >= b || (ox == 0 && oy == 0)) return;
  const std::size_t bytes = 3 * static_cast<std::size_t>(r - l);
  if (ox == 0 && l == 0 && r == W) {
    // Whole rows: one move of contiguous memory.
    std::memmove(raster.Row(static_cast<int>(t + oy)), raster.Row(static_cast<int>(t)),
                 static_cast<std::size_t>(raster.Stride()) * static_cast<std::size_t>(b - t));
    return;
  }
  auto copyRow = [&](i64 y) {
    std::memmove(raster.Row(static_cast<int>(y + oy)) + 3 * (l + ox), raster.Row(static_cast<int>(y)) + 3 * l,
                 bytes);
  };
  if (oy > 0) {
    for (i64 y = b - 1; y >= t; --y) copyRow(y);  // moving down: bottom row first
  } else {
    for (i64 y = t; y < b; ++y) copyRow(y);
  }
}

}  // namespace brontel
