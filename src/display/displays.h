// The displays of one receiver: spectrum analyser, spectrum and waterfall,
// eye pattern, status labels and the two display switches,
// behind the driver's TBlockDisplays interface.
//
// Use:
//   TDisplays displays(rx, &textRenderer, views);  // tables, rasters, start-up frames
//   rx.Displays = &displays;                        // ProcessBlock now draws
//   …
//   displays.Image1Click();                         // the user clicked Image1
//
// Everything runs on the caller's thread (the user-interface thread); nothing
// is allocated after construction.
#pragma once

#include <cstdint>
#include <functional>

#include "core/receiver_state.h"
#include "display/eye_pattern.h"
#include "display/raster.h"
#include "display/spectrum_analyser.h"
#include "display/spectrum_display.h"

namespace brontel {

class TTextRenderer;

// Where the presented frames go. Each display hands its raster to its
// callback whenever a frame is complete (after DrawSpectrum, after
// DrawEyePattern, in the off frames and the start-up frames); the callback
// may copy or show it then. Empty callbacks are allowed (headless use).
struct TDisplayViews {
  std::function<void(const TRaster&)> Image1;  // SpectrumBitmap presented
  std::function<void(const TRaster&)> Image2;  // EyeBitmap presented
};

class TDisplays final : public TBlockDisplays {
public:
  // Builds the FFT tables (InitSpectrumTables), creates both rasters and
  // presents their start-up frames (InitSpectrumDisplay, InitEyeDisplay)
  // to `views`. `text` draws the labels (null: no text at all); it must
  // outlive this object. Does not attach itself: set rx.Displays = this to
  // have ProcessBlock draw. The switches are rx.DispSpectrum and
  // rx.DispEyepattern.
  explicit TDisplays(TReceiver& rx, TTextRenderer* text = nullptr, TDisplayViews views = {});
  ~TDisplays() override;  // clears rx.Displays if it points here
  TDisplays(const TDisplays&) = delete;
  TDisplays& operator=(const TDisplays&) = delete;

  // TBlockDisplays, called by ProcessBlock once per block.
  // The eye pattern: grid, the history aged by one block, the traces, the
  // labels of channel `ch`; then the frame is presented.
  void DrawEyePattern(int ch, bool redrawGrid, int lowCount, int highCount) override;
  // The analyser takes the block's mixer output and computes the levels.
  void AnalyseSpectrum() override;
  // Spectrum traces and waterfall from those levels; then the frame is presented.
  void DrawSpectrum() override;

  // The click handlers of Image1 (spectrum) and Image2 (eye pattern).
  void Image1Click();
  void Image2Click();

  // The rasters: 256 × 145 and 180 × 145, 24-bit B,G,R rows (raster.h). Their
  // pixel memory stays at the same address for the object's life.
  const TRaster& SpectrumBitmap() const { return SpectrumState.SpectrumBitmap; }
  const TRaster& EyeBitmap() const { return EyeState.EyeBitmap; }
  // Frames presented so far, start-up frames included.
  uint64_t SpectrumFrames() const { return SpectrumPresented; }
  uint64_t EyeFrames() const { return EyePresented; }

  // The state behind each display, read-only.
  const TSpectrumAnalyser& Analyser() const { return AnalyserState; }
  const TSpectrumDisplay& Spectrum() const { return SpectrumState; }
  const TEyeDisplay& Eye() const { return EyeState; }

  // The text renderer of both rasters (null: no labels).
  void SetTextRenderer(TTextRenderer* text);

private:
  void PresentSpectrum();
  void PresentEye();

  TReceiver& Rx;
  TDisplayViews Views;
  TSpectrumAnalyser AnalyserState;
  TSpectrumDisplay SpectrumState;
  TEyeDisplay EyeState;
  uint64_t SpectrumPresented = 0;
  uint64_t EyePresented = 0;
};

}  // namespace brontel
