#include "display/displays.h"

#include <utility>

#include "display/status_labels.h"

namespace brontel {

TDisplays::TDisplays(TReceiver& rx, TTextRenderer* text, TDisplayViews views) : Rx(rx), Views(std::move(views))
{
  InitSpectrumTables(AnalyserState);
  InitSpectrumDisplay(SpectrumState);
  InitEyeDisplay(EyeState);
  SetTextRenderer(text);
  PresentSpectrum();
  PresentEye();
}

TDisplays::~TDisplays()
{
  if (Rx.Displays == this) Rx.Displays = nullptr;
}

void TDisplays::SetTextRenderer(TTextRenderer* text)
{
  SpectrumState.SpectrumBitmap.Text = text;
  EyeState.EyeBitmap.Text = text;
}

void TDisplays::PresentSpectrum()
{
  ++SpectrumPresented;
  if (Views.Image1) Views.Image1(SpectrumState.SpectrumBitmap);
}

void TDisplays::PresentEye()
{
  ++EyePresented;
  if (Views.Image2) Views.Image2(EyeState.EyeBitmap);
}

void TDisplays::DrawEyePattern(int ch, bool redrawGrid, int lowCount, int highCount)
{
  if (!Rx.DispEyepattern) return;
  if (redrawGrid) DrawEyeGrid(EyeState.EyeBitmap);
  // The traces always show channel 0; ch selects the labels.
  const TChannelState& ch0 = Rx.Channels[0];
  AgeEyeHistory(EyeState, ch0.DiscBuf, ch0.SampleFlags);
  DrawEyeTraces(EyeState, lowCount, highCount);
  DrawStatusLabels(EyeState.EyeBitmap, Rx.Channels[ch]);
  PresentEye();
}

void TDisplays::AnalyseSpectrum() { brontel::AnalyseSpectrum(AnalyserState, Rx.MixedBuf); }

void TDisplays::DrawSpectrum()
{
  brontel::DrawSpectrum(SpectrumState, AnalyserState.SpecLevel);
  PresentSpectrum();
}

void TDisplays::Image1Click()
{
  Rx.DispSpectrum = !Rx.DispSpectrum;
  if (!Rx.DispSpectrum) {
    DrawSpectrumOffFrame(SpectrumState.SpectrumBitmap);
    PresentSpectrum();
  } else {
    ClearSpectrumOffLabel(SpectrumState.SpectrumBitmap);
  }
}

void TDisplays::Image2Click()
{
  Rx.DispEyepattern = !Rx.DispEyepattern;
  if (!Rx.DispEyepattern) {
    DrawEyeOffFrame(EyeState.EyeBitmap);
    PresentEye();
  }
}

}  // namespace brontel
