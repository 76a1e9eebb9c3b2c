// The front end written the plain way, sample by sample with shifted
// histories, as the oracle for the receiver's fast block processing.
#pragma once

#include <array>
#include <cstdint>

#include "core/receiver_state.h"

namespace brontel::test {

struct TReferenceChain {
  std::array<double, FramesPerBlock> WorkBuf{};
  std::array<double, DecimTaps> DecimHist{};
  double MixPhase = 0.0, MixOsc = 0.0;
  std::array<double, BandTaps> BandHist{};
  std::array<double, HilbTaps> HilbHist{};
  double LastPhase = 0.0;
  std::array<double, BlockLen> MixedBuf{};
  std::array<double, BlockLen> DiscBuf{};
  std::array<double, PostTaps> PostHist{};
  std::array<double, 3> ResY{};
  std::array<double, ClockDelayLen> ClockDelay{};
  std::array<double, BlockLen> ClockBuf{};
  double PrevClock = 0.0;
  std::array<uint8_t, BlockLen> SampleFlags{};
  std::array<uint8_t, BitBufLen> BitBuf{};
  int BitCount = 0;

  double CentF = 800.0;
  double ResC0 = 0.0, ResC1 = 0.0, ResC2 = 0.0;

  TReferenceChain();
  // One block of interleaved stereo frames; only the left channel is used.
  void ProcessBlock(const int16_t* block);
};

}  // namespace brontel::test
