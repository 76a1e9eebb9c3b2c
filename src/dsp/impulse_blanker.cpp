#include "dsp/impulse_blanker.h"

#include <algorithm>

namespace brontel {

void TImpulseBlanker::Reset()
{
  prev_ = {};
  prevFlag_ = lastBlanked_ = false;
  power_ = 0.0;
  seen_ = run_ = hang_ = 0;
  blanked_ = 0;
}

std::complex<double> TImpulseBlanker::Step(std::complex<double> in)
{
  const double q = std::norm(in);
  bool impulse = false;
  if (seen_ < StartSamples) {
    ++seen_;
    power_ += (q - power_) / seen_;
  } else if (q > Threshold * power_ && q > 0.0) {
    if (++run_ > LongestRun) {
      power_ = q;  // too long for a crash: the new level
      run_ = 0;
    } else {
      impulse = true;
    }
  } else {
    run_ = 0;
    if (hang_ > 0)
      --hang_;
    else
      power_ += Smooth * (std::min(q, StepLimit * power_) - power_);
  }
  const bool flag = impulse || hang_ > 0;
  if (impulse) hang_ = HangSamples;

  const std::complex<double> out = prev_;
  lastBlanked_ = prevFlag_ || impulse;
  blanked_ += lastBlanked_;
  prev_ = in;
  prevFlag_ = flag;
  return lastBlanked_ ? std::complex<double>{} : out;
}

}  // namespace brontel
