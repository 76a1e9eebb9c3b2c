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
}

double TFrequencyControl::Bit(double highChance, bool present, bool locked, bool hit, int absentBits)
{
  const double w = std::clamp(highChance, 0.0, 1.0);
  if (!hit) {
    // Both tones' products, each as likely as its tone was the one sent
    // (twice, so that the sum keeps the scale of one tone per bit).
    vec_ += Smooth * (2.0 * (w * lagHigh_ + (1.0 - w) * lagLow_) - vec_);
    absAvg_ += Smooth * (2.0 * (w * absHigh_ + (1.0 - w) * absLow_) - absAvg_);
  }
  lagHigh_ = lagLow_ = {};
  absHigh_ = absLow_ = 0.0;
  if (hit) return offset_;
  if (present && absAvg_ > 0.0 && std::abs(vec_) > Coherence * absAvg_) {
    const double errHz = std::arg(vec_) * rate_ / (2.0 * std::numbers::pi * lag_);
    const double step = locked ? std::clamp(TrackGain * errHz, -TrackStep, TrackStep) : AcquireGain * errHz;
    offset_ = std::clamp(offset_ + step, -MaxOffset, MaxOffset);
  } else if (absentBits > ForgetBits) {
    offset_ *= Fade;
  }
  return offset_;
}

}  // namespace brontel
