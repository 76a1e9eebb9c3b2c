// Which model of the phase explains the signal: a choice made per stretch.
//
// The whole-character detector assumes the phase runs on through the
// character; the per-bit detector assumes nothing about it from one bit to
// the next. Where the phase is continuous the first is far better, where it
// is not (fast fading, a transmitter that switches between two oscillators,
// a frequency error not yet followed) it fails and the second is right.
// Rather than a switch, the models are mixed: each word's likelihood is
//   p(r | w) = Σ_m q_m · p_m(r | w),
// q_m the probability that model m holds on this stretch of signal, which
// follows from how well each model has explained the characters just
// received (its evidence, the likelihood of the character summed over the
// words, accumulated with forgetting). A model that keeps losing fades to a
// small floor but never to nothing, so one character it explains much better
// still counts.
#pragma once

#include <array>
#include <span>

namespace brontel {

class TModelChoice {
public:
  static constexpr int MaxModels = 3;

  // `models`: how many are weighed (2 … MaxModels), the safe one last;
  // `memory`: characters over which the evidence is gathered (the
  // forgetting time constant).
  explicit TModelChoice(int models = 2, double memory = 24.0);

  // One character's evidence under each model (`evidence[m]`: log of its
  // likelihood against noise alone, e.g. chardet::LogEvidence of the
  // model's word scores). A character moves the odds by at most StepLimit.
  void Add(std::span<const double> evidence);

  // Probability of model m on the current stretch.
  double Weight(int m) const { return weight_[static_cast<std::size_t>(m)]; }
  // The most probable model.
  int Chosen() const;

  // Mixed log-likelihood of one word from its log-likelihood under each model.
  double Mix(std::span<const double> ll) const;

  void Reset();

  static constexpr double StepLimit = 4.0;  // largest change of the log-odds a character makes
  // The last model is the safe one (the per-bit one): every other must
  // explain each character better by this much on average to be preferred,
  // so that where none fits (fast fading) the safe one is kept.
  static constexpr double SafeMargin = 1.0;
  static constexpr double MarginEvidence = 10.0;  // … in full for characters with at least this evidence
  static constexpr double OddsLimit = 14.0;
  // Before any character has been weighed, the safe model is this much more
  // likely (log-odds): a model has to earn the trust that its assumptions hold.
  static constexpr double StartOdds = 3.0;  // a model's log-odds never fall further behind than this

private:
  void Weigh();

  int models_;
  double keep_;
  std::array<double, MaxModels> score_{};   // accumulated evidence, relative to the best
  std::array<double, MaxModels> weight_{};  // probabilities
  std::array<double, MaxModels> logW_{};    // their logarithms
};

}  // namespace brontel
