#include "display/level_to_color.h"

#include <algorithm>

namespace brontel {

TColor LevelToColor(double value, int scale, bool invert)
{
  double s, top;
  if (scale == 0) {
    s = value / 6;
    top = 255.0;
  } else if (scale == 1) {
    s = value * 0.5;
    top = 765.0;
  } else {
    s = value;
    top = 1530.0;
  }
  if (invert) s = top - s;
  if (!(s >= 0.0)) s = 0.0;
  if (s >= top) return White;
  if (scale == 0) {
    const auto g = static_cast<uint8_t>(static_cast<int>(s));
    return TColor{g, g, g};
  }
  // s < top, yet s / 255 may round up to the number of segments just below
  // the top: such a value stays in the last segment.
  const int n = std::min(static_cast<int>(s / 255), scale == 1 ? 2 : 5);
  const auto v = static_cast<uint8_t>(std::clamp(static_cast<int>(s) - 255 * n, 0, 255));
  const auto w = static_cast<uint8_t>(255 - v);
  switch (n) {
    case 0: return TColor{0, 0, v};
    case 1: return TColor{0, v, 255};
    case 2: return scale == 1 ? TColor{v, 255, 255} : TColor{0, 255, w};
    case 3: return TColor{v, 255, 0};
    case 4: return TColor{255, w, 0};
    default: return TColor{255, v, v};
  }
}

}  // namespace brontel
