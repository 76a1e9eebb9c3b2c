#include "dsp/robust_demod.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brontel {

namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;
constexpr double ToneHz = 85.0;  // each tone's distance from the centre

// Noise power floor of one correlator output: the rounding noise of 16-bit
// input after the decimator and a one-bit sum is about 0.056.
constexpr double NoiseFloor = 0.05;

// Averaging lengths, in bits.
constexpr double SlowBits = 200.0;  // noise and mean signal power (2 s)
constexpr double FastBits = 4.0;    // signal power under fading (40 ms)

// Bit-timing loop: proportional gain (samples per unit of timing error) and
// integral gain (samples per bit per unit of error), while acquiring and
// once the signal has been present for a while.
constexpr double AcqKp = 0.5, AcqKi = 0.008;
constexpr double TrackKp = 0.25, TrackKi = 0.0025;
constexpr int AcquireBits = 300;

// Frequency loop: smoothing of the lag product, gain on the frequency error,
// the coherence below which the estimate is taken for noise.
constexpr double AfcSmooth = 0.04, AfcGain = 0.02, AfcCoherence = 0.4;
constexpr int AfcForgetBits = 500;  // with nothing heard this long, the correction fades

// Presence thresholds on the estimated Eb/N0 (linear): on above 3.5 dB, off below 2 dB.
constexpr double PresentOn = 2.2387, PresentOff = 1.5849;

// ln I0(x) for x >= 0: power series below 3.75, asymptotic expansion above.
double LogBesselI0(double x)
{
  if (x < 3.75) {
    const double t = (x / 3.75) * (x / 3.75);
    return std::log(1.0 + t * (3.5156229 + t * (3.0899424 + t * (1.2067492 +
                          t * (0.2659732 + t * (0.0360768 + t * 0.0045813))))));
  }
  const double inv = 1.0 / x;
  return x - 0.5 * std::log(TwoPi * x) + std::log(1.0 + inv * (0.125 + inv * 0.0703125));
}

}  // namespace

TRobustDemod::TRobustDemod(double centreHz)
{
  for (int n = 0; n < RotPeriod; ++n) toneRot_[n] = std::polar(1.0, -TwoPi * ToneHz * n / Rate);
  SetCentre(centreHz);
  Reset();
}

void TRobustDemod::SetCentre(double hz)
{
  centre_ = std::isnan(hz) ? 800.0 : std::clamp(hz, MinCentre, MaxCentre);
  offset_ = 0.0;
  SetOscillator();
}

void TRobustDemod::SetOscillator()
{
  const double f = centre_ + offset_;
  for (int r = 0; r < Decimation; ++r) {
    rot1_[r] = std::polar(1.0, -TwoPi * f * r / InputRate);
    rot2_[r] = static_cast<double>(r + 1) * rot1_[r];
  }
  rotBlock_ = std::polar(1.0, -TwoPi * f * Decimation / InputRate);
}

void TRobustDemod::Reset()
{
  offset_ = 0.0;
  SetOscillator();
  phasor_ = {1.0, 0.0};
  sumPlain_ = sumRamp_ = prevRamp_ = {};
  inBlock_ = 0;
  blocks_ = 0;
  lineHigh_.fill({});
  lineLow_.fill({});
  accHigh_ = accLow_ = {};
  line_ = rotIndex_ = 0;
  histHigh_.fill({});
  histLow_.fill({});
  hist_ = 0;
  period_ = untilBit_ = NominalBitLen;
  prevDecision_ = 0.0;
  slowP_ = slowK_ = fastP_ = 0.0;
  noise_ = NoiseFloor;
  signal_ = 0.0;
  bitsSeen_ = 0;
  present_ = false;
  afcLag_ = afcVec_ = {};
  afcAbs_ = afcAbsAvg_ = 0.0;
  absentBits_ = 0;
  pendingHead_ = pendingCount_ = 0;
  bitsOut_ = badSamples_ = droppedBits_ = 0;
}

double TRobustDemod::EbN0Db() const
{
  return signal_ > 0.0 ? 10.0 * std::log10(signal_ / noise_) : -99.0;
}

