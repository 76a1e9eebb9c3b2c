#include "messages/repair.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace brontel::msg {

namespace {

constexpr std::size_t MaxCells = 40'000'000;  // alignment matrix bytes allowed

bool IsGap(const TUnit& u) { return u.Kind == TUnitKind::Gap; }

// Costs: a differing character, or one against nothing, costs ten times as
// much as a unit a gap takes or a character against an erasure, so that two
// gaps never take each other's text where the copies agree.
constexpr int Edit = 10;
constexpr int Loose = 1;

// The same character: the same bytes, or a full-width form and its half-width one.
bool SameCharacter(const TUnit& a, const TUnit& b) { return a.Bytes == b.Bytes || (a.Half != 0 && a.Half == b.Half); }

// Cost of aligning two units that are not gaps.
int Substitution(const TUnit& a, const TUnit& b)
{
  const bool aChar = a.Kind == TUnitKind::Char, bChar = b.Kind == TUnitKind::Char;
  if (a.Kind == TUnitKind::LineEnd || b.Kind == TUnitKind::LineEnd) return a.Kind == b.Kind ? 0 : Edit;
  if (!aChar || !bChar) return Loose;  // an erasure matches any character
  if (SameCharacter(a, b)) return 0;
  return a.Doubt > 0 || b.Doubt > 0 ? Loose : Edit;
}

enum : uint8_t { Diag, Up, Left };

// The cheapest alignment of a and b, as the moves from their starts to
// their ends (Diag: a unit of each, Up: a's alone, Left: b's alone). When b
// was cut short, what a has past b's end costs what a gap takes.
std::vector<uint8_t> Align(const std::vector<TUnit>& a, const std::vector<TUnit>& b, bool bCutShort)
{
  const std::size_t n = a.size(), m = b.size();
  // cost[j] over rows; move[i][j] for the way back.
  std::vector<uint8_t> move((n + 1) * (m + 1));
  std::vector<int> prev(m + 1), cur(m + 1);
  auto at = [&](std::size_t i, std::size_t j) -> uint8_t& { return move[i * (m + 1) + j]; };
  prev[0] = 0;
  for (std::size_t j = 1; j <= m; ++j) {
    prev[j] = prev[j - 1] + (IsGap(b[j - 1]) ? 0 : Edit);
    at(0, j) = Left;
  }
  for (std::size_t i = 1; i <= n; ++i) {
    const TUnit& ai = a[i - 1];
    cur[0] = prev[0] + (IsGap(ai) ? 0 : bCutShort && m == 0 ? Loose : Edit);
    at(i, 0) = Up;
    for (std::size_t j = 1; j <= m; ++j) {
      const TUnit& bj = b[j - 1];
      int best = std::numeric_limits<int>::max();
      uint8_t how = Diag;
      if (!IsGap(ai) && !IsGap(bj)) best = prev[j - 1] + Substitution(ai, bj);
      // a's unit against nothing, or taken by a gap of b (a gap of a
      // against nothing is free).
      const int up = prev[j] + (IsGap(ai) ? 0 : IsGap(bj) || (bCutShort && j == m) ? Loose : Edit);
      if (up < best) best = up, how = Up;
      // b's unit against nothing, or taken by a gap of a.
      const int left = cur[j - 1] + (IsGap(bj) ? 0 : IsGap(ai) ? Loose : Edit);
      if (left < best) best = left, how = Left;
      cur[j] = best;
      at(i, j) = how;
    }
    std::swap(prev, cur);
  }
  std::vector<uint8_t> path;
  path.reserve(n + m);
  for (std::size_t i = n, j = m; i > 0 || j > 0;) {
    const uint8_t how = at(i, j);
    path.push_back(how);
    if (how != Left) --i;
    if (how != Up) --j;
  }
  std::reverse(path.begin(), path.end());
  return path;
}

// One character a copy received at a place, as evidence: the log-odds of
// the character sent being it, against any one other.
double Weight(const TUnit& u, const TRepairModel& model, double alternatives)
{
  double p = model.UnknownConfidence;
  if (u.Confidence >= 0.0f) {
    p = u.Confidence;
  } else if (u.Doubt > 0) {
    // An even chance on the first character after a gap, coming closer to
    // a character clear of any with every character after.
    p = 0.5 + (model.UnknownConfidence - 0.5) * (1.0 - 1.0 / u.Doubt);
  }
  p = std::clamp(p, 1e-4, 1.0 - 1e-7);
  return std::log(p / (1.0 - p)) + std::log(std::max(1.0, alternatives - 1.0));
}

// The log-odds a robust copy gives to there being no character where it
// received none and another copy received one.
double AbsentWeight(const TRepairModel& model, double alternatives)
{
  const double p = model.AbsentConfidence;
  return std::log(p / (1.0 - p)) + std::log(std::max(1.0, alternatives - 1.0));
}

// A place of the repaired text: the unit shown there and, for a character,
// what the copies received there (a character, or none where the others
// received one).
struct TCell {
  struct TCandidate {
    TUnit Unit;         // as the first copy that received it has it
    double Score = 0.0; // the copies' log-odds summed
  };
  TUnit Shown;
  std::vector<TCandidate> Candidates;
  int Votes = 0;          // copies that received a character here
  bool Unknown = false;   // one of them without a confidence
  float FirstConfidence = -1.0f;
  double Absent = 0.0;    // the log-odds of the copies that received no character here
  bool Inserted = false;  // not in the copy the repair started from: shown only when likelier than none
  bool Hidden = false;    // no character is likelier than any: not shown

