// How well the robust path's error estimate predicts the true character error
// rate of the messages it stores: generated emissions at SNRs from −3 to +3 dB,
// English and Japanese, decoded by the robust path into the message assembler;
// every message (or fragment) is aligned with the text that was sent.
//
//   brontel_confidence_eval [--tune | --check] [--seeds N] [--snr DB]... [--set NAME=VALUE] [--show] [--misses]
//   brontel_confidence_eval --repair K [--tune | --check] [--seeds N] [--snr DB]...
//
// --tune uses the even-numbered texts and the seeds 1 … N, --check (the
// default) the odd-numbered texts and the seeds 1001 … 1000+N, so that a
// setting chosen with --tune is judged on texts and noise it has not seen.
// A copy's estimate is good when it lies within 1 percentage point or 30 % of
// the true rate, whichever is larger; "limit" is how many would be good on
// average if every character were wrong independently with the probability
// its confidence gives (what the length of a copy allows any estimate). Copies
// of fewer than 20 characters (noise at the edges of a reception) are counted
// as "small" and left out. The reliability table compares the confidence of
// the printed characters with how often they were right. --show prints every
// copy, --misses the copies whose estimate is not good and the wrong
// characters printed with a confidence of 0.99 or more.
//
// --repair K decodes K emissions of each text (the seeds one after another)
// and repairs the message from the copies as the store does (MergeCopies),
// then compares the true error rate of the repaired text with that of the
// copy received best (the one with the fewest true errors, which no receiver
// can know), of the copy the repair starts from, and the repaired text's
// own estimate with its true rate.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/robust_path.h"
#include "decoder/cp932.h"
#include "dsp/rates.h"
#include "messages/assembler.h"
#include "messages/repair.h"
#include "signal/navtex_signal.h"

