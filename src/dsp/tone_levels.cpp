#include "dsp/tone_levels.h"

#include <algorithm>
#include <cmath>

namespace brontel {

void TToneLevels::Reset()
{
  slowP_ = slowK_ = fastP_ = 0.0;
  shortP_ = shortK_ = 0.0;
  noise_ = NoiseFloor;
  signal_ = 0.0;
  off_.fill(0.0);
  offSum_ = offMean_ = 0.0;
  offPos_ = 0;
  gain_ = 1.0;
  quiet_ = 0.0;
  bits_ = quietBits_ = 0;
}

void TToneLevels::Step(double high2, double low2)
{
  // A bit without input (digital silence: a sound server before anything
  // plays, a squelch) says nothing about the levels; taken in, it would put
  // the gain reference at the rounding floor, and every bit after it would
  // be taken as heard at a huge gain while the reference climbs back.
  if (high2 + low2 < SilentPower) return;
  // The receiver's gain from the weaker tone's power over the last bits.
  ++bits_;
  const double n = static_cast<double>(bits_);
  const double slow = std::max(1.0 / n, 1.0 / SlowBits), fast = std::max(1.0 / n, 1.0 / FastBits);
  const double off = OffLog(high2, low2);
  offSum_ += off - off_[offPos_];
  off_[offPos_] = off;
  offPos_ = (offPos_ + 1) % GainBits;
  offMean_ += std::max(1.0 / n, 1.0 / GainReferenceBits) * (off - offMean_);
  gain_ = GainFor(offSum_ / GainBits, GainSlack);

  // The moments at the long-term gain.
  double p = (high2 + low2) / gain_, k = 4.0 * high2 * low2 / (gain_ * gain_);
  const double brief = std::max(1.0 / n, 1.0 / ShortBits);
  shortP_ += brief * (p - shortP_);
  shortK_ += brief * (k - shortK_);
  const double jump2 = LevelJump * LevelJump;
  if (bits_ > SettledBits && (shortP_ > LevelJump * slowP_ || LevelJump * shortP_ < slowP_ ||
                              shortK_ > jump2 * slowK_ || jump2 * shortK_ < slowK_)) {
    slowP_ = shortP_;
    slowK_ = shortK_;
  }
  if (bits_ > SettledBits) {
    p = std::min(p, StepLimit * slowP_);
    k = std::min(k, StepLimit * StepLimit * slowK_);
  }
  slowP_ += slow * (p - slowP_);
  slowK_ += slow * (k - slowK_);
  fastP_ += fast * (high2 + low2 - fastP_);
  const double root = std::sqrt(std::max(0.0, slowP_ * slowP_ - slowK_));
  noise_ = std::max(NoiseFloor, 0.5 * (slowP_ - root));
  signal_ = std::max(0.0, slowP_ - 2.0 * noise_);
}

void TToneLevels::StepQuiet(double noise2)
{
  ++quietBits_;
  quiet_ += std::max(1.0 / static_cast<double>(quietBits_), 1.0 / SlowBits) * (noise2 / gain_ - quiet_);
}

double TToneLevels::ReportedNoise() const
{
  if (quietBits_ < QuietBits || !(quiet_ > 0.0)) return noise_;
  const double quiet = std::max(NoiseFloor, quiet_);
  return slowP_ - 2.0 * quiet > QuietEbN0 * quiet ? std::min(quiet, noise_) : noise_;
}

double TToneLevels::OffLog(double high2, double low2)
{
  return std::log(std::max(std::min(high2, low2), 1e-3 * NoiseFloor));
}

double TToneLevels::GainFor(double offLogMean, double slack) const
{
  if (bits_ < GainBits) return 1.0;
  // No change within the slack, the whole change beyond twice the slack (in
  // logarithms), a smooth ramp between.
  const double r = std::clamp(offLogMean - offMean_, -20.0, 20.0), s = std::log(slack), m = std::abs(r);
  const double g = m <= s ? 0.0 : m < 2.0 * s ? 2.0 * (m - s) : m;
  return std::exp(r < 0.0 ? -g : g);
}

}  // namespace brontel
