#include "messages/assembler.h"

#include <algorithm>
#include <utility>

namespace brontel::msg {

namespace {

constexpr std::size_t NotFound = static_cast<std::size_t>(-1);

bool IsSpace(const TUnit& u) { return u.Kind == TUnitKind::Char && u.Half == ' '; }
bool IsText(const TUnit& u) { return (u.Kind == TUnitKind::Char && !IsSpace(u)) || u.Kind == TUnitKind::Erasure; }
bool Is(const TUnit& u, char c) { return u.Kind == TUnitKind::Char && u.Half == c; }

bool WordAt(const std::vector<TUnit>& units, std::size_t i, std::string_view word)
{
  if (i + word.size() > units.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (!Is(units[i + k], word[k])) return false;
  return true;
}

std::size_t FirstText(const std::vector<TUnit>& units, std::size_t from)
{
  while (from < units.size() && IsSpace(units[from])) ++from;
  return from;
}

// Edit distance of units [s, e) to `word`, an erasure matching any character.
int Distance(const std::vector<TUnit>& units, std::size_t s, std::size_t e, std::string_view word)
{
  std::vector<int> prev(word.size() + 1), cur(word.size() + 1);
  for (std::size_t j = 0; j <= word.size(); ++j) prev[j] = static_cast<int>(j);
  for (std::size_t i = s; i < e; ++i) {
    cur[0] = static_cast<int>(i - s + 1);
    for (std::size_t j = 1; j <= word.size(); ++j) {
      const bool same = units[i].Kind == TUnitKind::Erasure || Is(units[i], word[j - 1]);
      cur[j] = std::min({prev[j - 1] + (same ? 0 : 1), prev[j] + 1, cur[j - 1] + 1});
    }
    std::swap(prev, cur);
  }
  return prev[word.size()];
}

// Where a header starts at or after `from`, and the length of its ZCZC: ZCZC
// anywhere, or at the start of the line a word one edit away from ZCZC
// followed by a space (a header received with errors).
std::pair<std::size_t, std::size_t> FindStart(const std::vector<TUnit>& units, std::size_t from)
{
  for (std::size_t k = from; k + 4 <= units.size(); ++k)
    if (WordAt(units, k, "ZCZC")) return {k, 4};
  const std::size_t s = FirstText(units, 0);
  if (s < from) return {NotFound, 0};
  std::size_t e = s;
  while (e < units.size() && IsText(units[e])) ++e;
  // One edit away, the word has three to five characters.
  if (e >= units.size() || !IsSpace(units[e]) || Distance(units, s, e, "ZCZC") > 1) return {NotFound, 0};
  return {s, e - s};
}

// Where a trailer starts at or after `from` and its length: NNNN anywhere, or
// a line of three to five characters that are N or erasures, at least three N.
std::pair<std::size_t, std::size_t> FindEnd(const std::vector<TUnit>& units, std::size_t from)
{
  for (std::size_t k = from; k + 4 <= units.size(); ++k)
    if (WordAt(units, k, "NNNN")) {
      // More N (a trailer received twice over) belong to it.
      std::size_t e = k + 4;
      while (e < units.size() && Is(units[e], 'N')) ++e;
      return {k, e - k};
    }
  const std::size_t s = FirstText(units, 0);
  if (s < from) return {NotFound, 0};
  std::size_t e = units.size();
  while (e > s && IsSpace(units[e - 1])) --e;
  const std::size_t len = e - s;
  if (len < 3 || len > 5) return {NotFound, 0};
  std::size_t n = 0;
  for (std::size_t k = s; k < e; ++k) {
    if (Is(units[k], 'N'))
      ++n;
    else if (units[k].Kind != TUnitKind::Erasure)
      return {NotFound, 0};
  }
  return n >= 3 ? std::pair{s, len} : std::pair{NotFound, std::size_t{0}};
}

bool HasText(const std::vector<TUnit>& units, std::size_t from, std::size_t to)
{
  for (std::size_t k = from; k < to; ++k)
    if (IsText(units[k])) return true;
  return false;
}

}  // namespace

TMessageAssembler::TMessageAssembler(TOutput output, TAssemblerOptions options)
    : Output(std::move(output)), Options(std::move(options))
{
}

void TMessageAssembler::Line(std::string_view cp932, double t, std::span<const float> confidence, int doubtful)
{
  Expire(t);
  Process(ToUnits(cp932, {}, confidence), t, doubtful);
  LastLine = t;
  LineSinceEvent = true;
}

void TMessageAssembler::Process(const std::vector<TUnit>& units, double t, int doubtful)
{
  bool appended = false;  // the open message or fragment took text of this line
  auto append = [&](std::size_t from, std::size_t to) {
    if (from >= to) return;
    if (Open == TOpen::None) {
      if (!HasText(units, from, to)) return;
      Cur = TMessage{};
      Cur.Service = Options.Service;
      Cur.Decoder = Options.Decoder;
      Cur.Channel = Options.Channel;
      Cur.Receiver = Options.Receiver;
      Cur.Frequency = Options.Frequency;
      Cur.Start = Options.Epoch + t;
      if (Options.Recording) Cur.Offset = t;
      Body.clear();
      Doubtful = 0;
      PendingGap = -1;
      Open = TOpen::Fragment;
    }
    Body.insert(Body.end(), units.begin() + static_cast<std::ptrdiff_t>(from),
                units.begin() + static_cast<std::ptrdiff_t>(to));
    appended = true;
  };

  std::size_t i = 0;
  while (i < units.size()) {
    const auto [s, startLen] = FindStart(units, i);
    const auto [e, len] = FindEnd(units, i);
    if (e != NotFound && (s == NotFound || e < s)) {
      append(i, e);
      if (Open != TOpen::None) Close(t, true);
      appended = false;
      i = e + len;
    } else if (s != NotFound) {
      append(i, s);
      if (Open != TOpen::None) Close(t, false);
      i = s;
      StartMessage(units, i, startLen, t);
      appended = false;
      i = FirstText(units, i);
    } else {
      append(i, units.size());
      break;
    }
  }
  if (appended) Body.push_back(UnitAt("\n", 0));
  if (Open != TOpen::None) Doubtful += doubtful;
}

void TMessageAssembler::StartMessage(const std::vector<TUnit>& units, std::size_t& i, std::size_t len, double t)
{
  Cur = TMessage{};
  Body.clear();
  Doubtful = 0;
  PendingGap = -1;
  Open = TOpen::Message;
  Cur.HasHeader = true;
  Cur.Decoder = Options.Decoder;
  Cur.Channel = Options.Channel;
  Cur.Receiver = Options.Receiver;
  Cur.Frequency = Options.Frequency;
  Cur.Start = Options.Epoch + t;
  if (Options.Recording) Cur.Offset = t;
  // Japanese stations send the header in full-width characters.
  Cur.Service = units[i].Bytes.size() == 2 ? TService::Japanese : Options.Service;

  const bool exact = len == 4 && WordAt(units, i, "ZCZC");
  i += len;
  const std::size_t id = FirstText(units, i);
  bool valid = exact && id == i + 1;  // one space before B1
  i = id;
  for (int k = 0; k < 4; ++k) {
    const bool have = i < units.size() && IsText(units[i]);
    const char c = have && units[i].Kind == TUnitKind::Char && units[i].Half ? units[i].Half : EnglishErasure[0];
    if (have) ++i;
    Cur.Id.push_back(c);
    const bool letter = c >= 'A' && c <= 'Z', digit = c >= '0' && c <= '9';
    valid = valid && (k < 2 ? letter : digit);
  }
  Cur.HeaderOk = valid;
  const auto letter = [](char c) { return c >= 'A' && c <= 'Z' ? c : '\0'; };
  Cur.Station = letter(Cur.Id[0]);
  Cur.Subject = letter(Cur.Id[1]);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (digit(Cur.Id[2]) && digit(Cur.Id[3])) Cur.Serial = (Cur.Id[2] - '0') * 10 + (Cur.Id[3] - '0');
}

void TMessageAssembler::SyncChanged(bool inSync, double t)
{
  if (!inSync && InSync) {
    InSync = false;
    LostAt = t;
    Paused = 0.0;
    if (Open == TOpen::Message) PendingGap = static_cast<std::ptrdiff_t>(BreakHere());
  } else if (inSync && !InSync) {
    InSync = true;
    if (PendingGap >= 0) Body[static_cast<std::size_t>(PendingGap)].Lost += LostChars(Cur.Service, t - LostAt - Paused);
    PendingGap = -1;
  }
  LineSinceEvent = false;
}

std::size_t TMessageAssembler::BreakHere()
{
  // A gap just marked (sound lost, then the decoder out of step) is one break.
  if (!LineSinceEvent && !Body.empty() && Body.back().Kind == TUnitKind::Gap) return Body.size() - 1;
  // The decoder writes its line as it loses synchronisation (or as sound is
  // lost): that line end is where the text broke off.
  if (LineSinceEvent && !Body.empty() && Body.back().Kind == TUnitKind::LineEnd) {
    Body.back().Kind = TUnitKind::Gap;
  } else {
    TUnit gap;
    gap.Kind = TUnitKind::Gap;
    Body.push_back(std::move(gap));
  }
  return Body.size() - 1;
}

void TMessageAssembler::Gap(double t, double seconds)
{
  if (!(seconds > 0.0)) return;
  Expire(t);
  // A loss as long as the time-out ends what is open; a message counts as
  // lost what the time-out would have waited for.
  const bool closes = seconds >= Options.Timeout;
  if (Open == TOpen::Message) Body[BreakHere()].Lost += LostChars(Cur.Service, std::min(seconds, Options.Timeout));
  if (closes && Open != TOpen::None) Close(LastLine, false);
  // The end of the emission is judged on the time the decoder heard nothing.
  if (!InSync) Paused += seconds;
  LineSinceEvent = false;
}

void TMessageAssembler::Tick(double t)
{
  LineSinceEvent = false;
  Expire(t);
}

void TMessageAssembler::Expire(double t)
{
  if (Open == TOpen::None) return;
  if (!InSync && t - LostAt - Paused >= Options.SyncGap)
    Close(LostAt, false);
  else if (t - LastLine >= Options.Timeout)
    Close(LastLine, false);
}

void TMessageAssembler::Finish(double t)
{
  (void)t;
  if (Open != TOpen::None) Close(LastLine, false);
}

void TMessageAssembler::Close(double end, bool trailer)
{
  // Line ends and spaces around the text are not part of it; a gap at the end
  // stays (a later copy may fill it) but shows no line end.
  auto blank = [](const TUnit& u) { return u.Kind == TUnitKind::LineEnd || IsSpace(u); };
  std::size_t first = 0;
  while (first < Body.size() && blank(Body[first])) ++first;
  std::size_t last = Body.size();
  while (last > first && (blank(Body[last - 1]) || Body[last - 1].Kind == TUnitKind::Gap)) {
    if (Body[last - 1].Kind == TUnitKind::Gap) {
      Body[last - 1].Bytes.clear();
      break;
    }
    --last;
  }
  std::vector<TUnit> body(Body.begin() + static_cast<std::ptrdiff_t>(first),
                          Body.begin() + static_cast<std::ptrdiff_t>(last));
  const bool keep = Open == TOpen::Message || HasText(body, 0, body.size());
  Open = TOpen::None;
  Body.clear();
  PendingGap = -1;
  if (!keep) return;
  // Text outside a message is of the service its characters belong to: only
  // Japanese text has two-byte characters (the service may have changed
  // within the block the fragment's first line came in).
  if (!Cur.HasHeader && HasText(body, 0, body.size()))
    Cur.Service = std::any_of(body.begin(), body.end(), [](const TUnit& u) { return IsText(u) && u.Bytes.size() == 2; })
                      ? TService::Japanese
                      : TService::English;
  Cur.Trailer = trailer;
  Cur.End = Options.Epoch + end;
  FromUnits(body, Cur.Text, Cur.Gaps, &Cur.Confidence);
  Measure(Cur, Doubtful);
  if (Output) Output(std::move(Cur));
  Cur = TMessage{};
}

void TAssemblerSink::AfterBlock(double t, bool inSync, bool english)
{
  if (First || english != English) A.SetService(english ? TService::English : TService::Japanese);
  if (First || inSync != Synced) A.SyncChanged(inSync, t);
  English = english;
  Synced = inSync;
  First = false;
  A.Tick(t);
  Now = t;
}

void TAssemblerSink::Gap(double seconds)
{
  A.Gap(Now, seconds);
  Now += seconds;
}

void TAssemblerSink::Finish(double t, std::string_view unfinished, std::span<const float> confidence)
{
  if (!unfinished.empty()) A.Line(unfinished, Now, confidence);
  A.Finish(t);
}

}  // namespace brontel::msg