namespace {

using namespace brontel;

// Messages of lengths NAVTEX stations send (texts of 360 to 430 characters
// in English, 105 to 125 in Japanese).
const char* const EnglishTexts[] = {
    "ZCZC OA01\nSECURITE. NAVAREA WARNING 123. BUOY OFF STATION IN 12-34.5N 001-23.4W.\n"
    "VESSELS ARE REQUESTED TO KEEP CLEAR AND REPORT SIGHTINGS TO THE COASTGUARD.\n"
    "LIGHTED BUOY NORTH CARDINAL MARK 2 CABLES NORTH OF ENTRANCE UNLIT.\n"
    "WRECK BUOY IN 50-12.3N 001-45.6W REPORTED MISSING SINCE 061200 UTC.\n"
    "MARINERS ARE ADVISED TO NAVIGATE WITH CAUTION IN THE AREA.\n"
    "THIS MESSAGE WILL BE REPEATED EVERY FOUR HOURS UNTIL FURTHER NOTICE.\nNNNN\n",
    "ZCZC WE42\nGALE WARNING. NORTHERLY WINDS FORCE 8 EXPECTED IN AREA FISHER LATER.\n"
    "SEA ROUGH OR VERY ROUGH, VISIBILITY MODERATE IN RAIN. OUTLOOK: DECREASING 5.\n"
    "GERMAN BIGHT, HUMBER: SOUTHWEST 5 TO 7, OCCASIONALLY GALE 8 LATER.\n"
    "THAMES, DOVER: WEST 4 OR 5, INCREASING 6 AT TIMES. MODERATE OR ROUGH.\n"
    "WIGHT, PORTLAND, PLYMOUTH: SOUTHWEST VEERING WEST 5 TO 7, PERHAPS GALE 8 LATER.\n"
    "RAIN THEN SHOWERS. GOOD, OCCASIONALLY POOR.\nNNNN\n",
    "ZCZC KA07\nTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 (TEST) ?/=+:,.\n"
    "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS. 2026 DEC 07 1200 UTC.\n"
    "SPHINX OF BLACK QUARTZ, JUDGE MY VOW. HOW VEXINGLY QUICK DAFT ZEBRAS JUMP.\n"
    "THE FIVE BOXING WIZARDS JUMP QUICKLY. JACKDAWS LOVE MY BIG SPHINX OF QUARTZ.\n"
    "TEST TRANSMISSION 3 OF 5 ON 518 KHZ AT 1230 UTC. RECEPTION REPORTS TO THE STATION.\n"
    "MR JOCK, TV QUIZ PHD, BAGS FEW LYNX. 9/10 (90 PCT) = GOOD.\nNNNN\n",
    "ZCZC GB18\n071030 UTC DEC\nDRIFTING CONTAINER REPORTED 51-02N 001-48E AT 0815 UTC.\n"
    "MARINERS ARE ADVISED TO MAINTAIN A SHARP LOOKOUT.\n"
    "ANOTHER TWO CONTAINERS, 40 FEET, RED, PARTLY SUBMERGED, LAST SEEN DRIFTING\n"
    "NORTHEAST IN POSITIONS 51-05N 001-55E AND 51-07N 002-01E.\n"
    "VESSELS IN THE VICINITY ARE REQUESTED TO REPORT SIGHTINGS TO DOVER COASTGUARD.\n"
    "CANCEL THIS MSG 081030 UTC DEC.\nNNNN\n",
    "ZCZC SA55\nNAVAREA I 311/26\nNORTH SEA. DUTCH SECTOR.\nSEISMIC SURVEY OPERATIONS IN PROGRESS BY MV "
    "OCEAN EXPLORER\nTOWING 8 CABLES 6000 METRES LONG WITHIN AREA BOUNDED BY\n53-10.0N 003-20.0E, "
    "53-25.0N 003-45.0E, 53-05.0N 004-05.0E.\nWIDE BERTH REQUESTED.\n"
    "GUARD VESSEL MV SEA WATCH IN ATTENDANCE, LISTENING ON VHF CHANNELS 16 AND 13.\n"
    "OPERATIONS EXPECTED TO CONTINUE UNTIL 20 DEC.\nCANCEL NAVAREA I 298/26.\nNNNN\n",
    "ZCZC LE03\nWEATHER FORECAST FOR COASTAL WATERS ISSUED AT 0600 UTC.\nWIND: WEST OR SOUTHWEST 4 OR 5, "
    "INCREASING 6 AT TIMES.\nSEA STATE: MODERATE OR ROUGH.\nWEATHER: SHOWERS, FOG PATCHES LATER.\n"
    "VISIBILITY: GOOD, OCCASIONALLY POOR.\nOUTLOOK FOR THE FOLLOWING 24 HOURS:\n"
    "WIND: NORTHWEST 5 TO 7, DECREASING 3 OR 4 LATER. SEA STATE: ROUGH, BECOMING MODERATE.\n"
    "WEATHER: SHOWERS, THEN FAIR. VISIBILITY: GOOD.\nNNNN\n",
    "ZCZC ND91\nMAYDAY RELAY. FISHING VESSEL WITH 5 PERSONS ON BOARD REPORTED SINKING IN POSITION\n"
    "44-17N 008-36W AT 0342 UTC. ALL VESSELS IN THE VICINITY ARE REQUESTED TO KEEP A SHARP LOOKOUT,\n"
    "ASSIST IF POSSIBLE AND REPORT TO MRCC ON VHF CHANNEL 16 OR 2182 KHZ.\n"
    "VESSEL DESCRIBED AS 18 METRES, BLUE HULL, WHITE SUPERSTRUCTURE, CALLSIGN EA1234.\n"
    "LIFERAFT AND EPIRB ON BOARD. WEATHER IN AREA: WIND NW 6, SEA ROUGH, VISIBILITY 2 NM.\nNNNN\n",
    "ZCZC TB12\nSTRONG WIND WARNING NR 4 ISSUED 1800 UTC. SOUTHERN BALTIC:\nEAST VEERING SOUTH 6 TO 7, "
    "LOCALLY 8 IN THE EVENING. WAVES 2.5 TO 3.5 M.\nRISK OF ICING OVER THE NORTHERN PART. "
    "TEMPERATURE -4 TO -9 C.\nCENTRAL BALTIC: SOUTHEAST 5 TO 7, LATER SOUTH 6 TO 8.\n"
    "GULF OF RIGA: EAST 6 TO 7. SNOW SHOWERS, VISIBILITY MODERATE TO POOR.\n"
    "ICE: FAST ICE IN THE NORTHERN BAYS, 10 TO 20 CM.\nNEXT WARNING AT 0000 UTC.\nNNNN\n",
};

const char* const JapaneseTexts[] = {
    "ＺＣＺＣ　ＪＡ０１\n航行警報\n東京湾　浮標消灯中\n付近航行の船舶は注意されたい。\n"
    "東京湾中ノ瀬航路第一号灯浮標は　十二月五日から消灯している。\n"
    "また　浦賀水道航路付近で　漂流物の情報がある。\n航行船舶は　見張りを厳重にし　注意して航行されたい。\nＮＮＮＮ\n",
    "ＺＣＺＣ　ＪＢ２２\n気象警報　海上強風警報\n北の風　やや強く　波の高さ　２．５メートル\n"
    "今夜から明日にかけて　しけるでしょう。\n低気圧が発達しながら　東に進んでいる。\n"
    "北海道の東の海上では　明日の朝まで　風が強く　波が高い見込み。\n船舶は十分注意すること。\nＮＮＮＮ\n",
    "ＺＣＺＣ　ＪＡ３０\n海上保安庁より\n漁船は港に戻ること。\n本日１２時から作業を行うので注意すること。\n"
    "作業区域は　次の各点を順に結ぶ線で囲まれた海域とする。\n作業船は　昼間は旗を　夜間は灯火を表示する。\n"
    "付近を航行する船舶は　作業船から十分離れて航行されたい。\nＮＮＮＮ\n",
    "ＺＣＺＣ　ＪＥ０４\n天気予報　沿岸の海域\n南の風　後　西の風　くもり　時々　雨\n"
    "視程　良好　ところにより　不良\n明日は　北西の風　やや強く　晴れ　時々　くもり\n"
    "波の高さ　二メートル　後　一．五メートル\n気温は　平年より低い見込み。\nＮＮＮＮ\n",
    "ＺＣＺＣ　ＪＤ１５\n捜索救助\n漁船　第五大和丸が行方不明となった。\n"
    "付近を航行する船舶は見張りを厳重にし　発見の際は通報されたい。\n"
    "同船は　長さ十八メートル　青色の船体　白色の船橋を有し　乗組員は五名である。\n"
    "最後の連絡は　昨日午後三時　港の南方約二十海里であった。\nＮＮＮＮ\n",
    "ＺＣＺＣ　ＪＡ４８\n航行警報　測量作業\n三月一日から十日まで　毎日　日出から日没まで\n"
    "次の各点を順に結ぶ線内の海域で実施する。\n測量船は　えい航物を引いて　低速で航行する。\n"
    "付近を航行する船舶は　測量船の動静に注意し　十分な距離をとって航行されたい。\nＮＮＮＮ\n",
};

struct TCopy {
  double TrueCer = 0.0, Estimate = 0.0, Old = 0.0;  // the rate, its estimate, and the estimate without confidences
  double Ceiling = 0.0;  // the chance that the estimate is good were the confidences exact
  int Chars = 0;
  bool Header = false;
};

struct TBin {
  double Confidence = 0.0;  // summed
  int Right = 0, All = 0;
};

std::array<TBin, 8> Bins;

bool Good(double estimate, double truth) { return std::abs(estimate - truth) <= std::max(0.01, 0.3 * truth); }

// The chance that a copy's estimate is good if its characters are wrong
// independently with the probabilities its confidences give: the limit the
// number of characters sets to any estimate of one copy.
double Ceiling(const msg::TMessage& m)
{
  std::vector<double> dist{1.0};  // distribution of the count of wrong characters
  for (float p : m.Confidence) {
    const double q = 1.0 - std::clamp(static_cast<double>(p), 0.0, 1.0);
    dist.push_back(0.0);
    for (std::size_t x = dist.size() - 1; x > 0; --x) dist[x] = dist[x] * (1.0 - q) + dist[x - 1] * q;
    dist[0] *= 1.0 - q;
  }
  const double n = m.Chars + m.Lost;
  double good = 0.0;
  for (std::size_t x = 0; x < dist.size(); ++x) good += dist[x] * Good(m.Cer, (static_cast<double>(x) + m.Lost) / n);
  return good;
}
bool Show = false;
std::array<double, 5> Kinds{};  // substitutions, insertions, deletions; expected wrong characters, lost ones
bool Misses = false;  // print the wrong characters printed with a confidence of 0.99 or more
TRobustDecoderParams Params;
msg::TRepairModel Repairs;

int BinOf(double p)
{
  static const double edges[] = {0.3, 0.5, 0.7, 0.9, 0.99, 0.999, 0.9999};
  int b = 0;
  while (b < 7 && p >= edges[b]) ++b;
  return b;
}

// The characters of code page 932 text (one entry per character, line ends
// kept), each as UTF-8.
std::vector<std::string> Chars(std::string_view cp932)
{
  std::vector<std::string> out;
  for (std::size_t pos = 0; pos < cp932.size();) {
    const msg::TUnit u = msg::UnitAt(cp932, pos);
    pos += u.Bytes.size();
    out.push_back(Cp932ToUtf8(u.Bytes));
  }
  return out;
}

std::vector<std::string> Utf8Chars(std::string_view utf8)
{
  std::vector<std::string> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 4;
    out.emplace_back(utf8.substr(i, len));
    i += len;
  }
  return out;
}

