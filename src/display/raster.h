// A toolkit-free 24-bit raster and the drawing primitives every display
// uses: pixels, filled rectangles, 1-pixel solid and dotted lines, copying a rectangle within the raster. Everything is clipped to the
// raster; nothing here allocates after the raster has been created.
//
// Memory layout: rows top to bottom (row 0 is the top row), each row
// `Stride()` bytes long (the pixel bytes rounded up to a multiple of 4, as in
// a device-independent bitmap), 3 bytes per pixel in the order blue, green,
// red. A window toolkit can wrap `Bits()` without copying (Qt:
// QImage(bits, width, height, stride, QImage::Format_BGR888)).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brontel {

class TTextRenderer;  // text_renderer.h

// A colour as (red, green, blue), 0 … 255 each.
struct TColor {
  uint8_t R = 0, G = 0, B = 0;
  friend constexpr bool operator==(const TColor&, const TColor&) = default;
};

inline constexpr TColor Black{0, 0, 0};
inline constexpr TColor White{255, 255, 255};
inline constexpr TColor Grey{128, 128, 128};
inline constexpr TColor Green{0, 255, 0};
inline constexpr TColor Red{255, 0, 0};

// The font selected on a raster for text (SetLabelFont).
enum class TFontSel : uint8_t {
  Default,  // none selected yet (drawn with the label font all the same)
  Label,    // "Arial" 10 points bold, text cell not filled
};

class TRaster {
public:
  TRaster() = default;
  TRaster(int width, int height) { Create(width, height); }

  // (Re)creates the raster: width × height pixels, all black. Negative sizes
  // count as 0. The only operation that allocates.
  void Create(int width, int height);

  int Width() const { return W; }
  int Height() const { return H; }
  int Stride() const { return RowBytes; }  // bytes per row, a multiple of 4
  uint8_t* Bits() { return Data.data(); }
  const uint8_t* Bits() const { return Data.data(); }
  uint8_t* Row(int y) { return Data.data() + static_cast<std::size_t>(y) * RowBytes; }
  const uint8_t* Row(int y) const { return Data.data() + static_cast<std::size_t>(y) * RowBytes; }

  // The colour of pixel (x, y), which must lie inside the raster.
  TColor Pixel(int x, int y) const
  {
    const uint8_t* p = Row(y) + 3 * x;
    return TColor{p[2], p[1], p[0]};
  }

  // Canvas state used by the text primitives (status_labels.h).
  TFontSel Font = TFontSel::Default;
  TTextRenderer* Text = nullptr;  // null: text is not drawn

private:
  int W = 0, H = 0, RowBytes = 0;
  std::vector<uint8_t> Data;
};

// A rectangle: left, top, right, bottom; right and bottom exclusive.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

enum class TPenStyle : uint8_t {
  Solid,
  // The cosmetic dotted pen: starting at the line's first point, pixels are
  // alternately drawn and skipped (on, off, on, off, …) along the line. The
  // skipped pixels are left as they are (the gaps are transparent). The
  // pattern restarts at the first point of every line and does not depend on
  // clipping.
  Dot,
};

struct TPen {
  TColor Color;
  TPenStyle Style = TPenStyle::Solid;
};

// Sets pixel (x, y) to `colour` when 0 ≤ x < width and
// 0 ≤ y < height; otherwise does nothing. Writes straight into pixel memory.
inline void PutPixel(int x, int y, TRaster& raster, TColor colour)
{
  if (static_cast<unsigned>(x) < static_cast<unsigned>(raster.Width()) &&
      static_cast<unsigned>(y) < static_cast<unsigned>(raster.Height())) {
    uint8_t* p = raster.Row(y) + 3 * x;
    p[0] = colour.B;
    p[1] = colour.G;
    p[2] = colour.R;
  }
}

// Fills the rectangle (right and bottom exclusive), clipped to the raster.
void FillRect(TRaster& raster, TRect rect, TColor colour);

// A 1-pixel line from (x0, y0) towards (x1, y1) with the given pen; the end
// point (x1, y1) itself is not drawn, so a line from a point to itself draws
// nothing. Pixels outside the raster are clipped; the pixels inside are the
// same as those of the unclipped line.
//
// The pixels are those of the classic Bresenham algorithm: along the major
// axis (x when |x1 − x0| ≥ |y1 − y0|, else y) the line takes one pixel per
// step, i = 0 … d − 1 with d the major distance; the minor coordinate of step i
// is the start's plus i · dminor / d rounded to the nearest integer, a tie
// (exactly one half) rounded back towards the start.
void DrawLine(TRaster& raster, int x0, int y0, int x1, int y1, const TPen& pen);

// Copies the rectangle `src` of the raster onto the place whose top-left
// corner is (dstLeft, dstTop), within the same raster. Overlapping source and
// destination are handled (each destination pixel receives the value its
// source pixel held before the copy). Parts of either rectangle outside the
// raster are clipped.
void CopyRect(TRaster& raster, int dstLeft, int dstTop, TRect src);

// Real coordinates become pixel coordinates by truncation toward zero. Values
// beyond ±2^30 are limited to ±2^30 and a NaN counts as 0, so that
// no conversion overflows; such coordinates lie far outside every raster.
inline int TruncCoord(double v)
{
  constexpr double Limit = 1073741824.0;
  if (!(v > -Limit)) return v != v ? 0 : -static_cast<int>(Limit);
  if (!(v < Limit)) return static_cast<int>(Limit);
  return static_cast<int>(v);
}

}  // namespace brontel
