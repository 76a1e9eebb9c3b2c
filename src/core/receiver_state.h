// Receiver state shared by every processing stage: the constants of the chain,
// the per-channel record of every stage's state and the one receiver object.
//
// Everything starts at zero and is never reset while the program runs: filter
// histories, oscillator phase, the bit clock and the decoder carry on from
// block to block, so the input is processed as one continuous stream.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace brontel {

// --- Chain constants -------------------------------------------------------
inline constexpr int SampleRate = 44100;                      // capture rate, Hz
inline constexpr int FramesPerBlock = 4410;                   // frames per capture block (0.1 s)
inline constexpr int BlockBytes = 2 * 2 * FramesPerBlock;     // 16-bit stereo: 17640 bytes
inline constexpr int BlockSamples = 2 * FramesPerBlock;       // interleaved samples per block
inline constexpr int DecimFactor = 10;                        // front-end decimation factor
inline constexpr int DecimRate = SampleRate / DecimFactor;    // 4410 Hz, every stage after decimation
inline constexpr int BlockLen = FramesPerBlock / DecimFactor; // 441 decimated samples per block
inline constexpr int ChannelCount = 2;                        // channel states kept (0 = left)
inline constexpr int ActiveChannels = 1;                      // channels demodulated: only the left
inline constexpr double IFFreq = 1500.0;                      // tone-pair centre after mixing, Hz
inline constexpr double SamplePeriod = 1.0 / 4410;            // decimated sample period, s
inline constexpr int ClockTap = 22;                           // bit-clock delay-line tap, samples
inline constexpr double TwoPi = 6.283185307179586;            // 2π as a double

// Resonator that recovers the bit clock.
inline constexpr double ResFreq = 100.0;     // Hz, the NAVTEX bit rate
inline constexpr double ResBandwidth = 0.5;  // Hz
inline constexpr double ResGain = 1e-6;      // input gain factor

// Discriminator scale: phase step of a 1500 Hz tone per decimated sample (rad)
// and the units of one radian of deviation.
inline const double DiscOffset = TwoPi * 1500 / 4410;  // 2.137137859584893
inline constexpr double DiscScale = 25000.0;

// Filter and buffer sizes.
inline constexpr int DecimTaps = 51;
inline constexpr int BandTaps = 101;
inline constexpr int HilbTaps = 51;
inline constexpr int PostTaps = 101;
inline constexpr int ClockDelayLen = 128;
inline constexpr int BitBufLen = 256;
inline constexpr int BitRegLen = 133;

// --- Text stores -------------------------------------------------------------
// All text is byte text in code page 932 (Shift_JIS); limits count bytes.
inline constexpr std::size_t MemoLimit = 63998;
inline constexpr std::size_t EditLimit = 48;

// What the window (or any other front end) shows of the received text. The
// decoder calls these in the order the updates happen; every method may be
// left as a no-op.
class TTextSink {
public:
  virtual ~TTextSink() = default;
  // A finished line (without its line end) has just been added to MemoText.
  virtual void LineWritten(std::string_view line) { (void)line; }
  // The memo's whole content is replaced by memoText, added as lines.
  virtual void MemoReplaced(std::string_view memoText) { (void)memoText; }
  // The one-line edit's text is set.
  virtual void EditChanged(std::string_view text) { (void)text; }
};

struct TTextStore {
  std::string MemoText;  // every retained finished line, each followed by "\r\n"
  std::string EditText;  // the tail of the current line shown in the one-line edit
  TTextSink* Sink = nullptr;
};

// --- Per-channel state -------------------------------------------------------
struct TChannelState {
  // The channel's samples of the block: raw 16-bit values as doubles, then the
  // decimated, mixed and band-passed samples, then their instantaneous phases.
  std::array<double, FramesPerBlock> WorkBuf{};

  std::array<double, DecimTaps> DecimHist{};  // anti-alias history, entry 0 newest (44100 Hz)
  double MixPhase = 0.0;                      // mixer oscillator phase, rad, in [0, 2π)
  double MixOsc = 0.0;                        // oscillator value of the last sample
  std::array<double, BandTaps> BandHist{};    // band-pass history, entry 0 newest
  std::array<double, HilbTaps> HilbHist{};    // Hilbert transformer history, entry 0 newest
  double LastPhase = 0.0;                     // phase of decimated sample 440 of the last block
  std::array<double, BlockLen> DiscBuf{};     // post-detection filtered deviation of the block
  std::array<double, PostTaps> PostHist{};    // unfiltered deviation history, entry 0 newest

  std::array<double, 3> ResY{};                   // resonator y(n), y(n-1), y(n-2)
  std::array<double, ClockDelayLen> ClockDelay{}; // resonator outputs, circular (see ClockHead)
  int32_t ClockHead = 0;                          // slot of ClockDelay holding entry 0 (newest)
  std::array<double, BlockLen> ClockBuf{};        // sliced clock, +10 or -10
  double PrevClock = 0.0;                         // sliced clock of the previous sample
  std::array<uint8_t, BlockLen> SampleFlags{};    // 1 where a bit was taken
  std::array<uint8_t, BitBufLen> BitBuf{};        // this block's bits, oldest first
  int32_t BitCount = 0;                           // valid entries of BitBuf

  // Character decoder.
  std::array<uint8_t, BitRegLen> BitReg{};  // last bits after polarity correction, entry 0 newest
  bool EngMode = false;                     // true: English 7-unit, false: Japanese 10-unit
  bool Inverted = false;                    // received bits are inverted before use
  bool InSync = false;                      // character synchronisation established
  int32_t SlotCount = 0;                    // bits since the last evaluated character
  uint8_t Shift = 0;                        // 0 letters, 1 figures
  std::array<uint8_t, 2> KanjiBuf{};        // JIS X 0208 bytes being paired
  uint8_t KanjiCount = 0;                   // bytes of the pair held, 0 or 1
  std::string LineText;                     // the line under construction
};

// The display side of the per-block driver. The receiver core calls these in
// the documented order; a headless run may leave the pointer null.
class TBlockDisplays {
public:
  virtual ~TBlockDisplays() = default;
  virtual void DrawEyePattern(int ch, bool redrawGrid, int lowCount, int highCount) = 0;
  virtual void AnalyseSpectrum() = 0;
  virtual void DrawSpectrum() = 0;
};

// --- The receiver --------------------------------------------------------------
struct TReceiver {
  std::array<TChannelState, ChannelCount> Channels{};
  std::array<double, BlockLen> MixedBuf{};  // mixer output of the current block
  double CentF = 0.0;                       // centre of the received tone pair, Hz
  double ResC0 = 0.0, ResC1 = 0.0, ResC2 = 0.0;
  bool DispSpectrum = true;
  bool DispEyepattern = true;
  TTextStore Text;
  TBlockDisplays* Displays = nullptr;
};

}  // namespace brontel
