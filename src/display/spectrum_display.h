// The spectrum traces and the waterfall, drawn into SpectrumBitmap.
#pragma once

#include <array>
#include <span>

#include "display/raster.h"
#include "display/spectrum_analyser.h"

namespace brontel {

inline constexpr int SpectrumWidth = 256;   // Image1
inline constexpr int SpectrumHeight = 145;
inline constexpr int TraceCount = 5;
inline constexpr int FirstBin = 220;        // bin shown in column 0
inline constexpr int MarkerLowX = 109;      // marker columns of every update
inline constexpr int MarkerHighX = 147;
inline constexpr int StartupMarkerHighX = 144;  // the start-up frame's second marker
inline constexpr int TraceBandRows = 30;    // rows 0 … 29
inline constexpr int WaterfallTop = 30;     // the newest waterfall row

struct TSpectrumDisplay {
  TRaster SpectrumBitmap;
  // Row heights of the five traces, trace 0 oldest, 4 newest, one per column.
  std::array<std::array<double, SpectrumWidth>, TraceCount> SpecTrace{};
};

// The row height of a level L: 69 − L/4 as 29 − (5·L − 800)·0.05, limited to
// 0 … 29 (NaN → 0).
double TraceHeight(double level);

// Where the spectrum and the waterfall show a frequency. Column x shows bin
// FirstBin + x of the mixer output, in which the centre of the received tone
// pair (`centF`, Hz of the input) lies at IFFreq; x may be fractional (a
// pointer between pixels on a scaled screen). Both ways round:
double SpectrumColumnHz(double x, double centF);    // the input frequency under column x
double SpectrumColumnOf(double hz, double centF);   // the column showing `hz` (may lie off the raster)

// Creates SpectrumBitmap (256 × 145) and draws the start-up frame: black,
// dotted grey markers at x = 109 and x = 144 (rows 0 … 28), solid grey baseline
// on row 29. Presenting it is the caller's job.
void InitSpectrumDisplay(TSpectrumDisplay& d);

// Draws one frame: ages the traces, adds the new trace from `specLevel`
// (bins 220 … 475), clears the trace band, scrolls the waterfall down one
// row, draws the markers and the five traces and writes the waterfall row
// 30. Presenting the frame is the caller's job.
void DrawSpectrum(TSpectrumDisplay& d, std::span<const double, FftLength> specLevel);

}  // namespace brontel
