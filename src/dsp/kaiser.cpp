#include "dsp/kaiser.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace brontel {

double BesselI0(double x)
{
  // Σ ((x/2)^k / k!)^2; the terms fall off quickly for the β values in use.
  const double q = (x / 2.0) * (x / 2.0);
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k < 500; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
    if (term < sum * 1e-20) break;
  }
  return sum;
}

namespace {

// ln I0(x) below 3.75 from the polynomial fit of Abramowitz and Stegun (9.8.1).
double LogBesselI0Small(double x)
{
  const double t = (x / 3.75) * (x / 3.75);
  return std::log(1.0 + t * (3.5156229 + t * (3.0899424 + t * (1.2067492 +
                        t * (0.2659732 + t * (0.0360768 + t * 0.0045813))))));
}

}  // namespace

double LogBesselI0(double x)
{
  if (x < 3.75) return LogBesselI0Small(x);
  const double inv = 1.0 / x;
  return x - 0.5 * std::log(2.0 * std::numbers::pi * x) + std::log(1.0 + inv * (0.125 + inv * 0.0703125));
}

double LogBesselI0Precise(double x)
{
  if (x < 3.75) return LogBesselI0Small(x);
  // Abramowitz and Stegun 9.8.2: x^(1/2) e^(-x) I0(x) as a polynomial in 3.75/x.
  const double t = 3.75 / x;
  const double p = 0.39894228 + t * (0.01328592 + t * (0.00225319 + t * (-0.00157565 + t * (0.00916281 +
                   t * (-0.02057706 + t * (0.02635537 + t * (-0.01647633 + t * 0.00392377)))))));
  return x - 0.5 * std::log(x) + std::log(p);
}

double KaiserBeta(double atten)
{
  if (atten > 50.0) return 0.1102 * (atten - 8.7);
  if (atten >= 21.0) return 0.5842 * std::pow(atten - 21.0, 0.4) + 0.07886 * (atten - 21.0);
  return 0.0;
}

double KaiserWindow(int k, int m, double beta)
{
  const double r = static_cast<double>(k - m) / m;
  return BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta);
}

double RoundSignificant(double x, int digits)
{
  if (x == 0.0) return 0.0;
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, x);
  return std::strtod(text, nullptr);
}

namespace {

// sin(2π f/fs n) / (π n), with its limit 2 f/fs at n = 0.
double IdealLowPass(double f, double fs, int n)
{
  if (n == 0) return 2.0 * f / fs;
  return std::sin(2.0 * std::numbers::pi * f / fs * n) / (std::numbers::pi * n);
}

}  // namespace

std::vector<double> KaiserLowPass(double fc, double fs, int m, double beta)
{
  std::vector<double> taps(2 * m + 1);
  for (int k = 0; k <= 2 * m; ++k)
    taps[k] = RoundSignificant(KaiserWindow(k, m, beta) * IdealLowPass(fc, fs, k - m), 9);
  return taps;
}

std::vector<double> KaiserBandPass(double fLow, double fHigh, double fs, int m, double beta)
{
  std::vector<double> taps(2 * m + 1);
  for (int k = 0; k <= 2 * m; ++k) {
    const int n = k - m;
    const double ideal = n == 0 ? 2.0 * (fHigh - fLow) / fs
                                : (std::sin(2.0 * std::numbers::pi * fHigh / fs * n) -
                                   std::sin(2.0 * std::numbers::pi * fLow / fs * n)) /
                                      (std::numbers::pi * n);
    taps[k] = RoundSignificant(KaiserWindow(k, m, beta) * ideal, 9);
  }
  return taps;
}

}  // namespace brontel
