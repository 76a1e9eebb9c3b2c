#include "display/status_labels.h"

#include "display/eye_pattern.h"
#include "display/spectrum_display.h"
#include "display/text_renderer.h"

namespace brontel {

void DrawOutlinedText(TRaster& raster, int x, int y, std::string_view text, TColor colour)
{
  TTextRenderer* t = raster.Text;
  if (!t) return;
  t->DrawText(raster, x - 1, y - 1, text, Black);
  t->DrawText(raster, x - 1, y + 1, text, Black);
  t->DrawText(raster, x + 1, y - 1, text, Black);
  t->DrawText(raster, x + 1, y + 1, text, Black);
  t->DrawText(raster, x, y, text, colour);
}

void DrawStatusLabels(TRaster& eyeBitmap, const TDecoderStatus& s)
{
  SetLabelFont(eyeBitmap);
  DrawOutlinedText(eyeBitmap, 150, 115, PolarityLabel(s), Green);
  DrawOutlinedText(eyeBitmap, 150, 130, ModeLabel(s), Green);
}

void DrawSpectrumOffFrame(TRaster& r)
{
  FillRect(r, {0, 0, r.Width(), r.Height()}, Black);
  const TPen dotted{Grey, TPenStyle::Dot};
  DrawLine(r, MarkerLowX, 0, MarkerLowX, 29, dotted);
  DrawLine(r, MarkerHighX, 0, MarkerHighX, 29, dotted);
  DrawLine(r, 0, 29, 256, 29, TPen{Grey, TPenStyle::Solid});
  SetLabelFont(r);
  DrawOutlinedText(r, 226, 130, "OFF", Red);
}

void ClearSpectrumOffLabel(TRaster& r) { FillRect(r, {220, 110, r.Width(), r.Height()}, Black); }

void DrawEyeOffFrame(TRaster& r)
{
  DrawEyeGrid(r);
  SetLabelFont(r);
  DrawOutlinedText(r, 150, 130, "OFF", Red);
}

}  // namespace brontel
