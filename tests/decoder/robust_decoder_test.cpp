// The robust receive path: the character decoder on soft bits made straight
// from generated bit streams, and the whole path on generated audio.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/robust_path.h"
#include "decoder/cp932.h"
#include "decoder/robust_decoder.h"
#include "signal/navtex_signal.h"
#include "support/cer.h"
#include "support/harness.h"
#include "support/soft_bits.h"

namespace brontel {
namespace {

using gen::TService;

const std::string English = "ZCZC OA12\nNAVAREA WARNING 123/26.\nPOSITION 35-12N 139-45E. BUOY OFF STATION.\nNNNN\n";
const std::string Japanese = "ＺＣＺＣ　航行警報\n東京湾　浮標消灯中\n";

int Unit(TService s) { return s == TService::English ? 7 : 10; }

// The bits of one emission without any phasing: they start with the message.
std::vector<uint8_t> MessageBits(const std::string& text, TService service, bool inverted)
{
  std::vector<uint8_t> codes;
  std::string err;
  EXPECT_TRUE(service == TService::English ? gen::EnglishCodes(text, codes, err) : gen::JapaneseCodes(text, codes, err));
  gen::TEmission e;
  e.Service = service;
  e.PhasingSeconds = 0.0;  // one phasing pair, cut off below
  auto bits = gen::EmissionBits(codes, e, inverted);
  bits.erase(bits.begin(), bits.begin() + 2 * Unit(service));
  return bits;
}

// Noise, the soft bits, noise; decoded in pieces of 11 bits.
struct TDecoded {
  std::string Text;  // UTF-8
  uint64_t Erasures = 0, Corrections = 0;
  bool EngMode = false, Inverted = false;
};

TDecoded Decode(std::vector<double> soft, uint32_t seed = 1)
{
  std::vector<double> all = test::SoftNoise(200, 3.0, seed + 100);
  all.insert(all.end(), soft.begin(), soft.end());
  const auto tail = test::SoftNoise(400, 3.0, seed + 200);
  all.insert(all.end(), tail.begin(), tail.end());
  TRobustDecoder d;
  TTextStore text;
  test::TRecordingSink sink;
  text.Sink = &sink;
  TDecoded out;
  for (std::size_t i = 0; i < all.size(); i += 11) {
    d.Process(std::span(all).subspan(i, std::min<std::size_t>(11, all.size() - i)), text);
    if (d.InSync()) out.EngMode = d.EngMode(), out.Inverted = d.Inverted();
  }
  d.Finish(text);
  std::string s;
  for (const auto& l : sink.Lines) s += l + "\n";
  out.Text = Cp932ToUtf8(s + d.LineText());
  out.Erasures = d.Erasures();
  out.Corrections = d.Corrections();
  return out;
}

std::vector<double> Clean(const std::vector<uint8_t>& bits, uint32_t seed = 1)
{
  test::TSoftChannel c;
  c.EbN0Db = 12.0;
  c.Seed = seed;
  return test::SoftBits(bits, c);
}

TEST(RobustDecoder, DecodesBothServicesAndPolaritiesWithoutPhasing)
{
  for (TService service : {TService::English, TService::Japanese})
    for (bool inverted : {false, true}) {
      const std::string& text = service == TService::English ? English : Japanese;
      const TDecoded d = Decode(Clean(MessageBits(text, service, inverted)));
      EXPECT_EQ(d.Text, text) << (service == TService::English ? "ENG" : "JPN") << (inverted ? " NEG" : " POS");
      EXPECT_EQ(d.EngMode, service == TService::English);
      EXPECT_EQ(d.Inverted, inverted);
      EXPECT_EQ(d.Erasures, 0u);
    }
}

TEST(RobustDecoder, RepairsOneCopyAndMarksWhatBothCopiesLost)
{
  // Character k of the message: first copy in slot 2k, repetition five slots later.
  for (TService service : {TService::English, TService::Japanese}) {
    const bool english = service == TService::English;
    const std::string& text = english ? English : Japanese;
    const int unit = Unit(service), repeat = 5 * unit;
    std::vector<double> soft = Clean(MessageBits(text, service, false));
    // A confident wrong bit in one copy of several characters: repaired.
    for (int k : {15, 16, 20}) {
      const std::size_t copy = static_cast<std::size_t>(2 * unit * k + (k % 2 ? repeat : 0));
      soft[copy + 3] = -soft[copy + 3];
    }
    const TDecoded repaired = Decode(soft);
    EXPECT_EQ(repaired.Text, text);
    EXPECT_GE(repaired.Corrections, 3u);

    // Both copies of one character silent: an erasure mark in its place.
    const int k = english ? 14 : 20;  // English the N of NAVAREA, Japanese the first byte of 東
    for (int i = 0; i < unit; ++i) soft[2 * unit * k + i] = soft[2 * unit * k + repeat + i] = 0.0;
    const TDecoded erased = Decode(soft);
    std::string want = text;
    if (english)
      want[want.find("NAVAREA")] = '*';
    else
      want.replace(want.find("東"), std::string("東").size(), "〓");
    EXPECT_EQ(erased.Text, want);
    EXPECT_EQ(erased.Erasures, 1u);
  }
}

TEST(RobustDecoder, RecoversTheFiguresShiftFromTheCharactersAfterALostOne)
{
  std::vector<uint8_t> codes;
  std::string err;
  ASSERT_TRUE(gen::EnglishCodes(English, codes, err));
  const uint8_t figsThree[] = {0x36, 0x35, 0x17};  // figures shift, 3, 5 of "35-12N"
  const auto k = std::search(codes.begin(), codes.end(), std::begin(figsThree), std::end(figsThree)) - codes.begin();
  std::vector<double> soft = Clean(MessageBits(English, TService::English, false));
  for (int i = 0; i < 7; ++i) soft[14 * k + i] = soft[14 * k + 35 + i] = 0.0;
  const TDecoded d = Decode(soft);
  EXPECT_NE(d.Text.find("35-12N 139-45E."), std::string::npos) << d.Text;
  EXPECT_LE(test::CharErrorRate(d.Text, English), 1.0 / English.size());
}

TEST(RobustDecoder, FollowsBitSlips)
{
  std::string text;
  for (int i = 0; i < 6; ++i) text += "LINE " + std::to_string(i) + " OF A LONGER WEATHER BULLETIN FOR THE SEA AREAS\n";
  const auto bits = MessageBits(text, TService::English, false);
  for (int slip : {-1, 1}) {
    std::vector<uint8_t> slipped = bits;
    const std::size_t at = bits.size() / 3 + 3, again = 2 * bits.size() / 3 + 5;
    if (slip < 0) {
      slipped.erase(slipped.begin() + static_cast<long>(again));
      slipped.erase(slipped.begin() + static_cast<long>(at));
    } else {
      slipped.insert(slipped.begin() + static_cast<long>(again), 1);
      slipped.insert(slipped.begin() + static_cast<long>(at), 0);
    }
    const TDecoded d = Decode(Clean(slipped));
    // Each slip may cost the few characters whose copies lie on both sides of it.
    EXPECT_LE(test::CharErrorRate(d.Text, text), 12.0 / text.size()) << slip << "\n" << d.Text;
  }
}

TEST(RobustDecoder, NoiseAndSilencePrintAlmostNothing)
{
  std::size_t printed = 0;
  for (double level : {-3.0, 3.0, 12.0})
    for (uint32_t seed : {1u, 2u}) {
      TRobustDecoder d;
      TTextStore text;
      test::TRecordingSink sink;
      text.Sink = &sink;
      d.Process(test::SoftNoise(6000, level, seed), text);
      d.Process(std::vector<double>(3000, 0.0), text);
      d.Finish(text);
      for (const auto& l : sink.Lines) printed += test::CodePoints(l).size();
      printed += test::CodePoints(d.LineText()).size();
    }
  EXPECT_LE(printed, 5u);
}

TEST(RobustDecoder, NoisyAndFadedSoftBitsStayWithinTheirBands)
{
  struct TCase {
    TService Service;
    double EbN0, Fading, MaxCer;
  };
  for (const TCase& c : {TCase{TService::English, 3.0, 0.0, 0.02}, TCase{TService::Japanese, 3.0, 0.0, 0.03},
                         TCase{TService::English, 10.0, 30.0, 0.02}}) {
    const std::string& text = c.Service == TService::English ? English : Japanese;
    double cer = 0.0;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
      test::TSoftChannel ch;
      ch.EbN0Db = c.EbN0;
      ch.FadingBits = c.Fading;
      ch.Seed = seed;
      cer += test::CharErrorRate(Decode(test::SoftBits(MessageBits(text, c.Service, seed % 2), ch), seed).Text, text);
    }
    EXPECT_LE(cer / 4, c.MaxCer) << c.EbN0 << " dB, fading " << c.Fading;
  }
}

// --- The whole robust path on generated audio -------------------------------------

struct TAudioCase {
  TService Service = TService::English;
  double Snr = 2.0, Offset = 0.0, Baud = 100.0, Fading = 0.0;
  double Phasing = 3.0;
  double JoinSeconds = 0.0;  // audio cut off at the start: joining mid-message
  int WholeCharacters = 0;   // the decoder's switch for whole-character detection
};

// The text the robust path decodes; `corrections` adds its count of
// characters whose copies did not both agree.
std::string PathText(const std::string& text, const TAudioCase& c, uint32_t seed, uint64_t* corrections = nullptr)
{
  std::vector<uint8_t> codes;
  std::string err;
  EXPECT_TRUE(c.Service == TService::English ? gen::EnglishCodes(text, codes, err) : gen::JapaneseCodes(text, codes, err));
  gen::TEmission e;
  e.Service = c.Service;
  e.PhasingSeconds = c.Phasing;
  gen::TFskParams p;
  p.SnrDb = c.Snr;
  p.Offset = c.Offset;
  p.Baud = c.Baud;
  p.FadingDoppler = c.Fading;
  p.Seed = seed;
  auto signal = gen::ModulateFsk(gen::EmissionBits(codes, e), p);
  signal.erase(signal.begin(), signal.begin() + static_cast<long>(c.JoinSeconds * p.SampleRate));
  std::vector<int16_t> pcm = gen::NoiseOnly(0.5, p, 1);
  pcm.insert(pcm.end(), signal.begin(), signal.end());
  const auto tail = gen::NoiseOnly(1.5, p, 2);
  pcm.insert(pcm.end(), tail.begin(), tail.end());

  TRobustDecoderParams params;
  params.WholeCharacters = c.WholeCharacters;
  TRobustPath path(800.0, params);
  TTextStore store;
  test::TRecordingSink sink;
  store.Sink = &sink;
  const std::vector<double> x(pcm.begin(), pcm.end());
  for (std::size_t i = 0; i < x.size(); i += 3000)
    path.Process(std::span(x).subspan(i, std::min<std::size_t>(3000, x.size() - i)), store);
  path.Finish(store);
  if (corrections) *corrections += path.Corrections();
  std::string s;
  for (const auto& l : sink.Lines) s += l + "\n";
  return Cp932ToUtf8(s + path.LineText());
}

TEST(RobustPath, NoiseFadingOffsetsAndBitRatesOnGeneratedAudio)
{
  struct TCase {
    const char* Name;
    TAudioCase Audio;
    double MaxCer;
  };
  const TCase cases[] = {
      {"ENG 2 dB", {TService::English, 2.0}, 0.04},
      {"JPN 2 dB", {TService::Japanese, 2.0}, 0.05},
      {"fading 1 Hz, 12 dB", {TService::English, 12.0, 0.0, 100.0, 1.0}, 0.06},
      {"offset +30 Hz", {TService::English, 6.0, 30.0}, 0.02},
      {"offset -30 Hz", {TService::English, 6.0, -30.0}, 0.02},
      {"99.5 Bd", {TService::English, 6.0, 0.0, 99.5, 0.0, 8.0}, 0.03},
      {"100.5 Bd", {TService::English, 6.0, 0.0, 100.5, 0.0, 8.0}, 0.03},
  };
  for (const TCase& c : cases) {
    const std::string& text = c.Audio.Service == TService::English ? English : Japanese;
    double cer = 0.0;
    for (uint32_t seed : {3u, 4u}) cer += test::CharErrorRate(PathText(text, c.Audio, seed), text);
    EXPECT_LE(cer / 2, c.MaxCer) << c.Name;
  }
}

TEST(RobustPath, JoinsInTheMiddleOfAMessage)
{
  std::string text = "ZCZC OA12\n";
  for (int i = 0; i < 5; ++i) text += "LINE " + std::to_string(i) + " OF THE BULLETIN, WINDS NW 6 TO 7\n";
  TAudioCase c;
  c.Snr = 8.0;
  c.JoinSeconds = 3.0 + 12 * 0.14 + 0.03;  // phasing and a dozen characters, off the bit grid
  const std::u32string sent = test::CodePoints(text.substr(text.find('\n') + 1));
  const std::u32string got = test::CodePoints(PathText(text, c, 5));
  EXPECT_GE(test::CommonChars(got, sent), sent.size() * 95 / 100);
}

// Whole characters (switched on) gain where the soft values alone fail, and
// lose nothing on a clean signal (the messages are short: the rates include
// finding the signal).
TEST(RobustPath, WholeCharactersGainAtALowSnr)
{
  struct TCase {
    const char* Name;
    TAudioCase Audio;
    double MaxCerWhole;  // with whole characters
    double MinGain;      // CER of the soft values alone minus that
  };
  const TCase cases[] = {
      {"ENG clean", {TService::English, 40.0}, 0.0, 0.0},
      // The demodulator's bit clock wanders by a sample or two at this SNR:
      // without the characters' own timing these come to about 0.18 and 0.12.
      {"ENG -2 dB", {TService::English, -2.0}, 0.14, 0.04},
      {"JPN -2 dB", {TService::Japanese, -2.0}, 0.06, 0.02},
  };
  for (const TCase& c : cases) {
    const std::string& text = c.Audio.Service == TService::English ? English : Japanese;
    TAudioCase whole = c.Audio;
    whole.WholeCharacters = 1;
    double cerWhole = 0.0, cerSoft = 0.0;
    uint64_t corrected = 0;
    for (uint32_t seed : {3u, 4u}) {
      cerWhole += test::CharErrorRate(PathText(text, whole, seed, &corrected), text) / 2;
      cerSoft += test::CharErrorRate(PathText(text, c.Audio, seed), text) / 2;
    }
    EXPECT_LE(cerWhole, c.MaxCerWhole) << c.Name;
    // On a clean signal both copies of every character agree.
    if (c.MaxCerWhole == 0.0) {
      EXPECT_EQ(corrected, 0u) << c.Name;
    }
    EXPECT_GE(cerSoft - cerWhole, c.MinGain) << c.Name;
  }
}

}  // namespace
}  // namespace brontel
