// The robust demodulator on generated emissions: its hard decisions against
// the sent bits (centres, bit-rate errors, tuning errors, noise, fading), its
// independence of how the input is cut, and its behaviour on input that is
// not a signal. Also the fading of the signal generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "dsp/robust_demod.h"
#include "signal/navtex_signal.h"
#include "signal/switched_signal.h"

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

TEST(RobustDemod, ResetForgetsEverything)
{
  // After a band full of trouble, Reset() gives the output of a new demodulator.
  gen::TFskParams p;
  p.SnrDb = 8.0, p.Offset = -20.0, p.Amplitude = 150.0;
  gen::TBand band;
  band.Crashes = {3.0, 30.0, 1.0, 10.0};
  band.Carriers = {{60.0, 0.0, 0.0}};
  band.Agc = {1.0, 300.0};
  const auto trouble = gen::BandRecording(Sent(), p, band, 0.5, 0.5);
  gen::TFskParams q;
  q.SnrDb = 6.0, q.Offset = 15.0, q.Seed = 8;
  const auto x = Emission(q);
  TRobustDemod used, fresh;
  (void)Demodulate(used, {trouble.begin(), trouble.end()});
  used.Reset();
  EXPECT_EQ(Demodulate(used, x), Demodulate(fresh, x));
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

TEST(RobustDemod, BadSamplesInASignalCountAsZeros)
{
  // Single bad samples (far apart, at the start, the middle and the end of a
  // decimator block) and a burst of them through a signal: the output is that
  // of the signal with zeros in their place, however the input is cut;
  // ±40000 itself is a good sample.
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 40000.5, -1e300, 40000.0, -40000.0};
  gen::TFskParams p;
  p.SnrDb = 10.0, p.Offset = -8.0;
  const auto x = Emission(p);
  std::vector<double> bad = x;
  const std::size_t positions[] = {0, 1, 10, 19, 20};
  for (std::size_t k = 0; 21 * 238 * k + 20 < x.size(); ++k)
    bad[21 * 238 * k + positions[k % 5]] = values[k % std::size(values)];
  for (std::size_t n = 30000; n < 30700; ++n) bad[n] = values[n % 5];
  std::vector<double> zeroed = bad;
  uint64_t badCount = 0;
  for (double& v : zeroed)
    if (!(std::abs(v) <= 40000.0)) v = 0.0, ++badCount;
  TRobustDemod ref;
  const auto want = Demodulate(ref, zeroed, 4410);
  ASSERT_GT(want.size(), 1000u);
  for (std::size_t chunk : {4410u, 1000u, 20u}) {
    TRobustDemod d;
    EXPECT_EQ(Demodulate(d, bad, chunk), want) << chunk;
    EXPECT_EQ(d.BadSamples(), badCount) << chunk;
  }
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

namespace brontel {
namespace {

// Sign errors in the message (after the six seconds of phasing, which go to
// finding the signal and the carriers) at the best alignment, and how many of
// them were confident (|L| > 3): a bit hit by a crash or a carrier may be
// wrong, but must not claim to be right.
struct TBandResult {
  double ber = 1.0;
  std::size_t confidentErrors = 0;
};

TBandResult BandBits(const std::vector<double>& soft)
{
  const auto sent = Sent();
  TBandResult best;
  for (std::size_t off = 0; off + sent.size() <= soft.size(); ++off) {
    std::size_t errors = 0, confident = 0;
    for (std::size_t i = 600; i < sent.size(); ++i)
      if ((soft[off + i] > 0.0) != (sent[i] != 0)) ++errors, confident += std::abs(soft[off + i]) > 3.0;
    const double ber = static_cast<double>(errors) / static_cast<double>(sent.size() - 600);
    if (ber < best.ber) best = {ber, confident};
  }
  return best;
}

TEST(RobustDemod, BandConditionsKeepTheBits)
{
  struct TCase {
    const char* name;
    double snr;
    gen::TBand band;
    double maxBer;
    double maxOffset = 2.0;  // Hz
  };
  gen::TBand crashes, agc, between, onTone, lateOnTone, outside, second;
  crashes.Crashes = {5.0, 30.0, 1.0, 10.0};
  agc.Crashes = {2.0, 30.0, 1.0, 10.0};
  agc.Agc = {1.0, 300.0};
  between.Carriers = {{20.0, 0.0, 0.0}};
  onTone.Carriers = {{85.0, 0.0, 0.0}};
  lateOnTone.Carriers = {{-85.0, 0.0, 12.0}};
  outside.Carriers = {{130.0, 0.0, 0.0}, {-150.0, -3.0, 0.0}};
  second.Second = gen::TSecondStation{Sent(), -3.0, 25.0, 1.37, 100.01};
  const TCase cases[] = {
      {"crashes 5/s, 30 dB over the noise", 6.0, crashes, 0.01},
      {"crashes behind an AGC", 6.0, agc, 0.02},
      {"carrier between the tones", 10.0, between, 0.005},
      {"carrier on the higher tone", 10.0, onTone, 0.01},
      // The second after the carrier appears costs bits, but not confident
      // ones, and fewer once that tone's own noise counts the carrier.
      {"carrier on the lower tone from 12 s on", 10.0, lateOnTone, 0.016},
      {"carriers outside the tones", 10.0, outside, 0.005},
      // The weaker station, its tones 25 Hz from the wanted ones, does not
      // hold the frequency correction off.
      {"second station 3 dB weaker", 12.0, second, 0.03},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    gen::TFskParams p;
    p.SnrDb = c.snr, p.Seed = 21;
    if (c.band.Crashes.PerSecond > 0.0) p.Amplitude = 150.0;  // room for the crashes in 16 bits
    const auto pcm = gen::BandRecording(Sent(), p, c.band, 0.5, 0.5);
    TRobustDemod d;
    const auto r = BandBits(Demodulate(d, {pcm.begin(), pcm.end()}));
    EXPECT_LT(r.ber, c.maxBer);
    EXPECT_LT(r.confidentErrors, 0.3 * c.maxBer * (Sent().size() - 600) + 1);
    // No carrier drags the frequency correction away.
    EXPECT_NEAR(d.FrequencyOffset(), 0.0, c.maxOffset);
    EXPECT_TRUE(d.SignalPresent());
  }
}

// A carrier switched on in the middle of the message exactly on one tone of
// a transmitter that switches two free-running oscillators (each tone then
// has a line of its own there too). While the carrier is not yet removed it
// must not make its tone count as sent throughout: that had the canceller
// average the other side's line over the signal's own tone and remove it, and
// the bit timing lost its place.
TEST(RobustDemod, CarrierSwitchedOnAToneOfASwitchedTransmitter)
{
  const auto sent = Sent();
  const double lead = 0.5, on = lead + 0.5 * static_cast<double>(sent.size()) / 100.0;
  double total = 0.0;
  int runs = 0;
  for (const double hz : {85.0, -85.0})
    for (const uint64_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(hz);
      SCOPED_TRACE(seed);
      gen2::TSwitchedParams q;
      q.SnrDb = 10.0, q.Seed = seed, q.Level = 0.03;
      q.Carriers = {{hz, 0.0, on, 0.02}};
      const auto f = gen2::SwitchedRecording(sent, q, lead, 0.5);
      std::vector<double> x(f.size());
      for (std::size_t n = 0; n < f.size(); ++n) x[n] = 32768.0 * f[n];
      TRobustDemod d;
      const double ber = BandBits(Demodulate(d, x)).ber;
      total += ber;
      ++runs;
      EXPECT_TRUE(d.SignalPresent());
    }
  // Over the message (half of it with the carrier): a few per cent of the
  // bits around the switch-on, the timing kept in most runs (it lost its
  // place in two of these six, 10 % of the bits over all, before).
  EXPECT_LT(total / runs, 0.06);
}

TEST(RobustDemod, LiveSignalToNoiseAndOffset)
{
  struct TCase {
    double snr, offset, tolerance;
  };
  // SNR of the tone pair in 500 Hz; within 1 dB from -3 to 30 dB.
  for (const TCase c : {TCase{-3.0, 0.0, 1.0}, TCase{0.0, -45.0, 1.0}, TCase{6.0, 30.0, 1.0}, TCase{10.0, 50.0, 1.0},
                        TCase{20.0, -20.0, 1.0}, TCase{30.0, 0.0, 1.0}}) {
    SCOPED_TRACE(testing::Message() << c.snr << " dB, " << c.offset << " Hz");
    gen::TFskParams p;
    p.SnrDb = c.snr, p.Offset = c.offset, p.Seed = 4;
    const auto x = Emission(p);
    TRobustDemod d;
    std::vector<double> out(TRobustDemod::MaxBitsFor(4410));
    double snr = 0.0, offset = 0.0;
    int n = 0;
    for (std::size_t s = 0; s + 4410 <= x.size(); s += 4410) {
      d.Process(std::span(x).subspan(s, 4410), out);
      if (s > 44100 * 8 && s + 44100 < x.size()) snr += d.SnrDb(), offset += d.FrequencyOffset(), ++n;
    }
    ASSERT_GT(n, 50);
    EXPECT_NEAR(snr / n, c.snr, c.tolerance);
    EXPECT_NEAR(offset / n, c.offset, 1.0);
  }

  // The estimates follow the signal: 20 dB, then the same emission at 8 dB.
  gen::TFskParams strong, weak;
  strong.SnrDb = 20.0, weak.SnrDb = 8.0, weak.Seed = 2;
  auto x = Emission(strong);
  const auto y = Emission(weak);
  x.insert(x.end(), y.begin(), y.end());
  TRobustDemod d;
  std::vector<double> out(TRobustDemod::MaxBitsFor(4410));
  std::vector<double> snr;
  for (std::size_t s = 0; s + 4410 <= x.size(); s += 4410) {
    d.Process(std::span(x).subspan(s, 4410), out);
    snr.push_back(d.SnrDb());
  }
  const std::size_t half = snr.size() / 2;
  EXPECT_NEAR(snr[half - 15], 20.0, 1.5);  // before the change
  EXPECT_NEAR(snr[half + 60], 8.0, 1.5);   // six seconds after it

  // Digital silence before the signal (a sound server before anything plays)
  // and in a gap (a stream that ran dry) says nothing about the levels.
  for (const double lead : {0.5, 3.0}) {
    SCOPED_TRACE(testing::Message() << lead << " s of silence first");
    gen::TFskParams p;
    p.SnrDb = 15.0, p.Seed = 5;
    const auto e = Emission(p);
    std::vector<double> z(static_cast<std::size_t>(lead * 44100), 0.0);
    z.insert(z.end(), e.begin(), e.begin() + static_cast<std::ptrdiff_t>(e.size() / 2));
    z.insert(z.end(), 22050, 0.0);
    z.insert(z.end(), e.begin() + static_cast<std::ptrdiff_t>(e.size() / 2), e.end());
    TRobustDemod d;
    double sum = 0.0;
    int n = 0;
    for (std::size_t s = 0; s + 4410 <= z.size(); s += 4410) {
      d.Process(std::span(z).subspan(s, 4410), out);
      if (s > z.size() - e.size() + 44100 * 8 && s + 44100 < z.size()) sum += d.SnrDb(), ++n;
    }
    ASSERT_GT(n, 50);
    EXPECT_NEAR(sum / n, 15.0, 1.0);
  }

  // Eight seconds of listening at 800 Hz (noise alone there), then tuned onto
  // the emission at 1200 Hz: what was measured at the old centre is gone.
  gen::TFskParams at1200;
  at1200.SnrDb = 15.0, at1200.CentF = 1200.0, at1200.Seed = 6;
  auto tuned = gen::NoiseOnly(8.0, at1200, 7);
  const auto e = gen::ModulateFsk(Sent(), at1200);
  tuned.insert(tuned.end(), e.begin(), e.end());
  TRobustDemod moved(800.0);
  double sum = 0.0;
  int n = 0;
  for (std::size_t s = 0; s + 4410 <= tuned.size(); s += 4410) {
    if (s == 80 * 4410) moved.SetCentre(1200.0);
    const std::vector<double> block(tuned.begin() + static_cast<std::ptrdiff_t>(s),
                                    tuned.begin() + static_cast<std::ptrdiff_t>(s + 4410));
    moved.Process(block, out);
    if (s > 44100 * 14 && s + 44100 < tuned.size()) sum += moved.SnrDb(), ++n;
  }
  ASSERT_GT(n, 30);
  EXPECT_NEAR(sum / n, 15.0, 0.6) << "at the new centre";
}

TEST(RobustDemod, BasebandSinkHearsTheCorrectedTones)
{
  // A steady higher tone: in the baseband it turns at +85 Hz, with the
  // tone's power (amplitude A mixed down to A/2).
  struct TSink final : TBasebandSink {
    void Baseband(std::complex<double> s) override { samples.push_back(s); }
    std::vector<std::complex<double>> samples;
  } sink;
  gen::TFskParams p;
  p.SnrDb = 30.0;
  const auto pcm = gen::ModulateFsk(std::vector<uint8_t>(300, 1), p);
  TRobustDemod d;
  d.SetBasebandSink(&sink);
  (void)Demodulate(d, {pcm.begin(), pcm.end()});
  ASSERT_NEAR(static_cast<double>(sink.samples.size()), pcm.size() / 21.0, 2.0);
  std::complex<double> turn{};
  double power = 0.0;
  for (std::size_t n = sink.samples.size() - 2100; n < sink.samples.size(); ++n)
    turn += sink.samples[n] * std::conj(sink.samples[n - 1]), power += std::norm(sink.samples[n]) / 2100.0;
  EXPECT_NEAR(std::arg(turn) * 2100.0 / (2.0 * std::numbers::pi), 85.0, 1.0);
  EXPECT_NEAR(10.0 * std::log10(power / (p.Amplitude * p.Amplitude / 4.0)), 0.0, 1.0);
}

TEST(SignalGenerator, BandImpairmentsAreWhatWasAskedFor)
{
  gen::TFskParams p;
  p.Amplitude = 1000.0;
  const std::vector<uint8_t> bits(1000, 1);  // 10 s of the higher tone
  auto power = [](const std::vector<int16_t>& x, std::size_t a, std::size_t b) {
    double e = 0.0;
    for (std::size_t n = a; n < b; ++n) e += static_cast<double>(x[n]) * x[n];
    return e / static_cast<double>(b - a);
  };
  // A carrier 6 dB over the tone, switched on after 5 s: the power goes from
  // the tone's to five times it.
  gen::TBand carrier;
  carrier.Carriers = {{-300.0, 6.0, 5.0}};
  const auto c = gen::BandRecording(bits, p, carrier, 0.0, 0.0);
  EXPECT_NEAR(power(c, 44100, 44100 * 4), 500000.0, 5000.0);
  EXPECT_NEAR(power(c, 44100 * 6, 44100 * 9) / 500000.0, 1.0 + 3.98, 0.1);

  // Crashes one a second, 30 dB over the noise: about ten bursts in 10 s,
  // each far above the noise.
  gen::TBand crashes;
  crashes.Crashes = {1.0, 30.0, 2.0, 2.0};
  p.SnrDb = 10.0;
  const auto k = gen::BandRecording(bits, p, crashes, 0.0, 0.0);
  const double noise = power(gen::BandRecording(bits, p, {}, 0.0, 0.0), 0, k.size());
  int bursts = 0;
  for (std::size_t s = 0; s + 441 <= k.size(); s += 441) bursts += power(k, s, s + 441) > 20.0 * noise;
  EXPECT_GE(bursts, 4);
  EXPECT_LE(bursts, 25);

  // Behind an AGC a crash lowers everything after it for a while.
  crashes.Agc = {1.0, 300.0};
  const auto a = gen::BandRecording(bits, p, crashes, 0.0, 0.0);
  double lowest = 1e300;
  for (std::size_t s = 0; s + 4410 <= a.size(); s += 4410) lowest = std::min(lowest, power(a, s, s + 4410));
  EXPECT_LT(lowest, 0.2 * noise);

  // The switched generator: noise at the asked SNR (tone power over the
  // noise in 500 Hz of a noise spread over 22050 Hz).
  gen2::TSwitchedParams q;
  q.SnrDb = 0.0, q.Level = 0.01;
  const auto f = gen2::SwitchedRecording({}, q, 2.0, 0.0);
  double e = 0.0;
  for (float v : f) e += static_cast<double>(v) * v;
  EXPECT_NEAR(e / f.size() / (q.Level * q.Level / 2.0 * 22050.0 / 500.0), 1.0, 0.05);
}

}  // namespace
}  // namespace brontel