// Edit distance of `got` against `ref` (free to start and end anywhere in
// `ref` where asked), the stretch of `ref` it covers, and which characters of
// `got` were matched.
struct TAlignment {
  int Errors = 0, RefLen = 0;
  int Subs = 0, Ins = 0, Dels = 0;
  std::vector<bool> Right;
};

TAlignment Align(const std::vector<std::string>& got, const std::vector<std::string>& ref, bool freeStart,
                 bool freeEnd)
{
  const std::size_t n = got.size(), m = ref.size();
  std::vector<std::vector<int>> d(n + 1, std::vector<int>(m + 1));
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = freeStart ? 0 : static_cast<int>(j);
  for (std::size_t i = 1; i <= n; ++i) {
    d[i][0] = static_cast<int>(i);
    for (std::size_t j = 1; j <= m; ++j)
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (got[i - 1] != ref[j - 1])});
  }
  std::size_t end = m;
  if (freeEnd)
    for (std::size_t j = 0; j <= m; ++j)
      if (d[n][j] < d[n][end]) end = j;
  TAlignment a;
  a.Errors = d[n][end];
  a.Right.assign(n, false);
  std::size_t i = n, j = end;
  while (i > 0) {
    if (j > 0 && d[i][j] == d[i - 1][j - 1] + (got[i - 1] != ref[j - 1])) {
      a.Right[i - 1] = got[i - 1] == ref[j - 1];
      a.Subs += !a.Right[i - 1];
      --i, --j;
    } else if (d[i][j] == d[i - 1][j] + 1) {
      ++a.Ins;
      --i;
    } else {
      ++a.Dels;
      --j;
    }
  }
  if (!freeStart) a.Dels += static_cast<int>(j);
  a.RefLen = static_cast<int>(freeStart ? end - j : end);
  return a;
}

