// Text on the display rasters with QtGui: QPainter on a QImage
// that shares the raster's pixel memory (no copy). The label font "Arial"
// 10 points bold is rendered with Liberation Sans Bold at 13 pixels
// (10 pt at 96 dpi), without anti-aliasing and without kerning, so that the
// pixels do not depend on the screen and every glyph pixel carries exactly
// the requested colour.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include <QFont>
#include <QImage>

#include "display/raster.h"
#include "display/text_renderer.h"

class QGuiApplication;

namespace brontel {

inline constexpr const char* LabelFontFamily = "Liberation Sans";  // stands in for "Arial"
inline constexpr int LabelFontPixels = 13;                         // 10 pt at 96 dpi

// QtGui needs a QGuiApplication for fonts. Returns the running one, or, when
// there is no application object at all, creates one on the "offscreen"
// platform (for tools and tests without a display). Returns null if a
// non-GUI QCoreApplication is running.
QGuiApplication* EnsureGuiApplication();

// Destroys the application EnsureGuiApplication created, if any (call it
// after every renderer and QImage is gone; optional at the end of a program).
void ReleaseGuiApplication();

// A QImage over the raster's memory: QImage::Format_BGR888 (bytes blue, green,
// red), the raster's stride. No copy: valid while the raster lives and is not
// re-created. The const overload gives a read-only image.
QImage RasterImage(TRaster& raster);
QImage RasterImage(const TRaster& raster);

// Writes the raster as a PNG file; false on failure.
bool SaveRasterPng(const TRaster& raster, const std::string& path);

class TQtTextRenderer final : public TTextRenderer {
public:
  // Needs a QGuiApplication (EnsureGuiApplication).
  TQtTextRenderer();
  ~TQtTextRenderer() override;

  void DrawText(TRaster& raster, int x, int y, std::string_view text, TColor colour) override;

  const QFont& LabelFont() const { return Label; }
  // The family Qt actually uses for the label font (should be LabelFontFamily).
  QString LabelFontResolvedFamily() const;

private:
  // QImages kept over the rasters drawn on, so that the paint engine is not
  // rebuilt on every label.
  struct TWrap {
    const uint8_t* Bits = nullptr;
    int Width = 0, Height = 0, Stride = 0;
    QImage Image;
  };
  QImage& ImageFor(TRaster& raster);

  QFont Label;
  int LabelAscent = 0;
  std::array<TWrap, 4> Wraps;
  std::size_t NextWrap = 0;
};

}  // namespace brontel