  explicit TCell(TUnit u) : Shown(std::move(u)) {}

  // Adds a copy that received no character here, against the others.
  void VoteAbsent(double weight, double alternatives)
  {
    if (Candidates.empty() || Shown.Kind != TUnitKind::Char) return;
    Absent += weight;
    Decide(alternatives);
  }

  // Adds what a copy received here: a character is evidence; an erasure,
  // a line end or a gap says nothing of the character.
  void Vote(const TUnit& u, const TRepairModel& model, double alternatives)
  {
    if (u.Kind != TUnitKind::Char || (Shown.Kind != TUnitKind::Char && Shown.Kind != TUnitKind::Erasure)) return;
    const double w = Weight(u, model, alternatives);
    auto it = std::find_if(Candidates.begin(), Candidates.end(),
                           [&](const TCandidate& c) { return SameCharacter(c.Unit, u); });
    if (it == Candidates.end())
      Candidates.push_back({u, w});
    else
      it->Score += w;
    if (Votes++ == 0) FirstConfidence = u.Confidence;
    Unknown = Unknown || u.Confidence < 0.0f;
    Decide(alternatives);
  }

  // Shows the likeliest candidate (the first of equals) with its posterior.
  void Decide(double alternatives)
  {
    const auto best = std::max_element(Candidates.begin(), Candidates.end(),
                                       [](const TCandidate& a, const TCandidate& b) { return a.Score < b.Score; });
    Shown = best->Unit;
    Hidden = Inserted ? Absent >= best->Score : Absent > best->Score;
    if (Votes == 1 && Absent == 0.0) {
      Shown.Confidence = FirstConfidence;
      return;
    }
    if (Unknown) {
      Shown.Confidence = -1.0f;
      return;
    }
    // The characters no copy received each weigh as much as no evidence.
    double sum = std::max(0.0, alternatives - static_cast<double>(Candidates.size())) * std::exp(-best->Score);
    for (const TCandidate& c : Candidates) sum += std::exp(c.Score - best->Score);
    if (Absent > 0.0) sum += std::exp(Absent - best->Score);
    Shown.Confidence = static_cast<float>(1.0 / sum);
  }
};

std::vector<TCell> Cells(const std::vector<TUnit>& units, const TRepairModel& model, double alternatives)
{
  std::vector<TCell> cells;
  cells.reserve(units.size());
  for (const TUnit& u : units) {
    cells.emplace_back(u);
    cells.back().Vote(u, model, alternatives);
  }
  return cells;
}

// The units of the cells: those shown, or for aligning another copy every
// one (a character not shown is still there for a copy that received it).
std::vector<TUnit> Shown(const std::vector<TCell>& cells, bool all = false)
{
  std::vector<TUnit> units;
  units.reserve(cells.size());
  for (const TCell& c : cells)
    if (all || !c.Hidden) units.push_back(c.Shown);
  return units;
}

// Whether the units come from a copy with confidences.
bool Known(const std::vector<TUnit>& units)
{
  return std::any_of(units.begin(), units.end(),
                     [](const TUnit& u) { return u.Kind == TUnitKind::Char && u.Confidence >= 0.0f; });
}

// `cells` (holding the evidence of `before` copies with confidences) with
// what `path` aligns with them from `b`: a character or an erasure takes b's
// character as evidence; a gap takes the run of b aligned with it. Where b
// has confidences, a character of the cells that b received nothing for
// gets b's evidence that there is none, and a character of b aligned with
// nothing becomes a character of its own against the evidence of the
// copies before that there is none; not at either end of b, nor next to a
// gap, where nothing says what a copy missed.
std::vector<TCell> Fill(std::vector<TCell> cells, const std::vector<TUnit>& b, const std::vector<uint8_t>& path,
                        const TRepairModel& model, double alternatives, int before)
{
  const bool bKnown = Known(b);
  const double absent = AbsentWeight(model, alternatives);
  const std::size_t n = cells.size(), m = b.size();
  std::vector<TCell> out;
  out.reserve(cells.size() + b.size());
  std::vector<TUnit> absorbed;  // b's run aligned with the gap last taken from the cells
  bool inGap = false;
  auto closeGap = [&] {
    if (inGap && !absorbed.empty()) {
      out.pop_back();
      for (TCell& c : Cells(absorbed, model, alternatives)) out.push_back(std::move(c));
    }
    inGap = false;
    absorbed.clear();
  };
  std::size_t i = 0, j = 0;
  for (const uint8_t how : path) {
    switch (how) {
      case Diag:
        closeGap();
        cells[i].Vote(b[j++], model, alternatives);
        out.push_back(std::move(cells[i++]));
        break;
      case Up:
        closeGap();
        inGap = IsGap(cells[i].Shown);
        if (bKnown && j > 0 && j < m && !IsGap(b[j - 1]) && !IsGap(b[j]) && cells[i].Shown.Confidence >= 0.0f)
          cells[i].VoteAbsent(absent, alternatives);
        out.push_back(std::move(cells[i++]));
        break;
      case Left:
        if (inGap) {
          absorbed.push_back(b[j]);
        } else if (b[j].Kind == TUnitKind::Char && b[j].Confidence >= 0.0f && before > 0 && i > 0 && i < n &&
                   !IsGap(out.back().Shown) && !IsGap(cells[i].Shown)) {
          TCell c(b[j]);
          c.Inserted = true;
          c.Vote(b[j], model, alternatives);
          c.VoteAbsent(absent * before, alternatives);
          out.push_back(std::move(c));
        }
        ++j;
        break;
    }
  }
  closeGap();
  return out;
}

bool Fits(std::size_t a, std::size_t b) { return a > 0 && b > 0 && (a + 1) <= MaxCells / (b + 1); }

double Alternatives(TService s, const TRepairModel& model)
{
  return s == TService::English ? model.EnglishAlternatives : model.JapaneseAlternatives;
}

}  // namespace

