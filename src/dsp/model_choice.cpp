#include "dsp/model_choice.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace brontel {

TModelChoice::TModelChoice(int models, double memory)
    : models_(std::clamp(models, 2, MaxModels)), keep_(1.0 - 1.0 / std::max(1.0, memory))
{
  Reset();
}

void TModelChoice::Reset()
{
  score_.fill(0.0);
  for (int m = 0; m < models_ - 1; ++m) score_[static_cast<std::size_t>(m)] = -StartOdds;
  Weigh();
}

void TModelChoice::Add(std::span<const double> evidence)
{
  double top = -std::numeric_limits<double>::infinity();
  for (int m = 0; m < models_; ++m) top = std::max(top, evidence[static_cast<std::size_t>(m)]);
  if (!std::isfinite(top)) return;  // nothing to learn from (or a broken input)
  double best = -std::numeric_limits<double>::infinity();
  for (int m = 0; m < models_; ++m) {
    const double e = evidence[static_cast<std::size_t>(m)];
    // (A character that barely rises above the noise tells little either
    // way: the margin grows with its evidence.)
    const double margin = m < models_ - 1 ? SafeMargin * std::clamp(top / MarginEvidence, 0.0, 1.0) : 0.0;
    const double step = std::isnan(e) ? -StepLimit : std::max(-StepLimit, e - top - margin);
    score_[static_cast<std::size_t>(m)] = keep_ * score_[static_cast<std::size_t>(m)] + step;
    best = std::max(best, score_[static_cast<std::size_t>(m)]);
  }
  for (int m = 0; m < models_; ++m)
    score_[static_cast<std::size_t>(m)] = std::max(-OddsLimit, score_[static_cast<std::size_t>(m)] - best);
  Weigh();
}

void TModelChoice::Weigh()
{
  double sum = 0.0;
  for (int m = 0; m < models_; ++m) sum += std::exp(score_[static_cast<std::size_t>(m)]);
  for (int m = 0; m < MaxModels; ++m) {
    const double w = m < models_ ? std::exp(score_[static_cast<std::size_t>(m)]) / sum : 0.0;
    weight_[static_cast<std::size_t>(m)] = w;
    logW_[static_cast<std::size_t>(m)] = m < models_ ? std::log(w) : -std::numeric_limits<double>::infinity();
  }
}

int TModelChoice::Chosen() const
{
  return static_cast<int>(std::max_element(weight_.begin(), weight_.begin() + models_) - weight_.begin());
}

double TModelChoice::Mix(std::span<const double> ll) const
{
  double top = -std::numeric_limits<double>::infinity();
  for (int m = 0; m < models_; ++m) top = std::max(top, ll[static_cast<std::size_t>(m)] + logW_[static_cast<std::size_t>(m)]);
  if (!std::isfinite(top)) return top;
  double sum = 0.0;
  for (int m = 0; m < models_; ++m) sum += std::exp(ll[static_cast<std::size_t>(m)] + logW_[static_cast<std::size_t>(m)] - top);
  return top + std::log(sum);
}

}  // namespace brontel