std::vector<msg::TMessage> Decode(const std::vector<int16_t>& pcm)
{
  std::vector<msg::TMessage> out;
  msg::TAssemblerOptions options;
  options.Decoder = "robust";
  msg::TMessageAssembler assembler([&](msg::TMessage&& m) { out.push_back(std::move(m)); }, options);
  msg::TAssemblerSink sink(assembler);
  TRobustPath path(800.0, Params);
  TTextStore store;
  store.Sink = &sink;
  const std::vector<double> x(pcm.begin(), pcm.end());
  double t = 0.0;
  for (std::size_t s = 0; s < x.size(); s += FramesPerBlock) {
    path.Process(std::span(x).subspan(s, std::min<std::size_t>(FramesPerBlock, x.size() - s)), store);
    t += 0.1;
    sink.AfterBlock(t, path.InSync(), path.EngMode());
  }
  path.Finish(store);
  sink.Finish(t, path.LineText(), path.Decoder().LineConfidence());
  return out;
}

std::vector<int16_t> Emission(const std::string& text, bool english, double snr, uint32_t seed)
{
  std::vector<uint8_t> codes;
  std::string err;
  if (!(english ? gen::EnglishCodes(text, codes, err) : gen::JapaneseCodes(text, codes, err))) {
    std::fprintf(stderr, "text refused: %s\n", err.c_str());
    std::exit(1);
  }
  gen::TEmission e;
  e.Service = english ? gen::TService::English : gen::TService::Japanese;
  e.PhasingSeconds = 3.0;
  e.IdleSeconds = 1.0;
  gen::TFskParams p;
  p.Amplitude = 1000.0;  // the wide-band noise stays clear of the 16-bit limits
  p.SnrDb = snr;
  p.Seed = seed;
  const auto signal = gen::ModulateFsk(gen::EmissionBits(codes, e, seed % 2 == 1), p);
  std::vector<int16_t> pcm = gen::NoiseOnly(1.0, p, 1);
  pcm.insert(pcm.end(), signal.begin(), signal.end());
  const auto tail = gen::NoiseOnly(2.0, p, 2);
  pcm.insert(pcm.end(), tail.begin(), tail.end());
  return pcm;
}

