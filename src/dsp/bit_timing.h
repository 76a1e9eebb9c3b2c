// Bit-clock recovery with a 100 Hz resonator, and bit taking.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "dsp/rates.h"

namespace brontel {

// Resonator that recovers the bit clock.
inline constexpr double ResFreq = 100.0;     // Hz, the NAVTEX bit rate
inline constexpr double ResBandwidth = 0.5;  // Hz
inline constexpr double ResGain = 1e-6;      // input gain factor
inline constexpr int ClockDelayLen = 128;    // resonator outputs kept
inline constexpr int ClockTap = 22;          // delay-line tap read as the clock, samples
inline constexpr int BitBufLen = 256;        // bits one block can hold

// The resonator's coefficients, computed from ResFreq, ResBandwidth and ResGain.
struct TResonator {
  double ResC0, ResC1, ResC2;
};
const TResonator& Resonator();

struct TBitClock {
  std::array<double, 3> ResY{};                    // resonator y(n), y(n-1), y(n-2)
  std::array<double, ClockDelayLen> ClockDelay{};  // resonator outputs, circular (see ClockHead)
  int32_t ClockHead = 0;                           // slot of ClockDelay holding entry 0 (newest)
  double PrevClock = 0.0;                          // sliced clock of the previous sample
};

// The bits one block yields, oldest first.
struct TBitBlock {
  std::array<uint8_t, BitBufLen> BitBuf{};
  int32_t BitCount = 0;
  std::span<const uint8_t> Bits() const { return {BitBuf.data(), static_cast<std::size_t>(BitCount)}; }
};

// One decimated sample: rectify the deviation, run the resonator, read it 22
// samples late and slice it (the returned clock is +10 or −10); on a rise of
// the sliced clock, take disc >= 0 as a bit into `bits` and set `taken`.
double TimeSample(TBitClock& clk, double disc, TBitBlock& bits, uint8_t& taken);

// TimeSample over a block: the sliced clock and the bit-taking marks of every
// sample. `bits` is emptied first.
void TimeBlock(TBitClock& clk, std::span<const double, BlockLen> disc, std::span<double, BlockLen> clockBuf,
               std::span<uint8_t, BlockLen> sampleFlags, TBitBlock& bits);

// Entry k of the resonator delay line (0 = newest).
double ClockDelayAt(const TBitClock& clk, int k);

}  // namespace brontel
