#include "dsp/fine_frequency.h"

#include <algorithm>
#include <cmath>
#include <bit>
#include <numbers>

namespace brontel {

namespace {

using cplx = std::complex<double>;
constexpr double TwoPi = 2.0 * std::numbers::pi;

}  // namespace

TFineFrequency::TFineFrequency(double memory) : keep_(1.0 - 1.0 / std::max(1.0, memory)) { Reset(); }

void TFineFrequency::Reset()
{
  high_ = chardet::ToneHz;
  low_ = -chardet::ToneHz;
  period_ = 21.0;
  spread_ = 1e9;
  bins_.fill({});
  runs_.fill({});
}

void TFineFrequency::Moved(double hz)
{
  if (!std::isfinite(hz)) return;
  high_ = std::clamp(high_ - hz, chardet::ToneHz - MaxErrorHz, chardet::ToneHz + MaxErrorHz);
  low_ = std::clamp(low_ - hz, -chardet::ToneHz - MaxErrorHz, -chardet::ToneHz + MaxErrorHz);
}

TCharChannel TFineFrequency::Apply(TCharChannel ch) const
{
  ch.HighHz = high_;
  ch.LowHz = low_;
  return ch;
}

void TFineFrequency::Add(std::span<const TToneCorr> tones, uint16_t word, double period, double weight)
{
  const int n = std::min<int>(static_cast<int>(tones.size()), chardet::MaxBits);
  if (!(weight > 0.0) || !(period > 0.0) || n < 2) return;
  for (int k = 0; k < n; ++k)  // a broken correlation would spoil the bins for good
    if (!std::isfinite(std::norm(tones[static_cast<std::size_t>(k)].High) + std::norm(tones[static_cast<std::size_t>(k)].Low)))
      return;
  weight = std::min(weight, 1.0);
  period_ = period;
  // What is left of each bit once the waveform of the decided word is taken off.
  const double t = period / chardet::Rate;
  cplx d[chardet::MaxBits];
  double phi = 0.0;
  for (int k = 0; k < n; ++k) {
    const bool high = (word >> k) & 1;
    const double f = high ? high_ : low_, nominal = high ? chardet::ToneHz : -chardet::ToneHz;
    const cplx c = high ? tones[static_cast<std::size_t>(k)].High : tones[static_cast<std::size_t>(k)].Low;
    // The correlation with the nominal tone turns, on average over the bit,
    // by half the bit's turn at the difference.
    d[k] = c * std::polar(1.0, -(phi + std::numbers::pi * (f - nominal) * t));
    phi += TwoPi * f * t;
  }
  auto forget = [this](TBin& b) {
    b.Sum *= keep_;
    b.Power *= keep_;
    b.Count *= keep_;
  };
  std::for_each(bins_.begin(), bins_.end(), forget);
  std::for_each(runs_.begin(), runs_.end(), forget);
  for (int lag = 1; lag <= MaxLag; ++lag)
    for (int k = 0; k + lag < n; ++k) {
      const unsigned span = (word >> k) & ((2u << lag) - 1);  // bits k … k + lag
      const int high = std::popcount(span & ((1u << lag) - 1));
      const cplx p = d[k + lag] * std::conj(d[k]);
      TBin& b = span == 0 || span == (2u << lag) - 1 ? Run(lag, span != 0) : Bin(lag, high);
      b.Sum += weight * p;
      b.Power += weight * std::norm(p);
      b.Count += weight;
    }
  double dHigh, dLow, spread;
  if (!Fit(dHigh, dLow, spread)) return;
  const double newHigh = std::clamp(high_ + dHigh, chardet::ToneHz - MaxErrorHz, chardet::ToneHz + MaxErrorHz);
  const double newLow = std::clamp(low_ + dLow, -chardet::ToneHz - MaxErrorHz, -chardet::ToneHz + MaxErrorHz);
  dHigh = newHigh - high_;
  dLow = newLow - low_;
  high_ = newHigh;
  low_ = newLow;
  spread_ = spread;
  // The bins now describe what is left after the new estimate.
  for (int lag = 1; lag <= MaxLag; ++lag) {
    for (int h = 0; h <= lag; ++h) Bin(lag, h).Sum *= std::polar(1.0, -TwoPi * t * (h * dHigh + (lag - h) * dLow));
    Run(lag, false).Sum *= std::polar(1.0, -TwoPi * t * lag * dLow);
    Run(lag, true).Sum *= std::polar(1.0, -TwoPi * t * lag * dHigh);
  }
}

bool TFineFrequency::Fit(double& dHigh, double& dLow, double& spread) const
{
  const double t = period_ / chardet::Rate;
  // Lag 1 over runs alone: each bin is one tone's turn over one bit (with
  // no runs yet, all lag-1 products).
  auto lagOne = [&](bool high) {
    const TBin& r = Run(1, high);
    return r.Count >= 0.5 ? r.Sum : r.Sum + Bin(1, high ? 1 : 0).Sum;
  };
  const double coarse[2] = {std::arg(lagOne(false)) / (TwoPi * t), std::arg(lagOne(true)) / (TwoPi * t)};
  // Weighted least squares over all bins, each angle unwrapped around the
  // coarse estimate; the weight is the inverse variance of the bin's angle,
  // from the spread of its products (bins whose products do not add up
  // coherently are left out: for them the variance says nothing).
  struct TRow {
    double Gh, Gl, Angle, W;
  };
  std::array<TRow, MaxLag * (MaxLag + 3) / 2 + 2 * MaxLag> rows;
  int used = 0;
  auto take = [&](const TBin& bin, int lag, int h) {
    const double s2 = std::norm(bin.Sum);
    if (bin.Count < 0.5 || s2 <= 0.0) return;
    const double meanPower = bin.Power / bin.Count;
    const double scatter = std::max(meanPower - s2 / (bin.Count * bin.Count), 1e-3 * meanPower);
    const double var = bin.Count * scatter / (2.0 * s2);  // of the angle, rad²
    if (var > MaxAngleVar) return;  // not coherent (yet): its angle means little
    const double gh = TwoPi * t * h, gl = TwoPi * t * (lag - h);
    const double predicted = gh * coarse[1] + gl * coarse[0];
    rows[static_cast<std::size_t>(used++)] = {gh, gl, predicted + std::remainder(std::arg(bin.Sum) - predicted, TwoPi), 1.0 / var};
  };
  for (int lag = 1; lag <= MaxLag; ++lag) {
    for (int h = 0; h <= lag; ++h) take(Bin(lag, h), lag, h);
    take(Run(lag, false), lag, 0);
    take(Run(lag, true), lag, lag);
  }
  double a11 = 0.0, a12 = 0.0, a22 = 0.0, b1 = 0.0, b2 = 0.0;
  for (int i = 0; i < used; ++i) {
    const TRow& r = rows[static_cast<std::size_t>(i)];
    a11 += r.W * r.Gh * r.Gh;
    a12 += r.W * r.Gh * r.Gl;
    a22 += r.W * r.Gl * r.Gl;
    b1 += r.W * r.Gh * r.Angle;
    b2 += r.W * r.Gl * r.Angle;
  }
  const double det = a11 * a22 - a12 * a12;
  if (!(det > 0.0)) return false;
  // The spread of the fit, widened when the bins disagree more than their
  // variances allow (a transmitter whose phase is not continuous).
  const double fitHigh = (a22 * b1 - a12 * b2) / det, fitLow = (a11 * b2 - a12 * b1) / det;
  double chi2 = 0.0;
  for (int i = 0; i < used; ++i) {
    const TRow& r = rows[static_cast<std::size_t>(i)];
    chi2 += r.W * std::pow(r.Angle - r.Gh * fitHigh - r.Gl * fitLow, 2);
  }
  const double inflate = used > 2 ? std::max(1.0, chi2 / (used - 2)) : 1.0;
  spread = std::sqrt(inflate * std::max(a22, a11) / det);
  // The step, drawn towards no change by a prior of PriorHz on each tone,
  // and the tones towards their nominal places (where the demodulator's
  // frequency control put them) by one of NominalHz: while the bins say
  // little (decisions still uncertain, a weak signal) the estimate stays
  // near the demodulator's rather than wandering with its own errors.
  const double p = 1.0 / (PriorHz * PriorHz), q = 1.0 / (NominalHz * NominalHz);
  const double c1 = b1 - q * (high_ - chardet::ToneHz), c2 = b2 - q * (low_ + chardet::ToneHz);
  const double r11 = a11 + p + q, r22 = a22 + p + q, rdet = r11 * r22 - a12 * a12;
  dHigh = (r22 * c1 - a12 * c2) / rdet;
  dLow = (r11 * c2 - a12 * c1) / rdet;
  return std::isfinite(dHigh) && std::isfinite(dLow);
}

}  // namespace brontel
