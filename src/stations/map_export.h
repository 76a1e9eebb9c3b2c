// Messages with their positions for chart programs: GeoJSON (RFC 7946) and
// GPX waypoints (OpenCPN and most chart plotters import them).
#pragma once

#include <string>
#include <vector>

#include "messages/format.h"
#include "messages/message.h"
#include "stations/positions.h"

namespace brontel::stations {

// One message as it goes on a chart.
struct TMapItem {
  std::string Id;        // B1B2B3B4
  std::string Station;   // station name, or its letter
  double Start = 0.0;    // UTC, seconds since the epoch
  std::string Text;      // UTF-8
  std::vector<TLatLon> Points;
};

// The item for a stored message: its text in UTF-8 and the positions in it.
TMapItem MapItem(const msg::TMessage& m, std::string station);

// A FeatureCollection with one feature per item that has positions: a Point
// for one position, a MultiPoint for several (coordinates in the GeoJSON
// order, longitude first), with the properties id, station, start and text.
std::string GeoJson(const std::vector<TMapItem>& items);

// A GPX document with one waypoint per position, named after the message
// ("KA12", or "KA12/2" for its second position), with the message's
// time and text.
std::string Gpx(const std::vector<TMapItem>& items);

class TStationResolver;

// The station's name (when `names` knows it) and the positions in the text,
// for a message's JSON. `khz` is the frequency taken when the message does
// not carry one (0: the service's own, 518 or 424).
msg::TJsonExtras JsonExtras(const msg::TMessage& m, const TStationResolver& names, double khz);

}  // namespace brontel::stations