// The copies of one emission, each scored against the text sent.
std::vector<TCopy> Score(const std::string& text, bool english, double snr, uint32_t seed, int& small)
{
  const std::vector<std::string> sent = Utf8Chars(text);
  // The body: from the line after the header to the line before the trailer.
  const auto firstLf = std::find(sent.begin(), sent.end(), "\n") - sent.begin();
  std::size_t last = sent.size() - 1;  // the final line end
  while (last > 0 && sent[last - 1] != "\n") --last;  // start of the trailer line
  const std::vector<std::string> body(sent.begin() + firstLf + 1, sent.begin() + static_cast<long>(last) - 1);

  std::vector<std::string> bodyTrailer(sent.begin() + firstLf + 1, sent.end());
  bodyTrailer.pop_back();
  std::vector<TCopy> copies;
  for (msg::TMessage& m : Decode(Emission(text, english, snr, seed))) {
    const std::vector<std::string> got0 = Chars(m.Text);
    std::vector<std::string> got;
    std::vector<float> conf;
    std::size_t k = 0;
    for (const std::string& c : got0) {
      got.push_back(c);
      if (c == "\n") {
        conf.push_back(1.0f);
      } else {
        conf.push_back(k < m.Confidence.size() ? m.Confidence[k] : -1.0f);
        ++k;
      }
    }
    if (m.Chars < 20) {
      ++small;
      continue;
    }
    // A message whose trailer was not recognised may still hold it, received
    // with errors: it is compared with the body and the trailer.
    const TAlignment a = !m.HasHeader ? Align(got, sent, true, true)
                         : m.Trailer  ? Align(got, body, false, false)
                                      : Align(got, bodyTrailer, false, true);
    TCopy c;
    c.Header = m.HasHeader;
    c.Chars = m.Chars;
    c.TrueCer = a.RefLen > 0 ? static_cast<double>(a.Errors) / a.RefLen : 1.0;
    c.Estimate = m.Cer;
    c.Ceiling = Ceiling(m);
    msg::TMessage old = m;
    old.Confidence.clear();
    msg::Measure(old);
    c.Old = old.Cer;
    copies.push_back(c);
    Kinds[0] += a.Subs, Kinds[1] += a.Ins, Kinds[2] += a.Dels;
    for (const float p : m.Confidence) Kinds[3] += 1.0 - p;
    Kinds[4] += m.Lost;
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (got[i] == "\n" || conf[i] < 0.0f) continue;
      if (Misses && !a.Right[i] && conf[i] >= 0.99) {
        std::string ctx;
        for (std::size_t q = i >= 12 ? i - 12 : 0; q < std::min(got.size(), i + 12); ++q)
          ctx += q == i ? "[" + got[q] + "]" : got[q] == "\n" ? "|" : got[q];
        std::printf("miss %.5f %s\n", conf[i], ctx.c_str());
      }
      TBin& b = Bins[BinOf(conf[i])];
      b.Confidence += conf[i];
      b.Right += a.Right[i];
      ++b.All;
    }
    if (Show || (Misses && !Good(c.Estimate, c.TrueCer)))
      std::printf("--- %s %+.0f dB seed %u: true %.2f%% (%d of %d) estimate %.2f%% (%d chars, %d erased, %d lost)%s%s\n%s\n",
                  english ? "ENG" : "JPN", snr, seed, 100 * c.TrueCer, a.Errors, a.RefLen, 100 * c.Estimate, m.Chars,
                  m.Erasures, m.Lost, m.HasHeader ? "" : " no header", m.Trailer ? "" : " no trailer",
                  Cp932ToUtf8(m.Text).c_str());
  }
  return copies;
}