double TRobustDemod::SnrDb() const
{
  // Eb/N0 = SNR · 500 Hz / 100 Bd.
  return signal_ > 0.0 ? EbN0Db() - 10.0 * std::log10(5.0) : -99.0;
}

std::size_t TRobustDemod::Process(std::span<const double> in, std::span<double> out)
{
  out_ = out;
  written_ = 0;
  while (pendingCount_ > 0 && written_ < out_.size()) {
    out_[written_++] = pending_[pendingHead_];
    pendingHead_ = (pendingHead_ + 1) % PendingLimit;
    --pendingCount_;
  }

  for (double x : in) {
    if (!(x >= -40000.0 && x <= 40000.0)) {
      x = 0.0;
      ++badSamples_;
    }
    sumPlain_ += x * rot1_[inBlock_];
    sumRamp_ += x * rot2_[inBlock_];
    if (++inBlock_ < Decimation) continue;

    // One output of the triangular window: the previous block weighted
    // 1 … 21, this block 20 … 0; unit gain at 0 Hz.
    inBlock_ = 0;
    const cplx plain = phasor_ * sumPlain_, ramp = phasor_ * sumRamp_;
    const cplx y = (prevRamp_ + static_cast<double>(Decimation) * plain - ramp) *
                   (1.0 / (Decimation * Decimation));
    prevRamp_ = ramp;
    sumPlain_ = sumRamp_ = {};
    phasor_ *= rotBlock_;
    phasor_ /= std::abs(phasor_);
    Decimated(y);
  }
  out_ = {};
  return written_;
}

void TRobustDemod::Decimated(cplx y)
{
  // Sliding one-bit sums of the signal shifted down by 85 Hz (higher tone)
  // and up by 85 Hz (lower tone).
  const cplx high = y * toneRot_[rotIndex_], low = y * std::conj(toneRot_[rotIndex_]);
  accHigh_ += high - lineHigh_[line_];
  accLow_ += low - lineLow_[line_];
  lineHigh_[line_] = high;
  lineLow_[line_] = low;
  if (++line_ == NominalBitLen) line_ = 0;
  if (++rotIndex_ == RotPeriod) {
    // Recompute the sums now and then so that rounding cannot build up.
    rotIndex_ = 0;
    accHigh_ = accLow_ = {};
    for (int k = 0; k < NominalBitLen; ++k) {
      accHigh_ += lineHigh_[k];
      accLow_ += lineLow_[k];
    }
  }
  hist_ = (hist_ + 1) % HistLen;
  histHigh_[hist_] = accHigh_;
  histLow_[hist_] = accLow_;

  // Lag product of each correlator with itself LagAfc samples earlier: its
  // angle is the frequency error of the tones.
  const int lagged = (hist_ + HistLen - LagAfc) % HistLen;
  afcLag_ += accHigh_ * std::conj(histHigh_[lagged]) + accLow_ * std::conj(histLow_[lagged]);
  afcAbs_ += 0.5 * (std::norm(accHigh_) + std::norm(histHigh_[lagged]) + std::norm(accLow_) +
                    std::norm(histLow_[lagged]));

  untilBit_ -= 1.0;
  if (untilBit_ <= 0.0) BitInstant(-untilBit_);
}

TRobustDemod::cplx TRobustDemod::HistAt(const std::array<cplx, HistLen>& h, double back) const
{
  const int i = static_cast<int>(back);
  const double g = back - i;
  const cplx a = h[(hist_ + HistLen - i) % HistLen], b = h[(hist_ + 2 * HistLen - i - 1) % HistLen];
  return a + g * (b - a);
}

