// Status labels and the display switches' off frames.
#pragma once

#include <string_view>

#include "core/receiver_state.h"
#include "display/raster.h"

namespace brontel {

// Selects the label font on the raster: "Arial", 10 points, bold, text cells
// not filled.
inline void SetLabelFont(TRaster& raster) { raster.Font = TFontSel::Label; }

// Draws `text` in black at (x − 1, y − 1), (x − 1, y + 1), (x + 1, y − 1),
// (x + 1, y + 1), in this order, then in `colour` at (x, y), with the
// raster's selected font. (x, y) is the top-left corner of the text. Does
// nothing when the raster has no text renderer.
void DrawOutlinedText(TRaster& raster, int x, int y, std::string_view text, TColor colour);

// The label texts of a channel's decoder state.
inline std::string_view PolarityLabel(const TDecoderStatus& s) { return s.Inverted ? "NEG" : "POS"; }
inline std::string_view ModeLabel(const TDecoderStatus& s) { return s.EngMode ? "ENG" : "JPN"; }

// DrawStatusLabels(ch): the polarity label at (150, 115) and the mode label at
// (150, 130), green, onto the eye-pattern raster.
void DrawStatusLabels(TRaster& eyeBitmap, const TDecoderStatus& s);

// The spectrum display's off frame (Image1Click, switched off): black, dotted
// grey markers at x = 109 and 147, solid grey baseline on row 29, red "OFF"
// at (226, 130).
void DrawSpectrumOffFrame(TRaster& spectrumBitmap);

// What Image1Click does on switching the spectrum on: clears the "OFF" label
// by filling (220, 110, width, height) black.
void ClearSpectrumOffLabel(TRaster& spectrumBitmap);

// The eye pattern's off frame (Image2Click, switched off): the grid and red
// "OFF" at (150, 130); no status labels.
void DrawEyeOffFrame(TRaster& eyeBitmap);

}  // namespace brontel