bool SetParam(const std::string& arg)
{
  const auto eq = arg.find('=');
  if (eq == std::string::npos) return false;
  const std::string name = arg.substr(0, eq);
  const double v = std::atof(arg.c_str() + eq + 1);
  if (name == "ConfidenceScale")
    Params.ConfidenceScale = v;
  else if (name == "AbsentConfidence")
    Repairs.AbsentConfidence = v;
  else if (name == "UnknownConfidence")
    Repairs.UnknownConfidence = v;
  else if (name == "EnglishAlternatives")
    Repairs.EnglishAlternatives = v;
  else if (name == "JapaneseAlternatives")
    Repairs.JapaneseAlternatives = v;
  else if (name == "EraseBelow")
    Params.EraseBelow = v;
  else
    return false;
  return true;
}

}  // namespace

// The true error rate of message `m` against the emission of `text`
// (its body, or with the trailer when it was not recognised).
double TrueCer(const msg::TMessage& m, const std::string& text, std::array<int, 3>* kinds = nullptr)
{
  const std::vector<std::string> sent = Utf8Chars(text);
  const auto firstLf = std::find(sent.begin(), sent.end(), "\n") - sent.begin();
  std::size_t last = sent.size() - 1;
  while (last > 0 && sent[last - 1] != "\n") --last;
  const std::vector<std::string> body(sent.begin() + firstLf + 1, sent.begin() + static_cast<long>(last) - 1);
  std::vector<std::string> bodyTrailer(sent.begin() + firstLf + 1, sent.end());
  bodyTrailer.pop_back();
  const std::vector<std::string> got = Chars(m.Text);
  const TAlignment a = m.Trailer ? Align(got, body, false, false) : Align(got, bodyTrailer, false, true);
  if (kinds) (*kinds)[0] += a.Subs, (*kinds)[1] += a.Ins, (*kinds)[2] += a.Dels;
  return a.RefLen > 0 ? static_cast<double>(a.Errors) / a.RefLen : 1.0;
}