void TRobustDemod::BitInstant(double frac)
{
  // Correlator outputs at the bit instant and half a bit before it.
  const cplx zh = HistAt(histHigh_, frac), zl = HistAt(histLow_, frac);
  const double half = frac + 0.5 * period_;
  const cplx mh = HistAt(histHigh_, half), ml = HistAt(histLow_, half);
  const double rh2 = std::norm(zh), rl2 = std::norm(zl);

  // Noise power from moments that need no decision: with signal power a²
  // and noise power u in each correlator, E[rh² + rl²] = a² + 2u and
  // E[4·rh²·rl²] = 4u(a² + u), whichever tone is sent and however a² fades.
  const double p = rh2 + rl2, k = 4.0 * rh2 * rl2;
  ++bitsSeen_;
  const double slow = std::max(1.0 / static_cast<double>(bitsSeen_), 1.0 / SlowBits);
  const double fast = std::max(1.0 / static_cast<double>(bitsSeen_), 1.0 / FastBits);
  slowP_ += slow * (p - slowP_);
  slowK_ += slow * (k - slowK_);
  fastP_ += fast * (p - fastP_);
  const double root = std::sqrt(std::max(0.0, slowP_ * slowP_ - slowK_));
  noise_ = std::max(NoiseFloor, 0.5 * (slowP_ - root));
  signal_ = std::max(0.0, slowP_ - 2.0 * noise_);

  // Log-likelihood ratio of the two tones for a non-coherent detector with
  // the current amplitude estimate a (both tones faded alike).
  const double a = std::sqrt(std::max(0.0, fastP_ - 2.0 * noise_));
  const double scale = 2.0 * a / noise_;
  double llr = LogBesselI0(scale * std::sqrt(rh2)) - LogBesselI0(scale * std::sqrt(rl2));
  llr = std::clamp(llr, -MaxLlr, MaxLlr);

  // Presence with hysteresis on the mean Eb/N0.
  const double ebn0 = signal_ / noise_;
  if (bitsSeen_ > 30) present_ = present_ ? ebn0 > PresentOff : ebn0 > PresentOn;
  absentBits_ = present_ ? 0 : absentBits_ + 1;

  // Timing: at a change of tone the detector output half a bit earlier is
  // zero when the instants are right; its sign says early or late.
  const double norm = fastP_ + NoiseFloor;
  const double d = std::clamp((rh2 - rl2) / norm, -2.0, 2.0);
  const double dm = std::clamp((std::norm(mh) - std::norm(ml)) / norm, -2.0, 2.0);
  const double err = dm * (prevDecision_ - d);
  prevDecision_ = d;
  const bool acquiring = absentBits_ > 0 || bitsSeen_ < AcquireBits;
  const double kp = acquiring ? AcqKp : TrackKp, ki = acquiring ? AcqKi : TrackKi;
  if (present_)
    period_ = std::clamp(period_ + ki * err, 20.0, 22.0);
  else
    period_ += 0.01 * (NominalBitLen - period_);
  untilBit_ += std::max(0.5 * period_, period_ + kp * err);

  // Frequency: smoothed lag product; follow it while it is coherent.
  afcVec_ += AfcSmooth * (afcLag_ - afcVec_);
  afcAbsAvg_ += AfcSmooth * (afcAbs_ - afcAbsAvg_);
  afcLag_ = {};
  afcAbs_ = 0.0;
  const double before = offset_;
  if (std::abs(afcVec_) > AfcCoherence * afcAbsAvg_ && afcAbsAvg_ > 0.0) {
    const double errHz = std::arg(afcVec_) * Rate / (TwoPi * LagAfc);
    offset_ = std::clamp(offset_ + AfcGain * errHz, -MaxOffset, MaxOffset);
  } else if (absentBits_ > AfcForgetBits) {
    offset_ *= 0.995;
  }
  if (offset_ != before) SetOscillator();

  Emit(llr);
}

void TRobustDemod::Emit(double v)
{
  ++bitsOut_;
  if (pendingCount_ == 0 && written_ < out_.size()) {
    out_[written_++] = v;
    return;
  }
  if (pendingCount_ == PendingLimit) {
    pendingHead_ = (pendingHead_ + 1) % PendingLimit;
    --pendingCount_;
    ++droppedBits_;
  }
  pending_[(pendingHead_ + pendingCount_) % PendingLimit] = v;
  ++pendingCount_;
}

}  // namespace brontel
