// The receiver's four constant FIR tables, generated once from their design
// rules (the Hilbert transformer is tabulated).
#pragma once

#include <array>

namespace brontel {

inline constexpr int DecimTaps = 51;
inline constexpr int BandTaps = 101;
inline constexpr int HilbTaps = 51;
inline constexpr int PostTaps = 101;

// Anti-alias low-pass at 44100 Hz: cut-off 2200 Hz, Kaiser 60 dB, 51 taps.
const std::array<double, DecimTaps>& DecimCoef();
// Channel band-pass at 4410 Hz: 1400 to 1600 Hz, Kaiser 40 dB, 101 taps.
const std::array<double, BandTaps>& BandCoef();
// Equiripple Hilbert transformer at 4410 Hz, 51 taps, antisymmetric about 25.
const std::array<double, HilbTaps>& HilbCoef();
// Post-detection low-pass at 4410 Hz: cut-off 65 Hz, Kaiser 40 dB, 101 taps.
const std::array<double, PostTaps>& PostCoef();

}  // namespace brontel
