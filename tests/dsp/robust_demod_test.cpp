// The robust demodulator on generated emissions: its hard decisions against
// the sent bits (centres, bit-rate errors, tuning errors, noise, fading), its
// independence of how the input is cut, and its behaviour on input that is
// not a signal. Also the fading of the signal generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "dsp/robust_demod.h"
#include "signal/navtex_signal.h"

namespace brontel {
namespace {

const char* const Message = "ZCZC OA01\nSECURITE. BUOY OFF STATION IN 12-34.5N 001-23.4W.\nNNNN\n";

std::vector<uint8_t> Sent()
{
  std::vector<uint8_t> codes;
  std::string err;
  gen::EnglishCodes(Message, codes, err);
  gen::TEmission e;
  e.PhasingSeconds = 6.0;
  return gen::EmissionBits(codes, e);
}

// Half a second of noise (or silence), the emission, half a second after.
std::vector<double> Emission(const gen::TFskParams& p)
{
  std::vector<int16_t> pcm = gen::NoiseOnly(0.5, p, 1);
  const auto sig = gen::ModulateFsk(Sent(), p), tail = gen::NoiseOnly(0.5, p, 2);
  pcm.insert(pcm.end(), sig.begin(), sig.end());
  pcm.insert(pcm.end(), tail.begin(), tail.end());
  return {pcm.begin(), pcm.end()};
}

std::vector<double> Demodulate(TRobustDemod& d, const std::vector<double>& x, std::size_t chunk = 4410)
{
  std::vector<double> soft, out(TRobustDemod::MaxBitsFor(chunk));
  for (std::size_t s = 0; s < x.size(); s += chunk) {
    const std::size_t n = std::min(chunk, x.size() - s), k = d.Process(std::span(x).subspan(s, n), out);
    EXPECT_LE(k, TRobustDemod::MaxBitsFor(n));
    soft.insert(soft.end(), out.begin(), out.begin() + k);
  }
  return soft;
}

// Bit error rate of the signs of `soft` against the sent bits from bit
// `from` on (the first bits go to acquisition), at the best alignment; also
// the error rate the soft values claim there, the mean of 1/(1 + e^|L|).
double BitErrorRate(const std::vector<double>& soft, double* claimed = nullptr, std::size_t from = 250)
{
  const auto sent = Sent();
  double best = 1.0;
  for (std::size_t off = 0; off + sent.size() <= soft.size(); ++off) {
    std::size_t errors = 0;
    double claim = 0.0;
    for (std::size_t i = from; i < sent.size(); ++i) {
      errors += (soft[off + i] > 0.0) != (sent[i] != 0);
      claim += 1.0 / (1.0 + std::exp(std::abs(soft[off + i])));
    }
    if (static_cast<double>(errors) / (sent.size() - from) < best) {
      best = static_cast<double>(errors) / (sent.size() - from);
      if (claimed) *claimed = claim / (sent.size() - from);
    }
  }
  return best;
}

TEST(RobustDemod, CleanSignalGivesTheSentBits)
{
  struct TCase {
    double centre, baud, offset;
  };
  for (const TCase c : {TCase{500, 100, 0}, TCase{1000, 100, 0}, TCase{1800, 100, 0}, TCase{800, 99.5, 0},
                        TCase{800, 100.5, 0}, TCase{800, 100, 40}, TCase{1000, 100, -40}}) {
    SCOPED_TRACE(testing::Message() << c.centre << " Hz, " << c.baud << " Bd, offset " << c.offset);
    gen::TFskParams p;
    p.CentF = c.centre, p.Baud = c.baud, p.Offset = c.offset, p.SnrDb = 30.0;
    TRobustDemod d(c.centre);
    const auto soft = Demodulate(d, Emission(p));
    EXPECT_EQ(BitErrorRate(soft), 0.0);
    EXPECT_NEAR(d.FrequencyOffset(), c.offset, 2.0);
    EXPECT_NEAR(d.BitRate(), c.baud, 0.1);
    EXPECT_TRUE(d.SignalPresent());
    EXPECT_GT(d.SnrDb(), 5.0);
  }
}

TEST(RobustDemod, NoiseAndFadingStayNearTheory)
{
  // Non-coherent FSK at 0 dB in 500 Hz (Eb/N0 7 dB): 4.1 % in theory.
  gen::TFskParams p;
  p.Amplitude = 1000.0, p.SnrDb = 0.0, p.Seed = 11;
  // The soft values are log-likelihood ratios: the error rate they claim
  // matches the one observed.
  TRobustDemod d;
  double claimed = 0.0;
  const double ber = BitErrorRate(Demodulate(d, Emission(p)), &claimed);
  EXPECT_GT(ber, 0.025);
  EXPECT_LT(ber, 0.06);
  EXPECT_GT(claimed, 0.6 * ber);
  EXPECT_LT(claimed, 1.6 * ber);

  // Rayleigh fading, 1 Hz Doppler, 20 dB mean: 0.2 % in theory. A fade must
  // shrink the confidence but not lose the sign of the decisions.
  p.SnrDb = 20.0, p.FadingDoppler = 1.0;
  TRobustDemod f;
  const auto soft = Demodulate(f, Emission(p));
  EXPECT_LT(BitErrorRate(soft), 0.01);
  const auto [lo, hi] = std::minmax_element(soft.begin() + 300, soft.end() - 100,
                                            [](double a, double b) { return std::abs(a) < std::abs(b); });
  EXPECT_LT(std::abs(*lo), 0.2 * std::abs(*hi));
}

TEST(RobustDemod, OutputDoesNotDependOnHowTheInputIsCut)
{
  gen::TFskParams p;
  p.SnrDb = 6.0, p.Offset = 12.0;
  const auto x = Emission(p);
  TRobustDemod whole;
  const auto ref = Demodulate(whole, x, 4410);
  for (std::size_t chunk : {257u, 509u, 44100u}) {
    TRobustDemod d;
    EXPECT_EQ(Demodulate(d, x, chunk), ref) << chunk;
  }

  // An output span too short for a call: the rest waits for the next call.
  TRobustDemod d;
  std::vector<double> soft;
  double one;
  for (std::size_t s = 0; s < x.size(); s += 4410) {
    const std::size_t n = std::min<std::size_t>(4410, x.size() - s);
    if (d.Process(std::span(x).subspan(s, n), std::span(&one, 1))) soft.push_back(one);
    while (d.Pending() > 0)
      if (d.Process({}, std::span(&one, 1))) soft.push_back(one);
  }
  EXPECT_EQ(soft, ref);
  EXPECT_EQ(d.DroppedBits(), 0u);
}

TEST(RobustDemod, InputThatIsNoSignal)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct TCase {
    const char* name;
    double (*sample)(std::size_t);
    bool quiet;  // nothing to hear: the soft values must be near zero
  };
  const TCase cases[] = {
      {"silence", [](std::size_t) { return 0.0; }, true},
      {"DC", [](std::size_t) { return 20000.0; }, true},
      {"full-scale square 37 Hz", [](std::size_t n) { return (n / 596) % 2 ? 32767.0 : -32768.0; }, false},
      {"full-scale square 885 Hz", [](std::size_t n) { return (n * 885 * 2 / 44100) % 2 ? 32767.0 : -32768.0; },
       false},
      {"NaN and out of range", [](std::size_t n) { return n % 3 ? std::numeric_limits<double>::quiet_NaN() : 1e9; },
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> x(44100 * 5);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = c.sample(n);
    TRobustDemod d;
    const auto soft = Demodulate(d, x, 4410);
    EXPECT_GE(soft.size(), 480u);
    for (double v : soft) {
      ASSERT_TRUE(std::isfinite(v));
      if (c.quiet) {
        ASSERT_LT(std::abs(v), 1.0);
      }
    }
    EXPECT_TRUE(std::isfinite(d.FrequencyOffset()) && std::isfinite(d.BitRate()) && std::isfinite(d.EbN0Db()));
    if (c.quiet) {
      EXPECT_FALSE(d.SignalPresent());
    }
  }
  TRobustDemod d;
  (void)Demodulate(d, std::vector<double>(100, nan));
  EXPECT_EQ(d.BadSamples(), 100u);
}

TEST(SignalGenerator, FadingKeepsTheMeanPowerAndFades)
{
  gen::TFskParams p;
  p.Amplitude = 4000.0, p.FadingDoppler = 1.0, p.Seed = 5;
  const std::vector<uint8_t> bits(6000, 1);  // 60 s of the higher tone
  const auto pcm = gen::ModulateFsk(bits, p);
  double total = 0.0, weakest = 1e300;
  const std::size_t window = 4410;
  for (std::size_t s = 0; s + window <= pcm.size(); s += window) {
    double e = 0.0;
    for (std::size_t n = s; n < s + window; ++n) e += static_cast<double>(pcm[n]) * pcm[n];
    total += e;
    weakest = std::min(weakest, e / window);
  }
  const double mean = total / (pcm.size() / window * window), nominal = p.Amplitude * p.Amplitude / 2;
  EXPECT_NEAR(mean / nominal, 1.0, 0.3);
  EXPECT_LT(weakest / nominal, 0.05);  // Rayleigh: deep fades happen within a minute
}

}  // namespace
}  // namespace brontel
