// What each tone correlator holds beyond the noise while its tone is not
// being sent: a carrier on or beside that tone until the carrier canceller
// has it (about a second after it appears), another station's tone, a spur.
//
// Per tone, the mean power of the correlator over the bits where the other
// tone was sent (each bit weighed by how likely that was), relative to the
// noise, averaged over a few tens of bits. Where one tone's stands well above
// the other's, the decision leans on the other tone's correlator: the power of
// a tone that holds a carrier says little about whether the tone was sent, the
// absence of power in the other tone says much.
#pragma once

#include <algorithm>

namespace brontel {

class TToneInterference {
public:
  static constexpr double Smooth = 1.0 / 16.0;  // weight of one (not sent) bit
  static constexpr double Heard = 4.0;          // a tone holding less than this many times the other's is clean
  static constexpr double MaxShare = 1e4;       // a bit's power over the noise counts at most this much

  void Reset() { *this = TToneInterference{}; }

  // One bit: how likely the higher tone was sent and each correlator's
  // power over the noise of its time.
  void Step(double highChance, double highOverNoise, double lowOverNoise)
  {
    const double wl = highChance, wh = 1.0 - highChance;  // the weight of each tone's "not sent"
    highSum_ += Smooth * (wh * std::min(highOverNoise, MaxShare) - highSum_);
    highWeight_ += Smooth * (wh - highWeight_);
    lowSum_ += Smooth * (wl * std::min(lowOverNoise, MaxShare) - lowSum_);
    lowWeight_ += Smooth * (wl - lowWeight_);
  }

  // The noise of each correlator as a multiple of the common noise: 1 for a
  // clean tone, otherwise how much more power it holds while it is off than
  // the other tone does while that one is off. What sits on both tones alike
  // (another station's keyed pair, a change of the receiver's gain) leaves
  // the balance between them, and the decision, as it is.
  double HighNoise() const { return Excess(Share(highSum_, highWeight_) / Share(lowSum_, lowWeight_)); }
  double LowNoise() const { return Excess(Share(lowSum_, lowWeight_) / Share(highSum_, highWeight_)); }

private:
  static double Share(double sum, double weight)
  {
    if (!(weight > 0.05)) return 1.0;  // the tone has hardly been off lately
    return std::max(1.0, sum / weight);
  }
  static double Excess(double ratio) { return ratio > Heard ? ratio : 1.0; }

  double highSum_ = 0.0, highWeight_ = 0.0, lowSum_ = 0.0, lowWeight_ = 0.0;
};

}  // namespace brontel
