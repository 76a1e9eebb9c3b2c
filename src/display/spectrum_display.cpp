#include "display/spectrum_display.h"

#include "display/level_to_color.h"
#include "dsp/rates.h"

namespace brontel {

namespace {

constexpr double BinHz = static_cast<double>(DecimRate) / FftLength;

}  // namespace

double SpectrumColumnHz(double x, double centF) { return centF + (FirstBin + x) * BinHz - IFFreq; }

double SpectrumColumnOf(double hz, double centF) { return (hz - centF + IFFreq) / BinHz - FirstBin; }

double TraceHeight(double level)
{
  double h = 29 - (5 * level - 800) * 0.05;
  if (!(h >= 0)) h = 0;
  if (h > 29) h = 29;
  return h;
}

void InitSpectrumDisplay(TSpectrumDisplay& d)
{
  TRaster& r = d.SpectrumBitmap;
  r.Create(SpectrumWidth, SpectrumHeight);
  FillRect(r, {0, 0, r.Width(), r.Height()}, Black);
  const TPen dotted{Grey, TPenStyle::Dot};
  DrawLine(r, MarkerLowX, 0, MarkerLowX, 29, dotted);
  DrawLine(r, StartupMarkerHighX, 0, StartupMarkerHighX, 29, dotted);
  DrawLine(r, 0, 29, 256, 29, TPen{Grey, TPenStyle::Solid});
}

void DrawSpectrum(TSpectrumDisplay& d, std::span<const double, FftLength> specLevel)
{
  TRaster& r = d.SpectrumBitmap;
  const int width = r.Width(), height = r.Height();
  // 1. Age the traces.
  for (int t = 1; t < TraceCount; ++t) d.SpecTrace[t - 1] = d.SpecTrace[t];
  // 2. The new trace.
  for (int x = 0; x < SpectrumWidth; ++x) d.SpecTrace[TraceCount - 1][x] = TraceHeight(specLevel[FirstBin + x]);
  // 3. Clear the trace band.
  FillRect(r, {0, 0, width, TraceBandRows}, Black);
  // 4. Scroll the waterfall: rows 30 … 143 move down by one.
  CopyRect(r, 0, WaterfallTop + 1, {0, WaterfallTop, width, height - 1});
  // 5. Markers.
  const TPen dotted{Grey, TPenStyle::Dot};
  DrawLine(r, MarkerLowX, 0, MarkerLowX, 29, dotted);
  DrawLine(r, MarkerHighX, 0, MarkerHighX, 29, dotted);
  // 6. Traces, oldest first.
  for (int t = 0; t < TraceCount; ++t) {
    const TPen pen{LevelToColor(200 * (t + 1), 1, false), TPenStyle::Solid};
    const auto& tr = d.SpecTrace[t];
    for (int x = 1; x < SpectrumWidth; ++x)
      DrawLine(r, x - 1, static_cast<int>(tr[x - 1]), x, static_cast<int>(tr[x]), pen);
  }
  // 7. The waterfall row.
  for (int x = 0; x < SpectrumWidth; ++x)
    PutPixel(x, WaterfallTop, r, LevelToColor(5 * specLevel[FirstBin + x] - 200, 1, false));
}

}  // namespace brontel