// The copy of the message in one decoded emission: the longest with a header.
bool MessageOf(const std::vector<int16_t>& pcm, msg::TMessage& out)
{
  bool found = false;
  for (msg::TMessage& m : Decode(pcm))
    if (m.HasHeader && (!found || m.Chars > out.Chars)) {
      out = std::move(m);
      found = true;
    }
  return found;
}

int Repair(int k, bool tune, int seeds, std::vector<double> snrs)
{
  if (snrs.empty()) snrs = {-3, -2, -1, 0};
  const uint32_t seed0 = tune ? 1 : 1001;
  const int parity = tune ? 0 : 1;
  std::printf("repair from %d copies, %s set\n", k, tune ? "tuning" : "held-out");
  std::printf("%-5s %6s  %6s  %10s %10s %10s  %8s  %s\n", "", "SNR", "groups", "best copy", "base copy", "repaired",
              "estimate", "repaired better than the best / as good / worse");
  for (bool english : {true, false})
    for (double snr : snrs) {
      int groups = 0, better = 0, same = 0, worse = 0;
      std::array<int, 3> kinds{};
      double best = 0.0, base = 0.0, repaired = 0.0, estimate = 0.0;
      const int texts = english ? std::size(EnglishTexts) : std::size(JapaneseTexts);
      for (int t = parity; t < texts; t += 2)
        for (int s = 0; s < seeds; ++s) {
          const std::string text = english ? EnglishTexts[t] : JapaneseTexts[t];
          std::vector<msg::TMessage> copies;
          for (int c = 0; c < k; ++c) {
            msg::TMessage m;
            if (MessageOf(Emission(text, english, snr, seed0 + 100 * t + 10 * s + c), m)) copies.push_back(std::move(m));
          }
          if (copies.empty()) continue;
          double bestCer = 1.0;
          for (const msg::TMessage& c : copies) bestCer = std::min(bestCer, TrueCer(c, text));
          const msg::TMessage* first = &copies[0];
          for (const msg::TMessage& c : copies)
            if (msg::Better(c, *first)) first = &c;
          const msg::TMessage merged = msg::MergeCopies(copies, Repairs);
          const double mergedCer = TrueCer(merged, text, &kinds);
          ++groups;
          best += bestCer;
          base += TrueCer(*first, text);
          repaired += mergedCer;
          estimate += merged.Cer;
          better += mergedCer < bestCer - 1e-9;
          same += std::abs(mergedCer - bestCer) <= 1e-9;
          worse += mergedCer > bestCer + 1e-9;
          if (Show)
            std::printf("--- %s %+.0f dB text %d seed %d: best %.2f%% repaired %.2f%%\n%s\n", english ? "ENG" : "JPN",
                        snr, t, s, 100 * bestCer, 100 * mergedCer, Cp932ToUtf8(merged.Text).c_str());
        }
      const double n = std::max(1, groups);
      std::printf("%-5s %+5.0f  %6d  %9.2f%% %9.2f%% %9.2f%%  %7.2f%%  %d / %d / %d  (repaired: %d substituted, %d "
                  "inserted, %d deleted)\n",
                  english ? "ENG" : "JPN", snr, groups, 100 * best / n, 100 * base / n, 100 * repaired / n,
                  100 * estimate / n, better, same, worse, kinds[0], kinds[1], kinds[2]);
      std::fflush(stdout);
    }
  return 0;
}

