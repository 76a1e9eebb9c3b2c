#include "dsp/rate_line.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brontel {

namespace {
constexpr double TwoPi = 2.0 * std::numbers::pi;
}

TBitRateLine::TBitRateLine()
{
  for (int n = 0; n < NominalPeriod; ++n) rot_[n] = std::polar(1.0, -TwoPi * n / NominalPeriod);
}

void TBitRateLine::Reset()
{
  acc_ = prev_ = turn_ = {};
  mag_ = 0.0;
  index_ = count_ = windows_ = agree_ = 0;
  last_ = 0.0;
}

double TBitRateLine::EndWindow(double period, bool present)
{
  count_ = 0;
  // acc·conj(prev): the turn since the previous window.
  const cplx turn{acc_.real() * prev_.real() + acc_.imag() * prev_.imag(),
                  acc_.imag() * prev_.real() - acc_.real() * prev_.imag()};
  const double mag = std::abs(turn);
  prev_ = acc_;
  acc_ = {};
  turn_ += Smooth * (turn - turn_);
  mag_ += Smooth * (mag - mag_);
  if (windows_ < WarmWindows) ++windows_;
  if (!present || windows_ < WarmWindows || !(mag_ > 0.0) || std::abs(turn_) < Coherence * mag_) {
    agree_ = 0;
    return period;
  }
  const double measured = 1.0 / (1.0 / NominalPeriod + std::arg(turn_) / (TwoPi * Window));
  agree_ = std::abs(measured - last_) < Agree ? agree_ + 1 : 0;
  last_ = measured;
  // The angle's spread follows from the coherence c: about √(1 − c²)/c.
  const double c = std::min(0.999, std::abs(turn_) / mag_);
  const double spread = measured * measured * std::sqrt(1.0 - c * c) / (c * TwoPi * Window);
  if (agree_ >= AgreeRuns && std::abs(measured - period) > std::max(AssistMin, Spreads * spread) &&
      measured > MinPeriod && measured < MaxPeriod)
    return measured;
  return period;
}

}  // namespace brontel
