// Design rules of the receiver's windowed-sinc filters.
#pragma once

#include <vector>

namespace brontel {

// Modified Bessel function of the first kind, order 0 (power series).
double BesselI0(double x);

// ln I0(x) for x >= 0, for any x (no overflow): a polynomial fit below 3.75,
// the asymptotic expansion above; within about 1e-4 of the exact value.
double LogBesselI0(double x);

// ln I0(x) for x >= 0 with the fit of Abramowitz and Stegun above 3.75 too:
// relative error of I0 below 2e-7, for tables built once.
double LogBesselI0Precise(double x);

// Kaiser β for a stop-band attenuation of atten dB (Kaiser's empirical formula).
double KaiserBeta(double atten);

// Kaiser window value for tap k of a filter centred on tap m (0 <= k <= 2m).
double KaiserWindow(int k, int m, double beta);

// x rounded to `digits` significant decimal digits, as the nearest double.
double RoundSignificant(double x, int digits);

// Kaiser-windowed ideal low-pass, cut-off fc Hz at rate fs Hz, 2m + 1 taps,
// every tap rounded to 9 significant digits.
std::vector<double> KaiserLowPass(double fc, double fs, int m, double beta);

// Kaiser-windowed ideal band-pass between fLow and fHigh Hz (difference of two
// ideal low-pass responses), 2m + 1 taps, rounded to 9 significant digits.
std::vector<double> KaiserBandPass(double fLow, double fHigh, double fs, int m, double beta);

}  // namespace brontel
