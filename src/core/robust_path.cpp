#include "core/robust_path.h"

#include <algorithm>
#include <cmath>

#include "dsp/rates.h"

namespace brontel {

namespace {
constexpr std::size_t Chunk = FramesPerBlock;  // samples handed to the demodulator at once
// Baseband samples held: a bit is put out a few bits after its end, so a
// second of signal is plenty; the oldest are dropped in steps of that much.
constexpr std::size_t Keep = 2100;
}  // namespace

void TRobustPath::TBitTones::Baseband(std::complex<double> sample)
{
  if (Samples_.size() >= 2 * Keep) {
    const std::size_t drop = Samples_.size() - Keep;
    Samples_.erase(Samples_.begin(), Samples_.begin() + static_cast<long>(drop));
    First_ += drop;
  }
  Samples_.push_back(sample);
}

void TRobustPath::TBitTones::Bit(const TBitPlace& place)
{
  TBitObservation o;
  o.Period = place.Period;
  o.Noise = place.Noise;
  o.Amplitude = std::sqrt(0.5 * std::max(0.0, place.LevelHigh + place.LevelLow));
  o.OffsetHz = place.OffsetHz;
  // The bit's length follows the spacing of the bits' ends (a jump of more
  // than half a bit starts again from the demodulator's period).
  const double err = place.End - (GridEnd_ + GridPeriod_);
  if (std::abs(err) > 0.5 * place.Period)
    GridPeriod_ = place.Period;
  else
    GridPeriod_ += 0.25 * err;
  GridEnd_ = place.End;
  const double start = GridEnd_ - GridPeriod_ - static_cast<double>(First_);
  o.Period = GridPeriod_;
  ToneCorrelations(Samples_, start, place.Period, std::span<TToneCorr>(&o.Tones, 1));
  // And a little earlier and later, for the whole-character timing.
  o.Early = ShiftedToneCorrelation(Samples_, start, place.Period, -TCharTiming::Step);
  o.Late = ShiftedToneCorrelation(Samples_, start, place.Period, TCharTiming::Step);
  Ready.push_back(o);
}

void TRobustPath::TBitTones::Reset()
{
  Samples_.clear();
  First_ = 0;
  Ready.clear();
  GridEnd_ = -1e9;
  GridPeriod_ = 21.0;
}

TRobustPath::TRobustPath(double centreHz, const TRobustDecoderParams& params)
    : Demod_(centreHz), Decoder_(params), Whole_(params.WholeCharacters != 0), Soft_(TRobustDemod::MaxBitsFor(Chunk))
{
  if (Whole_) Demod_.SetBasebandSink(&Bits_);
}

void TRobustPath::Process(std::span<const double> left44100, TTextStore& text)
{
  while (!left44100.empty()) {
    const std::size_t n = std::min(Chunk, left44100.size());
    const std::size_t bits = Demod_.Process(left44100.first(n), Soft_);
    left44100 = left44100.subspan(n);
    if (!Whole_) {
      Decoder_.Process(std::span<const double>(Soft_).first(bits), text);
      continue;
    }
    // Each soft value with its bit's tones (they came in the same order).
    Observed_.clear();
    for (std::size_t i = 0; i < bits; ++i) {
      Observed_.push_back(Bits_.Ready.empty() ? TBitObservation{} : Bits_.Ready.front());
      if (!Bits_.Ready.empty()) Bits_.Ready.pop_front();
      Observed_.back().Soft = Soft_[i];
    }
    Decoder_.Process(Observed_, text);
  }
}

}  // namespace brontel
