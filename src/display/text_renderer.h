// Text on a raster: the one thing the displays cannot draw without
// a font engine. The display library calls this interface through the
// raster's `Text` pointer; a raster without a renderer simply shows no text.
// The Qt implementation is brontel::display_qt (display/qt/qt_text_renderer.h).
#pragma once

#include <string_view>

#include "display/raster.h"

namespace brontel {

class TTextRenderer {
public:
  virtual ~TTextRenderer() = default;
  // Draws `text` (printable ASCII) with the raster's selected font
  // (`raster.Font`) in `colour`, the top-left corner of the text cell at
  // (x, y). Only the glyphs are painted: the text cell is not filled. Pixels
  // outside the raster are clipped.
  virtual void DrawText(TRaster& raster, int x, int y, std::string_view text, TColor colour) = 0;
};

}  // namespace brontel
