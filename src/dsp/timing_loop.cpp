#include "dsp/timing_loop.h"

#include <algorithm>
#include <cmath>

namespace brontel {

void TTimingLoop::Reset()
{
  period_ = until_ = NominalPeriod;
  prevDecision_ = 0.0;
}

void TTimingLoop::Bit(double midHigh2, double midLow2, double power, double llr, bool hit, double ebn0,
                      bool acquiring, bool holding)
{
  const double dm = std::clamp((midHigh2 - midLow2) / power, -MaxError, MaxError);
  const double dd = std::tanh(0.5 * llr);
  const double err = hit ? 0.0 : dm * (prevDecision_ - dd);
  prevDecision_ = dd;
  const double width =
      std::clamp((10.0 * std::log10(ebn0 + 1e-12) - (FullWidthDb - WidthSpanDb)) / WidthSpanDb, WidthMin, 1.0);
  const double kp = width * (acquiring ? AcquireKp : TrackKp), ki = width * width * (acquiring ? AcquireKi : TrackKi);
  if (holding)
    period_ = std::clamp(period_ + ki * err, MinPeriod, MaxPeriod);
  else
    period_ += Homing * (NominalPeriod - period_);
  until_ += std::max(MinPeriod, period_ + kp * err);  // bits never closer than MinPeriod
}

}  // namespace brontel
