#include "display/displays.h"

#include <utility>

#include "display/status_labels.h"

namespace brontel {

TDisplays::TDisplays(TReceiver& rx, TTextRenderer* text, TDisplayViews views) : Views(std::move(views)), Rx(rx)
{
  InitSpectrumTables(Analyser);
  InitSpectrumDisplay(Spectrum);
  InitEyeDisplay(Eye);
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
  Spectrum.SpectrumBitmap.Text = text;
  Eye.EyeBitmap.Text = text;
}

void TDisplays::PresentSpectrum()
{
  ++SpectrumPresented;
  if (Views.Image1) Views.Image1(Spectrum.SpectrumBitmap);
}

void TDisplays::PresentEye()
{
  ++EyePresented;
  if (Views.Image2) Views.Image2(Eye.EyeBitmap);
}

void TDisplays::DrawEyePattern(int ch, bool redrawGrid, int lowCount, int highCount)
{
  if (!Rx.DispEyepattern) return;
  if (redrawGrid) DrawEyeGrid(Eye.EyeBitmap);
  // The traces always show channel 0; ch selects the labels.
  const TChannelState& ch0 = Rx.Channels[0];
  AgeEyeHistory(Eye, ch0.DiscBuf, ch0.SampleFlags);
  DrawEyeTraces(Eye, lowCount, highCount);
  DrawStatusLabels(Eye.EyeBitmap, Rx.Channels[ch]);
  PresentEye();
}

void TDisplays::AnalyseSpectrum() { brontel::AnalyseSpectrum(Analyser, Rx.MixedBuf); }

void TDisplays::DrawSpectrum()
{
  brontel::DrawSpectrum(Spectrum, Analyser.SpecLevel);
  PresentSpectrum();
}

void TDisplays::Image1Click()
{
  Rx.DispSpectrum = !Rx.DispSpectrum;
  if (!Rx.DispSpectrum) {
    DrawSpectrumOffFrame(Spectrum.SpectrumBitmap);
    PresentSpectrum();
  } else {
    ClearSpectrumOffLabel(Spectrum.SpectrumBitmap);
  }
}

void TDisplays::Image2Click()
{
  Rx.DispEyepattern = !Rx.DispEyepattern;
  if (!Rx.DispEyepattern) {
    DrawEyeOffFrame(Eye.EyeBitmap);
    PresentEye();
  }
}

}  // namespace brontel
