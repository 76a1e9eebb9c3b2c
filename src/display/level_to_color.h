// The value-to-colour map of the displays.
#pragma once

#include "display/raster.h"

namespace brontel {

// LevelToColor(value, scale, invert):
//   scale 0: grey ramp, s = value / 6, top 255;
//   scale 1: black → blue → cyan → white, s = value × 0.5, top 765;
//   scale 2: black → blue → cyan → green → yellow → red → white, s = value, top 1530.
// invert maps s to top − s. A negative or NaN s is 0; s ≥ top is white. Every
// segment is 255 units of s wide; v = trunc(s) − 255 · trunc(s / 255).
// Scales other than 0 and 1 behave as scale 2.
TColor LevelToColor(double value, int scale, bool invert);

}  // namespace brontel