int main(int argc, char** argv)
{
  int repair = 0;
  bool tune = false;
  int seeds = 4;
  std::vector<double> snrs;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--tune"))
      tune = true;
    else if (!std::strcmp(argv[i], "--check"))
      tune = false;
    else if (!std::strcmp(argv[i], "--seeds") && i + 1 < argc)
      seeds = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--snr") && i + 1 < argc)
      snrs.push_back(std::atof(argv[++i]));
    else if (!std::strcmp(argv[i], "--set") && i + 1 < argc && SetParam(argv[i + 1]))
      ++i;
    else if (!std::strcmp(argv[i], "--show"))
      Show = true;
    else if (!std::strcmp(argv[i], "--misses"))
      Misses = true;
    else if (!std::strcmp(argv[i], "--repair") && i + 1 < argc)
      repair = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: brontel_confidence_eval [--tune | --check] [--seeds N] [--snr DB]... "
                           "[--set NAME=VALUE] [--show]\n       brontel_confidence_eval --repair K [--tune | --check] "
                           "[--seeds N] [--snr DB]...\n");
      return 2;
    }
  }
  if (repair > 0) return Repair(repair, tune, seeds, snrs);
  if (snrs.empty()) snrs = {-3, -2, -1, 0, 1, 2, 3};
  const uint32_t seed0 = tune ? 1 : 1001;
  const int parity = tune ? 0 : 1;
  std::printf("%s set: %s texts, seeds %u-%u\n", tune ? "tuning" : "held-out", tune ? "even" : "odd", seed0,
              seed0 + seeds - 1);
  std::printf("%-5s %6s  %6s %6s  %8s %8s %8s  %s\n", "", "SNR", "copies", "small", "true", "estim.", "old",
              "good limit old");
  int allGood = 0, allCopies = 0, oldGood = 0;
  double allCeiling = 0.0;
  for (bool english : {true, false})
    for (double snr : snrs) {
      int good = 0, good0 = 0, small = 0;
      double ceiling = 0.0;
      double sumTrue = 0.0, sumEst = 0.0, sumOld = 0.0;
      std::vector<TCopy> all;
      const int texts = english ? std::size(EnglishTexts) : std::size(JapaneseTexts);
      for (int k = parity; k < texts; k += 2)
        for (int s = 0; s < seeds; ++s) {
          const std::string text = english ? EnglishTexts[k] : JapaneseTexts[k];
          const auto copies = Score(text, english, snr, seed0 + s + 100 * k, small);
          all.insert(all.end(), copies.begin(), copies.end());
        }
      for (const TCopy& c : all) {
        good += Good(c.Estimate, c.TrueCer);
        good0 += Good(c.Old, c.TrueCer);
        ceiling += c.Ceiling;
        sumTrue += c.TrueCer;
        sumEst += c.Estimate;
        sumOld += c.Old;
      }
      const double n = std::max<std::size_t>(1, all.size());
      std::printf("%-5s %+5.0f  %6zu %6d  %7.2f%% %7.2f%% %7.2f%%  %3d %5.1f %4d\n", english ? "ENG" : "JPN", snr,
                  all.size(), small, 100 * sumTrue / n, 100 * sumEst / n, 100 * sumOld / n, good, ceiling, good0);
      std::fflush(stdout);
      allGood += good;
      allCeiling += ceiling;
      oldGood += good0;
      allCopies += static_cast<int>(all.size());
    }
  std::printf("estimate within 1 point or 30 %%: %d of %d copies (%.1f %%); limit %.1f (%.1f %%); the estimate "
              "without confidences: %d\n",
              allGood, allCopies, 100.0 * allGood / std::max(1, allCopies), allCeiling,
              100.0 * allCeiling / std::max(1, allCopies), oldGood);
  std::printf("errors: %.0f substituted, %.0f inserted, %.0f deleted; expected %.1f wrong and %.0f lost\n", Kinds[0],
              Kinds[1], Kinds[2], Kinds[3], Kinds[4]);
  std::printf("\nconfidence of the printed characters   characters  mean confidence  right\n");
  static const char* const names[] = {"< 0.3", "0.3-0.5", "0.5-0.7", "0.7-0.9", "0.9-0.99", "0.99-0.999",
                                      "0.999-0.9999", ">= 0.9999"};
  for (std::size_t b = 0; b < Bins.size(); ++b)
    if (Bins[b].All > 0)
      std::printf("  %-36s %10d  %14.5f  %.5f\n", names[b], Bins[b].All, Bins[b].Confidence / Bins[b].All,
                  static_cast<double>(Bins[b].Right) / Bins[b].All);
  return 0;
}
