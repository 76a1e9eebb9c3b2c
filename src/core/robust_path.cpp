#include "core/robust_path.h"

#include <algorithm>

#include "dsp/rates.h"

namespace brontel {

namespace {
constexpr std::size_t Chunk = FramesPerBlock;  // samples handed to the demodulator at once
}

TRobustPath::TRobustPath(double centreHz, const TRobustDecoderParams& params)
    : Demod_(centreHz), Decoder_(params), Soft_(TRobustDemod::MaxBitsFor(Chunk))
{
}

void TRobustPath::Process(std::span<const double> left44100, TTextStore& text)
{
  while (!left44100.empty()) {
    const std::size_t n = std::min(Chunk, left44100.size());
    const std::size_t bits = Demod_.Process(left44100.first(n), Soft_);
    Decoder_.Process(std::span<const double>(Soft_).first(bits), text);
    left44100 = left44100.subspan(n);
  }
}

}  // namespace brontel
