#include "messages/message.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "decoder/text_output.h"

namespace brontel::msg {

namespace {

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The half-width form of full-width ASCII (row 3 letters and digits, the
// ideographic space, a few signs), or 0.
char FullWidthToHalf(unsigned char lead, unsigned char trail)
{
  if (lead == 0x82) {
    if (trail >= 0x4F && trail <= 0x58) return static_cast<char>('0' + (trail - 0x4F));
    if (trail >= 0x60 && trail <= 0x79) return static_cast<char>('A' + (trail - 0x60));
    if (trail >= 0x81 && trail <= 0x9A) return static_cast<char>('a' + (trail - 0x81));
  }
  if (lead == 0x81) {
    switch (trail) {
      case 0x40: return ' ';
      case 0x44: return '.';
      case 0x43: return ',';
      case 0x46: return ':';
      case 0x48: return '?';
      case 0x5E: return '/';
      case 0x69: return '(';
      case 0x6A: return ')';
      case 0x7B: return '+';
      case 0x7C: return '-';
      case 0x81: return '=';
      default: break;
    }
  }
  return 0;
}

bool EnglishCanSend(char c)
{
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view(" -?:().,=/+").find(c) != std::string_view::npos;
}

// A unit of two bytes (the first a lead byte: 0x81-0x9F or 0xE0-0xFC) of
// the JIS X 0208 rows 1-8 and 16-84: every lead byte but 0x85-0x87 (rows
// 9-15) and those past 0xEA (past row 84).
bool JapaneseCanSend(const std::string& bytes)
{
  if (bytes.size() != 2) return false;
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const auto trail = static_cast<unsigned char>(bytes[1]);
  const bool leadOk = (lead < 0x85 || lead > 0x87) && lead <= 0xEA;
  const bool trailOk = trail >= 0x40 && trail <= 0xFC && trail != 0x7F;
  return leadOk && trailOk;
}

// Characters per second of message text: a character and its repetition
// take two character periods of 7 bits (English) or 10 bits per byte,
// two bytes per character (Japanese), at 100 Bd.
double CharRate(TService s) { return s == TService::English ? 100.0 / 14.0 : 100.0 / 40.0; }

}  // namespace

TUnit UnitAt(std::string_view text, std::size_t pos)
{
  TUnit u;
  const auto c = static_cast<unsigned char>(text[pos]);
  if (c == '\n') {
    u.Kind = TUnitKind::LineEnd;
    u.Bytes.assign(1, '\n');
    return u;
  }
  if (IsLeadByte(c) && pos + 1 < text.size()) {
    const auto t = static_cast<unsigned char>(text[pos + 1]);
    u.Bytes.assign(text.substr(pos, 2));
    if (u.Bytes == JapaneseErasure) u.Kind = TUnitKind::Erasure;
    u.Half = FullWidthToHalf(c, t);
    return u;
  }
  u.Bytes.assign(1, static_cast<char>(c));
  if (u.Bytes == EnglishErasure) u.Kind = TUnitKind::Erasure;
  if (c >= 0x20 && c < 0x7F) u.Half = static_cast<char>(c);
  return u;
}

namespace {
bool IsCharacter(const TUnit& u) { return u.Kind == TUnitKind::Char || u.Kind == TUnitKind::Erasure; }
}  // namespace

std::vector<TUnit> ToUnits(std::string_view text, const std::vector<TGap>& gaps, std::span<const float> confidence)
{
  std::vector<TUnit> units;
  units.reserve(text.size());
  std::size_t g = 0;
  std::size_t pos = 0;
  auto gapUnit = [](const TGap& gap) {
    TUnit u;
    u.Kind = TUnitKind::Gap;
    u.Lost = gap.Lost;
    return u;
  };
  for (;;) {
    bool ownsLineEnd = false;  // the line end at pos belongs to a gap
    for (; g < gaps.size() && gaps[g].Offset <= pos; ++g) {
      TUnit u = gapUnit(gaps[g]);
      if (gaps[g].Break && !ownsLineEnd && pos < text.size() && text[pos] == '\n') {
        u.Bytes.assign(1, '\n');
        ownsLineEnd = true;
      }
      units.push_back(std::move(u));
    }
    if (ownsLineEnd) {
      ++pos;
      continue;
    }
    if (pos >= text.size()) break;
    TUnit u = UnitAt(text, pos);
    pos += u.Bytes.size();
    units.push_back(std::move(u));
  }
  for (; g < gaps.size(); ++g) units.push_back(gapUnit(gaps[g]));
  if (!confidence.empty() &&
      static_cast<std::size_t>(std::count_if(units.begin(), units.end(), IsCharacter)) == confidence.size()) {
    std::size_t k = 0;
    for (TUnit& u : units)
      if (IsCharacter(u)) u.Confidence = confidence[k++];
  }
  int since = 0;  // characters since the last gap on this line, 0: none
  for (TUnit& u : units) {
    if (u.Kind == TUnitKind::Gap) {
      since = 1;
    } else if (u.Kind == TUnitKind::LineEnd) {
      since = 0;
    } else if (since > 0) {
      u.Doubt = since++;
    }
  }
  return units;
}

void FromUnits(const std::vector<TUnit>& units, std::string& text, std::vector<TGap>& gaps,
               std::vector<float>* confidence)
{
  text.clear();
  gaps.clear();
  if (confidence) confidence->clear();
  bool known = true;
  for (const TUnit& u : units) {
    if (u.Kind == TUnitKind::Gap) gaps.push_back({text.size(), u.Lost, !u.Bytes.empty()});
    text += u.Bytes;
    if (confidence && IsCharacter(u)) {
      known = known && u.Confidence >= 0.0f;
      confidence->push_back(u.Confidence);
    }
  }
  if (confidence && !known) confidence->clear();
}

TStatus StatusOf(const TMessage& m)
{
  if (!m.HasHeader) return TStatus::NoHeader;
  if (!m.HeaderOk) return TStatus::HeaderErrors;
  return m.Trailer ? TStatus::Complete : TStatus::NoTrailer;
}

std::string_view StatusName(TStatus s)
{
  switch (s) {
    case TStatus::Complete: return "complete";
    case TStatus::NoTrailer: return "no_trailer";
    case TStatus::HeaderErrors: return "header_errors";
    case TStatus::NoHeader: return "no_header";
  }
  return "?";
}

std::string_view ServiceName(TService s) { return s == TService::English ? "english" : "japanese"; }

std::string HostName()
{
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "localhost";
  return name.data();
}

std::string_view SubjectName(char b2)
{
  switch (b2) {
    case 'A': return "navigational warning";
    case 'B': return "meteorological warning";
    case 'C': return "ice report";
    case 'D': return "search and rescue information, piracy warning";
    case 'E': return "meteorological forecast";
    case 'F': return "pilot service message";
    case 'G': return "AIS message";
    case 'H': return "LORAN message";
    case 'J': return "satellite navigation message";
    case 'K': return "other electronic navaid message";
    case 'L': return "navigational warning (additional to A)";
    case 'V':
    case 'W':
    case 'X':
    case 'Y': return "special service";
    case 'Z': return "no message on hand";
    default: return "";
  }
}

bool CanSuppress(const TMessage& m) { return m.HasHeader && m.HeaderOk && m.Serial > 0; }

bool Readable(const TMessage& m) { return m.Trailer && m.Cer < ReadableCer; }

void Measure(TMessage& m, int doubtful)
{
  m.Chars = m.Erasures = m.Suspicious = m.Lost = 0;
  // Expected wrong characters by the confidences, while they match the text.
  double expected = 0.0;
  std::size_t k = 0;
  for (std::size_t pos = 0; pos < m.Text.size();) {
    const TUnit u = UnitAt(m.Text, pos);
    pos += u.Bytes.size();
    if (u.Kind == TUnitKind::LineEnd) continue;
    const float p = k < m.Confidence.size() ? m.Confidence[k] : 0.0f;
    ++k;
    if (u.Bytes == "\r") continue;
    ++m.Chars;
    if (u.Kind == TUnitKind::Erasure) {
      ++m.Erasures;
      expected += 1.0;
    } else if (m.Service == TService::English ? !(u.Bytes.size() == 1 && EnglishCanSend(u.Bytes[0]))
                                              : !JapaneseCanSend(u.Bytes)) {
      ++m.Suspicious;
      expected += 1.0;
    } else {
      expected += 1.0 - std::clamp(static_cast<double>(p), 0.0, 1.0);
    }
  }
  for (const TGap& g : m.Gaps) m.Lost += std::max(0, g.Lost);
  m.Suspicious = std::min(m.Chars - m.Erasures, m.Suspicious + std::max(0, doubtful));
  const int all = m.Chars + m.Lost;
  const bool calibrated = !m.Confidence.empty() && k == m.Confidence.size();
  const double wrong = calibrated ? expected : m.Erasures + m.Suspicious;
  m.Cer = all == 0 ? 0.0 : (wrong + m.Lost) / all;
}

std::vector<TTextRun> DoubtRuns(std::string_view text, std::span<const float> confidence, double below)
{
  std::vector<TUnit> units;
  for (std::size_t pos = 0; pos < text.size(); pos += units.back().Bytes.size()) units.push_back(UnitAt(text, pos));
  const bool known =
      static_cast<std::size_t>(std::count_if(units.begin(), units.end(), IsCharacter)) == confidence.size();
  std::vector<TTextRun> runs;
  std::size_t k = 0;
  for (const TUnit& u : units) {
    bool doubtful = false;
    if (known && IsCharacter(u)) doubtful = u.Kind == TUnitKind::Char && confidence[k++] < static_cast<float>(below);  // as stored, so that 0.9 is 0.9
    if (runs.empty() || runs.back().Doubtful != doubtful) runs.push_back({{}, doubtful});
    runs.back().Text += u.Bytes;
  }
  return runs;
}

std::string MarkDoubt(std::string_view text, std::span<const float> confidence, double below, std::string_view open,
                      std::string_view close)
{
  std::string out;
  for (const TTextRun& r : DoubtRuns(text, confidence, below)) {
    if (r.Doubtful) out += open;
    out += r.Text;
    if (r.Doubtful) out += close;
  }
  return out;
}

int LostChars(TService s, double seconds)
{
  return static_cast<int>(std::max(0.0, seconds) * CharRate(s) + 0.5);  // none for no time (or NaN)
}

}  // namespace brontel::msg
