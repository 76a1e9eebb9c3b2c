// The receiver: every channel's stage states and block buffers, and the
// settings the driver reads.
//
// Everything starts at zero and is never reset while the program runs: filter
// histories, oscillator phase, the bit clock and the decoder carry on from
// block to block, so the input is processed as one continuous stream.
#pragma once

#include <array>
#include <cstdint>

#include "decoder/character_sync.h"
#include "decoder/text_output.h"
#include "dsp/bandpass.h"
#include "dsp/bit_timing.h"
#include "dsp/decimate.h"
#include "dsp/discriminator.h"
#include "dsp/mixer.h"
#include "dsp/rates.h"

namespace brontel {

inline constexpr int ChannelCount = 2;    // channel states kept (0 = left)
inline constexpr int ActiveChannels = 1;  // channels demodulated: only the left

// One channel: the state of each stage (their members are the channel's), and
// the buffers that carry a block from stage to stage.
struct TChannelState : TDecimator, TMixer, TBandPass, TDiscriminator, TBitClock, TBitBlock, TCharDecoder {
  std::array<double, FramesPerBlock> WorkBuf{};  // the block's raw 16-bit samples as doubles
  std::array<double, BlockLen> DecimBuf{};       // decimated
  std::array<double, BlockLen> BandBuf{};        // band-passed
  std::array<double, BlockLen> PhaseBuf{};       // instantaneous phase of each band-passed sample
  std::array<double, BlockLen> DiscBuf{};        // post-detection filtered deviation
  std::array<double, BlockLen> ClockBuf{};       // sliced clock, +10 or -10
  std::array<uint8_t, BlockLen> SampleFlags{};   // 1 where a bit was taken
};

// The display side of the per-block driver. The driver calls these in the
// documented order; a headless run leaves the pointer null.
class TBlockDisplays {
public:
  virtual ~TBlockDisplays() = default;
  virtual void DrawEyePattern(int ch, bool redrawGrid, int lowCount, int highCount) = 0;
  virtual void AnalyseSpectrum() = 0;
  virtual void DrawSpectrum() = 0;
};

struct TReceiver {
  std::array<TChannelState, ChannelCount> Channels{};
  std::array<double, BlockLen> MixedBuf{};  // mixer output of the current block
  double CentF = 800.0;                     // centre of the received tone pair, Hz
  bool DispSpectrum = true;
  bool DispEyepattern = true;
  TTextStore Text;
  TBlockDisplays* Displays = nullptr;
};

}  // namespace brontel
