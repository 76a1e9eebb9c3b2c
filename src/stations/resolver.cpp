#include "stations/resolver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace brontel::stations {

namespace {

bool Decimal(std::string_view text, double& value)
{
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  const std::string s(text);
  char* end = nullptr;
  value = std::strtod(s.c_str(), &end);
  return !s.empty() && end == s.c_str() + s.size() && std::isfinite(value);
}

}  // namespace

bool ParseListener(std::string_view text, TListener& listener, std::string& error)
{
  TListener l;
  if (const std::size_t comma = text.find(','); comma != std::string_view::npos) {
    double lat = 0.0, lon = 0.0;
    if (Decimal(text.substr(0, comma), lat) && Decimal(text.substr(comma + 1), lon)) {
      if (std::abs(lat) > 90.0 || std::abs(lon) > 180.0) {
        error = "position '" + std::string(text) + "' is out of range (latitude -90 to 90, longitude -180 to 180)";
        return false;
      }
      l.Position = TLatLon{lat, lon};
      listener = l;
      return true;
    }
  }
  if (const std::vector<TPosition> found = FindPositions(text); found.size() == 1 && found[0].Offset == 0) {
    l.Position = found[0].Point;
    listener = l;
    return true;
  }
  if ((l.NavArea = ParseNavArea(text))) {
    listener = l;
    return true;
  }
  error = std::string(1, '\'').append(text) + "' is not a position (51.5,-1.25 or 50-35N 001-18W) or a NAVAREA (I to XXI)";
  return false;
}

const TStation* TStationResolver::BySchedule(const std::vector<const TStation*>& candidates, double utc)
{
  if (!std::isfinite(utc)) return nullptr;
  const double day = std::fmod(std::fmod(utc, 86400.0) + 86400.0, 86400.0);
  const int minute = static_cast<int>(day / 60.0);
  const TStation* found = nullptr;
  for (const TStation* s : candidates) {
    const bool inSlot = std::any_of(s->Times.begin(), s->Times.end(), [&](int t) {
      return (minute - t + 1440) % 1440 < SlotMinutes;
    });
    if (!inSlot) continue;
    if (found) return nullptr;  // two slots at once: the schedule cannot tell
    found = s;
  }
  return found;
}

const TStation* TStationResolver::Find(char b1, double frequencyKhz, double utc) const
{
  std::vector<const TStation*> candidates;
  for (const TStation& s : Stations)
    if (s.Letter == b1 && std::abs(s.FrequencyKhz - frequencyKhz) < 0.5) candidates.push_back(&s);
  if (candidates.empty()) return nullptr;

  if (Listener.Position) {
    double nearest = std::numeric_limits<double>::infinity();
    const TStation* first = nullptr;
    for (const TStation* s : candidates) {
      if (!s->Position) continue;
      const double d = DistanceKm(*Listener.Position, *s->Position);
      if (d < nearest) nearest = d, first = s;
    }
    const bool unplaced = std::any_of(candidates.begin(), candidates.end(), [](const TStation* s) { return !s->Position; });
    if (first && nearest > MaxRangeKm && !unplaced) return nullptr;
    if (first && (!unplaced || nearest <= SureRangeKm)) {
      std::vector<const TStation*> near;
      for (const TStation* s : candidates)
        if (s->Position && DistanceKm(*Listener.Position, *s->Position) <= nearest + NearMarginKm) near.push_back(s);
      if (near.size() == 1) return first;
      const TStation* scheduled = BySchedule(near, utc);
      return scheduled ? scheduled : first;
    }
    // No station with this letter has a known position, or one without may be
    // nearer than the nearest that has: fall back on the NAVAREA.
  }

  std::vector<const TStation*> pool;
  if (Listener.NavArea) {
    for (const TStation* s : candidates)
      if (s->NavArea == Listener.NavArea) pool.push_back(s);
  } else if (!Listener.Position) {
    pool = candidates;
  }
  if (pool.size() == 1) return pool.front();
  return pool.empty() ? nullptr : BySchedule(pool, utc);
}

std::string TStationResolver::Name(char b1, double frequencyKhz, double utc) const
{
  if (const TStation* s = Find(b1, frequencyKhz, utc)) return s->Name;
  return b1 ? std::string(1, b1) : std::string("?");
}

}  // namespace brontel::stations
