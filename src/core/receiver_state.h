// The receiver: every channel's stage states and block buffers, and the
// settings the driver reads.
//
// Everything starts at zero and is never reset while the program runs: filter
// histories, oscillator phase, the bit clock and the decoder carry on from
// block to block, so the input is processed as one continuous stream.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "decoder/character_sync.h"
#include "core/robust_path.h"
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

// The two ways the received signal becomes text: the exact chain above, and
// the robust path (its own demodulator and decoder), which runs beside it when
// it has been started.
enum class TDecoderPath : uint8_t { Exact, Robust };

// What the status labels and status reports show of a decoder.
struct TDecoderStatus {
  bool EngMode = false;
  bool Inverted = false;
  bool InSync = false;
  bool operator==(const TDecoderStatus&) const = default;
};

struct TReceiver {
  std::array<TChannelState, ChannelCount> Channels{};
  std::array<double, BlockLen> MixedBuf{};  // mixer output of the current block
  double CentF = 800.0;                     // centre of the received tone pair, Hz
  bool DispSpectrum = true;
  bool DispEyepattern = true;
  TTextStore Text;                          // the exact path's text
  TBlockDisplays* Displays = nullptr;

  // The exact chain runs (false: nothing reads it, only the robust path is
  // fed; channel states stay as they are and a block takes no exact bits).
  bool ExactRuns = true;
  std::unique_ptr<TRobustPath> Robust;      // null until the robust path is started
  TTextStore RobustText;                    // the robust path's text
  TDecoderPath Shown = TDecoderPath::Exact; // the path whose status the labels show
};

}  // namespace brontel
