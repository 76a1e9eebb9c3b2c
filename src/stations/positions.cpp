#include "stations/positions.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "messages/message.h"

namespace brontel::stations {

namespace {

// Marks standing for the Japanese words and signs of a position once the
// text is reduced to one byte per character.
constexpr char NorthLat = '\x11';  // 北緯
constexpr char SouthLat = '\x12';  // 南緯
constexpr char EastLon = '\x13';   // 東経
constexpr char WestLon = '\x14';   // 西経
constexpr char DegreeMark = '\x15';  // 度, °
constexpr char MinuteMark = '\x16';  // 分, ′
constexpr char SecondMark = '\x17';  // 秒, ″
constexpr char OtherChar = '\x1F';   // any other character that is not ASCII

// The text with one byte per character: ASCII and full-width ASCII as ASCII,
// the marks above, everything else OtherChar. At[k] is the byte offset in the
// original text of character k (At has one more entry, the text's size).
struct TFlatText {
  std::string S;
  std::vector<std::size_t> At;
};

char MarkOf(unsigned char lead, unsigned char trail)
{
  switch ((lead << 8) | trail) {
    case 0x9378: case 0x818B: return DegreeMark;  // 度 °
    case 0x95AA: case 0x818C: return MinuteMark;  // 分 ′
    case 0x9562: case 0x818D: return SecondMark;  // 秒 ″
    case 0x8141: return ',';                      // 、
    default: return 0;
  }
}

char WordOf(std::string_view two)
{
  if (two == "\x96\x6B\x88\xDC") return NorthLat;
  if (two == "\x93\xEC\x88\xDC") return SouthLat;
  if (two == "\x93\x8C\x8C\x6F") return EastLon;
  if (two == "\x90\xBC\x8C\x6F") return WestLon;
  return 0;
}

TFlatText Flatten(std::string_view text)
{
  TFlatText f;
  f.S.reserve(text.size());
  f.At.reserve(text.size() + 1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (const char w = pos + 4 <= text.size() ? WordOf(text.substr(pos, 4)) : 0) {
      f.S.push_back(w);
      f.At.push_back(pos);
      pos += 4;
      continue;
    }
    const msg::TUnit u = msg::UnitAt(text, pos);
    char c = u.Half;
    if (u.Kind == msg::TUnitKind::LineEnd) c = '\n';
    if (!c && u.Bytes.size() == 2)
      c = MarkOf(static_cast<unsigned char>(u.Bytes[0]), static_cast<unsigned char>(u.Bytes[1]));
    if (!c) c = OtherChar;
    f.S.push_back(c);
    f.At.push_back(pos);
    pos += u.Bytes.size();
  }
  f.At.push_back(text.size());
  return f;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The run of digits at s[p], its value and length.
std::size_t Digits(const std::string& s, std::size_t p, long& value)
{
  std::size_t n = 0;
  value = 0;
  while (p + n < s.size() && IsDigit(s[p + n]) && n < 9) value = value * 10 + (s[p + n++] - '0');
  return n;
}

// A decimal fraction ".5" at s[p]; p moves past it.
double Fraction(const std::string& s, std::size_t& p)
{
  if (p + 1 >= s.size() || s[p] != '.' || !IsDigit(s[p + 1])) return 0.0;
  double f = 0.0, scale = 0.1;
  for (++p; p < s.size() && IsDigit(s[p]); ++p, scale *= 0.1) f += (s[p] - '0') * scale;
  return f;
}

// One coordinate at s[p]. `sign` is the hemisphere when a Japanese word gave
// it before the number (+1 or -1), 0 when a letter must follow the number.
// On success sets `value` (signed degrees) and `end`.
bool Coordinate(const std::string& s, std::size_t p, bool latitude, int sign, double& value, std::size_t& end)
{
  long g1 = 0;
  const std::size_t n1 = Digits(s, p, g1);
  if (n1 == 0) return false;
  p += n1;
  double degrees = 0.0, minutes = 0.0, seconds = 0.0;
  std::size_t q = p;
  if (q < s.size() && (s[q] == '-' || s[q] == ' ' || s[q] == DegreeMark)) {
    ++q;
    if (s[q - 1] == DegreeMark && q < s.size() && s[q] == ' ') ++q;
  }
  if (q > p && q < s.size() && IsDigit(s[q])) {
    // Degrees, minutes (with a fraction), perhaps seconds.
    if (n1 > (latitude ? 2u : 3u)) return false;
    degrees = static_cast<double>(g1);
    long g2 = 0;
    const std::size_t n2 = Digits(s, q, g2);
    if (n2 > 2) return false;
    p = q + n2;
    minutes = static_cast<double>(g2) + Fraction(s, p);
    const bool fraction = p > q + n2;
    bool minuteMark = false;
    if (p < s.size() && (s[p] == MinuteMark || s[p] == '\'')) ++p, minuteMark = true;
    const bool dashSeconds = !fraction && !minuteMark && p + 1 < s.size() && s[p] == '-' && IsDigit(s[p + 1]);
    if (dashSeconds || (minuteMark && p < s.size() && IsDigit(s[p]))) {
      long g3 = 0;
      std::size_t r = p + (dashSeconds ? 1 : 0);
      const std::size_t n3 = Digits(s, r, g3);
      std::size_t after = r + n3;
      const double secs = static_cast<double>(g3) + Fraction(s, after);
      if (n3 == 2 && (dashSeconds || (after < s.size() && s[after] == SecondMark))) {
        seconds = secs;
        p = after;
        if (p < s.size() && s[p] == SecondMark) ++p;
      }
    }
  } else {
    // Degrees and minutes run together: 3410N, 13902E, 3410.5N.
    if (n1 < 3 || n1 > (latitude ? 4u : 5u)) return false;
    degrees = static_cast<double>(g1 / 100);
    minutes = static_cast<double>(g1 % 100) + Fraction(s, p);
  }
  if (sign == 0) {
    if (p < s.size() && s[p] == ' ') ++p;
    if (p >= s.size()) return false;
    const char h = s[p];
    if (latitude ? (h != 'N' && h != 'S') : (h != 'E' && h != 'W')) return false;
    ++p;
    if (p < s.size() && IsLetter(s[p])) return false;  // NM, NOV, ...
    sign = (h == 'S' || h == 'W') ? -1 : 1;
  }
  if (minutes >= 60.0 || seconds >= 60.0) return false;
  const double v = degrees + minutes / 60.0 + seconds / 3600.0;
  if (v > (latitude ? 90.0 : 180.0)) return false;
  value = sign * v;
  end = p;
  return true;
}

// A coordinate at s[p], with or without a Japanese word before it.
bool AnyCoordinate(const std::string& s, std::size_t p, bool latitude, double& value, std::size_t& end)
{
  if (p < s.size()) {
    const char w = s[p];
    const char plus = latitude ? NorthLat : EastLon, minus = latitude ? SouthLat : WestLon;
    if (w == plus || w == minus) {
      ++p;
      if (p < s.size() && s[p] == ' ') ++p;
      return Coordinate(s, p, latitude, w == plus ? 1 : -1, value, end);
    }
  }
  return Coordinate(s, p, latitude, 0, value, end);
}

bool WordStart(const std::string& s, std::size_t p)
{
  if (p == 0) return true;
  const char b = s[p - 1];
  if (IsDigit(b) || IsLetter(b)) return false;
  return !((b == '.' || b == '-') && p >= 2 && IsDigit(s[p - 2]));  // not inside 12.34 or 12-34
}

}  // namespace

std::vector<TPosition> FindPositions(std::string_view text)
{
  const TFlatText f = Flatten(text);
  const std::string& s = f.S;
  std::vector<TPosition> out;
  std::size_t p = 0;
  while (p < s.size()) {
    double lat = 0.0, lon = 0.0;
    std::size_t end = 0;
    if (WordStart(s, p) && AnyCoordinate(s, p, true, lat, end)) {
      std::size_t q = end;
      for (int k = 0; q < s.size() && k < 4 && (s[q] == ' ' || s[q] == ',' || s[q] == '/' || s[q] == '\n'); ++k) ++q;
      std::size_t lonEnd = 0;
      if (AnyCoordinate(s, q, false, lon, lonEnd)) {
        out.push_back({{lat, lon}, f.At[p], f.At[lonEnd] - f.At[p]});
        p = lonEnd;
        continue;
      }
    }
    ++p;
  }
  return out;
}

std::optional<double> ParseCoordinate(std::string_view text, bool latitude)
{
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  const TFlatText f = Flatten(text);
  double value = 0.0;
  std::size_t end = 0;
  if (!AnyCoordinate(f.S, 0, latitude, value, end) || end != f.S.size()) return std::nullopt;
  return value;
}

double DistanceKm(const TLatLon& a, const TLatLon& b)
{
  constexpr double rad = std::numbers::pi / 180.0;
  const double dLat = (b.Lat - a.Lat) * rad, dLon = (b.Lon - a.Lon) * rad;
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(a.Lat * rad) * std::cos(b.Lat * rad) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2.0 * 6371.0 * std::asin(std::sqrt(std::min(1.0, h)));
}

}  // namespace brontel::stations
