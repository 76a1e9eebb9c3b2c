#include "messages/repair.h"

#include <algorithm>
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

// Cost of aligning two units that are not gaps.
int Substitution(const TUnit& a, const TUnit& b)
{
  const bool aChar = a.Kind == TUnitKind::Char, bChar = b.Kind == TUnitKind::Char;
  if (a.Kind == TUnitKind::LineEnd || b.Kind == TUnitKind::LineEnd) return a.Kind == b.Kind ? 0 : Edit;
  if (!aChar || !bChar) return Loose;  // an erasure matches any character
  if (a.Bytes == b.Bytes || (a.Half != 0 && a.Half == b.Half)) return 0;
  return a.Doubt > 0 || b.Doubt > 0 ? Loose : Edit;
}

enum : uint8_t { Diag, Up, Left };

// How far a character can be trusted: received well clear of a gap beats
// received just after one.
int Reliability(const TUnit& u) { return u.Doubt == 0 ? std::numeric_limits<int>::max() : u.Doubt; }

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

// `a` with what `path` aligns with it from `b`: an erasure, or a character
// less reliable than b's, takes b's character; a gap takes the run of b
// aligned with it.
std::vector<TUnit> Fill(const std::vector<TUnit>& a, const std::vector<TUnit>& b, const std::vector<uint8_t>& path)
{
  std::vector<TUnit> out;
  out.reserve(a.size() + b.size());
  std::vector<TUnit> absorbed;  // b's run aligned with the gap last taken from a
  bool inGap = false;
  auto closeGap = [&] {
    if (inGap && !absorbed.empty()) {
      out.pop_back();
      out.insert(out.end(), absorbed.begin(), absorbed.end());
    }
    inGap = false;
    absorbed.clear();
  };
  std::size_t i = 0, j = 0;
  for (const uint8_t how : path) {
    switch (how) {
      case Diag: {
        closeGap();
        const TUnit& ai = a[i++];
        const TUnit& bj = b[j++];
        const bool replace = bj.Kind == TUnitKind::Char && ai.Bytes != bj.Bytes &&
                             (ai.Kind == TUnitKind::Erasure || Reliability(bj) > Reliability(ai));
        out.push_back(replace ? bj : ai);
        break;
      }
      case Up:
        closeGap();
        out.push_back(a[i]);
        inGap = IsGap(a[i]);
        ++i;
        break;
      case Left:
        if (inGap) absorbed.push_back(b[j]);
        ++j;
        break;
    }
  }
  closeGap();
  return out;
}

}  // namespace

std::vector<TUnit> FillFrom(const std::vector<TUnit>& a, const std::vector<TUnit>& b, bool bCutShort)
{
  if (a.empty() || b.empty() || (a.size() + 1) > MaxCells / (b.size() + 1)) return a;
  return Fill(a, b, Align(a, b, bCutShort));
}

bool Better(const TMessage& a, const TMessage& b)
{
  if (a.Trailer != b.Trailer) return a.Trailer;
  const int goodA = a.Chars - a.Erasures - a.Suspicious, goodB = b.Chars - b.Erasures - b.Suspicious;
  if (goodA != goodB) return goodA > goodB;
  if (a.Erasures != b.Erasures) return a.Erasures < b.Erasures;
  return a.Cer < b.Cer;
}

TMessage Merge(const TMessage& shown, const TMessage& copy)
{
  const bool copyBase = Better(copy, shown);
  const TMessage& base = copyBase ? copy : shown;
  const TMessage& other = copyBase ? shown : copy;
  TMessage m = copy;
  FromUnits(FillFrom(ToUnits(base.Text, base.Gaps, base.Confidence), ToUnits(other.Text, other.Gaps, other.Confidence),
                     !other.Trailer),
            m.Text, m.Gaps, &m.Confidence);
  // The text runs as far as the base copy's: to the trailer only if that copy received it.
  m.Trailer = base.Trailer;
  m.Copies = shown.Copies + 1;
  m.StoreId = shown.StoreId;
  m.Repeat = true;
  Measure(m);
  return m;
}

}  // namespace brontel::msg
