#include "dsp/frequency_control.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brontel {

void TFrequencyControl::Reset()
{
  offset_ = 0.0;
  lagHigh_ = lagLow_ = vec_ = {};
  absHigh_ = absLow_ = absAvg_ = 0.0;
  longHigh_ = longLow_ = longVec_ = {};
  longAbs_ = 0.0;
  prevHigh_ = prevHigh2_ = 0.5;
}

double TFrequencyControl::Bit(double highChance, bool present, bool settled, bool locked, bool hit, int absentBits)
{
  const double w = std::clamp(highChance, 0.0, 1.0);
  if (!hit) {
    // Both tones' products, each as likely as its tone was the one sent
    // (twice, so that the sum keeps the scale of one tone per bit).
    vec_ += Smooth * (2.0 * (w * lagHigh_ + (1.0 - w) * lagLow_) - vec_);
    absAvg_ += Smooth * (2.0 * (w * absHigh_ + (1.0 - w) * absLow_) - absAvg_);
  }
  // The products two bits apart count where the same tone was sent in all
  // three bits (a tone's phase is its own only across bits of that tone).
  const double sameHigh = w * prevHigh_ * prevHigh2_, sameLow = (1.0 - w) * (1.0 - prevHigh_) * (1.0 - prevHigh2_);
  if (!hit) {
    const cplx v = sameHigh * longHigh_ + sameLow * longLow_;
    longVec_ += Smooth * (v - longVec_);
    longAbs_ += Smooth * (std::abs(v) - longAbs_);
  }
  prevHigh2_ = prevHigh_;
  prevHigh_ = w;
  longHigh_ = longLow_ = {};
  lagHigh_ = lagLow_ = {};
  absHigh_ = absLow_ = 0.0;
  if (hit) return offset_;
  if (settled || locked) {
    // Near the signal's frequency: the products two bits apart, a limited
    // step per bit (smaller once locked); when they disagree, the
    // correction holds.
    if (present && longAbs_ > 0.0 && std::abs(longVec_) > Coherence * longAbs_) {
      const double errHz = std::arg(longVec_) * rate_ / (2.0 * std::numbers::pi * LongLag);
      const double limit = locked ? TrackStep : SettleStep;
      const double step = std::clamp((locked ? TrackGain : AcquireGain) * errHz, -limit, limit);
      offset_ = std::clamp(offset_ + step, -MaxOffset, MaxOffset);
    }
    return offset_;
  }
  if (present && absAvg_ > 0.0 && std::abs(vec_) > Coherence * absAvg_) {
    const double errHz = std::arg(vec_) * rate_ / (2.0 * std::numbers::pi * lag_);
    const double step = AcquireGain * errHz;
    offset_ = std::clamp(offset_ + step, -MaxOffset, MaxOffset);
  } else if (absentBits > ForgetBits) {
    offset_ *= Fade;
  }
  return offset_;
}

}  // namespace brontel
