#include "display/eye_pattern.h"

#include "display/level_to_color.h"

namespace brontel {

void InitEyeDisplay(TEyeDisplay& e)
{
  e.EyeBitmap.Create(EyeWidth, EyeHeight);
  DrawEyeGrid(e.EyeBitmap);
}

void DrawEyeGrid(TRaster& r)
{
  FillRect(r, {0, 0, r.Width(), r.Height()}, Black);
  const TPen white{White, TPenStyle::Dot};
  DrawLine(r, 0, 75, 180, 75, white);
  DrawLine(r, 90, 0, 90, 150, white);
  const TPen grey{Grey, TPenStyle::Dot};
  for (const int y : {55, 35, 15, 95, 115, 135}) DrawLine(r, 0, y, 180, y, grey);
  for (const int x : {65, 40, 15, 115, 140, 165}) DrawLine(r, x, 0, x, 150, grey);
}

void AgeEyeHistory(TEyeDisplay& e, std::span<const double, BlockLen> disc,
                   std::span<const uint8_t, BlockLen> flags)
{
  for (int p = 1; p < EyeRows; ++p) {
    e.EyeHist[p - 1] = e.EyeHist[p];
    e.EyeMarks[p - 1] = e.EyeMarks[p];
  }
  for (int j = 0; j < BlockLen; ++j) {
    e.EyeHist[EyeRows - 1][j] = disc[j];
    e.EyeMarks[EyeRows - 1][j] = flags[j];
  }
}

void DrawEyeTraces(TEyeDisplay& e, int lowCount, int highCount)
{
  TRaster& r = e.EyeBitmap;
  for (int p = 0; p < EyeRows; ++p) {
    const TPen pen{LevelToColor(100 * (p + 1), 1, false), TPenStyle::Solid};
    const auto& hist = e.EyeHist[p];
    const auto& marks = e.EyeMarks[p];
    int q = 0, n = 0, c = 0;
    for (int j = 0; j < BlockLen - 1; ++j) {
      if (marks[j] != 0) {
        ++n;
        ++c;
        if (n > 1 && c > lowCount && c < highCount) {
          q = 1;
          n = 0;
        }
      }
      if (q > 0) {
        DrawLine(r, 2 * (q - 1), EyeRow(hist[j]), 2 * q, EyeRow(hist[j + 1]), pen);
        ++q;
      }
    }
  }
}

}  // namespace brontel
