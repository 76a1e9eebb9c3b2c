// Positions in NAVTEX message text: the degree-and-minute forms warnings use
// (34-10N 139-02E, 34-10.5N 139-02.3E, 3410N 13902E, 34 10 N 139 02 E,
// 34-10-30N, the full-width forms of the Japanese service and its
// 北緯34度10分 東経139度02分), found one latitude-longitude pair at a time, so
// ranges and lists of points come out as the points in the order written.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace brontel::stations {

struct TLatLon {
  double Lat = 0.0;  // degrees, north positive, -90 to 90
  double Lon = 0.0;  // degrees, east positive, -180 to 180
  bool operator==(const TLatLon&) const = default;
};

// A position found in a text: where it is (byte offset and length in the
// text, code page 932) and its value.
struct TPosition {
  TLatLon Point;
  std::size_t Offset = 0;
  std::size_t Length = 0;
};

// Every latitude directly followed by a longitude (only spaces, commas, '/'
// or a line end between them) in `text` (code page 932), in order. A lone
// latitude or longitude, numbers out of range (minutes of 60 or more, a
// latitude past 90) and numbers glued to letters or digits are not
// positions, so times (061200 UTC), serials and frequencies never match.
std::vector<TPosition> FindPositions(std::string_view text);

// One coordinate written in any of the forms above (e.g. "50-35N",
// "001-18.5W", "3410N"), the whole of `text`: latitude when `latitude`, else
// longitude. Empty if `text` is not such a coordinate.
std::optional<double> ParseCoordinate(std::string_view text, bool latitude);

// Great-circle distance in kilometres (mean Earth radius 6371 km).
double DistanceKm(const TLatLon& a, const TLatLon& b);

}  // namespace brontel::stations
