// The eye pattern: ten blocks of the discriminator output cut into
// two-bit traces at the bit-taking instants, drawn over a fixed grid into
// EyeBitmap.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/receiver_state.h"
#include "display/raster.h"

namespace brontel {

inline constexpr int EyeWidth = 180;  // Image2
inline constexpr int EyeHeight = 145;
inline constexpr int EyeRows = 10;    // blocks of history

struct TEyeDisplay {
  TRaster EyeBitmap;
  // The signal and the bit-taking marks of the last ten blocks, row 9 the
  // current block, row 0 nine blocks older.
  std::array<std::array<double, BlockLen>, EyeRows> EyeHist{};
  std::array<std::array<uint8_t, BlockLen>, EyeRows> EyeMarks{};
};

// The row of a signal value v: trunc(75 − 0.02 · v).
inline int EyeRow(double v) { return TruncCoord(75 - 0.02 * v); }

// Creates EyeBitmap (180 × 145) and draws the grid: the start-up frame.
// Presenting it is the caller's job.
void InitEyeDisplay(TEyeDisplay& e);

// Clears EyeBitmap and draws the grid: dotted white centre lines
// y = 75 and x = 90, then dotted grey lines y = 55, 35, 15, 95, 115, 135 and
// x = 65, 40, 15, 115, 140, 165.
void DrawEyeGrid(TRaster& eyeBitmap);

// Ages the history by one block: rows 1 … 9 move to 0 … 8; row 9 takes the
// block's signal and bit-taking marks.
void AgeEyeHistory(TEyeDisplay& e, std::span<const double, BlockLen> disc,
                   std::span<const uint8_t, BlockLen> flags);

// Draws the traces of all ten rows over the grid, oldest first, with
// the trace rule (a trace starts at every second mark from the row's second
// on, while the mark's number c in the row satisfies lowCount < c < highCount).
void DrawEyeTraces(TEyeDisplay& e, int lowCount, int highCount);

}  // namespace brontel