std::vector<TUnit> FillFrom(const std::vector<TUnit>& a, const std::vector<TUnit>& b, bool bCutShort, TService service)
{
  if (!Fits(a.size(), b.size())) return a;
  const TRepairModel model;
  const double alternatives = Alternatives(service, model);
  return Shown(Fill(Cells(a, model, alternatives), b, Align(a, b, bCutShort), model, alternatives, Known(a) ? 1 : 0));
}

bool Better(const TMessage& a, const TMessage& b)
{
  if (a.Trailer != b.Trailer) return a.Trailer;
  const int goodA = a.Chars - a.Erasures - a.Suspicious, goodB = b.Chars - b.Erasures - b.Suspicious;
  if (goodA != goodB) return goodA > goodB;
  if (a.Erasures != b.Erasures) return a.Erasures < b.Erasures;
  return a.Cer < b.Cer;
}

TMessage MergeCopies(std::span<const TMessage> copies, const TRepairModel& model)
{
  if (copies.empty()) return {};
  // The base first, then the others best first (in the order received among equals).
  std::vector<const TMessage*> order;
  for (const TMessage& c : copies) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(), [](const TMessage* a, const TMessage* b) { return Better(*a, *b); });
  const TMessage& base = *order.front();
  const double alternatives = Alternatives(copies.back().Service, model);

  const std::vector<TUnit> first = ToUnits(base.Text, base.Gaps, base.Confidence);
  std::vector<TCell> cells = Cells(first, model, alternatives);
  int known = Known(first) ? 1 : 0;  // copies with confidences merged so far
  for (std::size_t k = 1; k < order.size(); ++k) {
    const TMessage& other = *order[k];
    const std::vector<TUnit> units = ToUnits(other.Text, other.Gaps, other.Confidence);
    if (!Fits(cells.size(), units.size())) continue;
    const std::vector<uint8_t> path = Align(Shown(cells, true), units, !other.Trailer);
    cells = Fill(std::move(cells), units, path, model, alternatives, known);
    known += Known(units) ? 1 : 0;
  }

  TMessage m = copies.back();
  FromUnits(Shown(cells), m.Text, m.Gaps, &m.Confidence);
  // The text runs as far as the base copy's: to the trailer only if that copy received it.
  m.Trailer = base.Trailer;
  m.Copies = static_cast<int>(copies.size());
  Measure(m);
  return m;
}

TMessage Merge(const TMessage& shown, const TMessage& copy)
{
  const TMessage pair[] = {shown, copy};
  TMessage m = MergeCopies(pair);
  m.Copies = shown.Copies + 1;
  m.StoreId = shown.StoreId;
  m.Repeat = true;
  return m;
}

}  // namespace brontel::msg
