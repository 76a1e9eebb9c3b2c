// Generated NAVTEX audio through the whole receiver back to text.
#include <gtest/gtest.h>

#include "decoder/cp932.h"
#include "signal/navtex_signal.h"
#include "support/harness.h"

namespace brontel {
namespace {

using gen::TService;

struct TTransmission {
  TService Service = TService::English;
  std::string Text;
  bool Inverted = false;
  gen::TFskParams Fsk;
};

std::vector<int16_t> Audio(const TTransmission& t)
{
  std::vector<uint8_t> codes;
  std::string err;
  const bool ok = t.Service == TService::English ? gen::EnglishCodes(t.Text, codes, err)
                                                 : gen::JapaneseCodes(t.Text, codes, err);
  EXPECT_TRUE(ok) << err;
  gen::TEmission e;
  e.Service = t.Service;
  e.PhasingSeconds = 3.0;
  std::vector<int16_t> pcm = gen::NoiseOnly(0.5, t.Fsk, 1);
  const auto signal = gen::ModulateFsk(gen::EmissionBits(codes, e, t.Inverted), t.Fsk);
  pcm.insert(pcm.end(), signal.begin(), signal.end());
  const auto tail = gen::NoiseOnly(1.0, t.Fsk, 2);
  pcm.insert(pcm.end(), tail.begin(), tail.end());
  return pcm;
}

std::string Decode(const std::vector<int16_t>& pcm, double centF)
{
  test::THarness h(centF);
  h.FeedPcm(pcm);
  return Cp932ToUtf8(h.Text());
}

TEST(RoundTrip, EnglishAndJapaneseAcrossCentresPolaritiesAndNoise)
{
  const std::string eng = "ZCZC OA12\nNAVAREA WARNING 123/26.\nPOSITION 35-12N 139-45E.\nNNNN\n";
  const std::string jpn = "ＺＣＺＣ　航行警報\n東京湾　浮標消灯中\n";
  int n = 0;
  for (TService service : {TService::English, TService::Japanese})
    for (bool inverted : {false, true})
      for (double centF : {400.0, 800.0, 1000.0, 1850.0}) {
        TTransmission t;
        t.Service = service;
        t.Text = service == TService::English ? eng : jpn;
        t.Inverted = inverted;
        t.Fsk.CentF = centF;
        t.Fsk.SnrDb = 20.0;
        t.Fsk.Seed = ++n;
        EXPECT_EQ(Decode(Audio(t), centF), t.Text)
            << (service == TService::English ? "ENG" : "JPN") << (inverted ? " NEG " : " POS ") << centF;
      }
}

TEST(RoundTrip, ClockErrorAndFrequencyOffset)
{
  for (double baud : {99.75, 100.25})
    for (double offset : {-10.0, 10.0}) {
      TTransmission t;
      t.Text = "CLOCK AND OFFSET TEST 0123456789\nSECOND LINE OF THE MESSAGE\n";
      t.Fsk.Baud = baud;
      t.Fsk.Offset = offset;
      t.Fsk.SnrDb = 15.0;
      EXPECT_EQ(Decode(Audio(t), 800), t.Text) << baud << " Bd, offset " << offset;
    }
}

TEST(RoundTrip, ServicesOneAfterTheOther)
{
  TTransmission a{TService::English, "FIRST IN ENGLISH\n", false, {}},
      b{TService::Japanese, "次に和文\n", false, {}}, c{TService::English, "AND ENGLISH AGAIN\n", true, {}};
  std::vector<int16_t> pcm = Audio(a);
  for (const auto* t : {&b, &c}) {
    const auto more = Audio(*t);
    pcm.insert(pcm.end(), more.begin(), more.end());
  }
  EXPECT_EQ(Decode(pcm, 800), a.Text + b.Text + c.Text);
}

// Count of characters of `want` found in order in `got` (a longest common
// subsequence), as a measure of how much of a noisy message came through.
std::size_t CommonChars(const std::string& got, const std::string& want)
{
  std::vector<std::size_t> prev(want.size() + 1, 0), cur(want.size() + 1, 0);
  for (char g : got) {
    for (std::size_t j = 1; j <= want.size(); ++j)
      cur[j] = g == want[j - 1] ? prev[j - 1] + 1 : std::max(prev[j], cur[j - 1]);
    std::swap(prev, cur);
  }
  return prev[want.size()];
}

TEST(RoundTrip, NoisyReceptionKeepsMostOfTheText)
{
  std::string text;
  for (int i = 0; i < 8; ++i) text += "LINE " + std::to_string(i) + " OF A WEATHER BULLETIN FOR THE SEA AREAS\n";
  for (int seed = 1; seed <= 4; ++seed) {
    TTransmission t;
    t.Text = text;
    t.Fsk.SnrDb = 10.0;
    t.Fsk.Seed = seed;
    const std::string got = Decode(Audio(t), 800);
    EXPECT_GE(CommonChars(got, text), text.size() * 8 / 10) << "seed " << seed << ":\n" << got;
  }
}

TEST(RoundTrip, NoiseAloneProducesAlmostNothing)
{
  gen::TFskParams p;
  p.SnrDb = 0.0;
  test::THarness h;
  h.FeedPcm(gen::NoiseOnly(60.0, p, 5));
  // Chance agreements are rare: a minute of noise yields at most a few characters.
  EXPECT_LE(h.Text().size(), 10u);
}

}  // namespace
}  // namespace brontel
