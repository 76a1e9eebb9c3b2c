// A text renderer that records what would be drawn, for label tests without Qt.
#pragma once

#include <string>
#include <vector>

#include "display/text_renderer.h"

namespace brontel::test {

struct TTextCall {
  const TRaster* Raster;
  TFontSel Font;
  int X, Y;
  std::string Text;
  TColor Colour;
  friend bool operator==(const TTextCall&, const TTextCall&) = default;
};

class TRecordingText final : public TTextRenderer {
public:
  void DrawText(TRaster& raster, int x, int y, std::string_view text, TColor colour) override
  {
    Calls.push_back({&raster, raster.Font, x, y, std::string(text), colour});
  }
  std::vector<TTextCall> Calls;
};

// The five calls of DrawOutlinedText with the label font.
inline std::vector<TTextCall> Outlined(const TRaster* r, int x, int y, const std::string& text, TColor colour)
{
  return {{r, TFontSel::Label, x - 1, y - 1, text, Black},
          {r, TFontSel::Label, x - 1, y + 1, text, Black},
          {r, TFontSel::Label, x + 1, y - 1, text, Black},
          {r, TFontSel::Label, x + 1, y + 1, text, Black},
          {r, TFontSel::Label, x, y, text, colour}};
}

}  // namespace brontel::test
