#include "stations/map_export.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "decoder/cp932.h"
#include "messages/format.h"
#include "stations/resolver.h"

namespace brontel::stations {

namespace {

// Decimal degrees with six decimals (about 0.1 m), the same in every locale.
std::string Degrees(double v)
{
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  return std::string(buf, r.ptr);
}

// Text for an XML element or attribute: the five markup characters escaped,
// and control characters XML 1.0 cannot carry replaced by U+FFFD.
std::string XmlText(std::string_view s)
{
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' && c != '\r')
          out += "\xEF\xBF\xBD";
        else
          out.push_back(c);
    }
  }
  return out;
}

}  // namespace

TMapItem MapItem(const msg::TMessage& m, std::string station)
{
  TMapItem item;
  item.Id = m.Id;
  item.Station = std::move(station);
  item.Start = m.Start;
  item.Text = Cp932ToUtf8(m.Text);
  for (const TPosition& p : FindPositions(m.Text)) item.Points.push_back(p.Point);
  return item;
}

std::string GeoJson(const std::vector<TMapItem>& items)
{
  using nlohmann::json;
  json features = json::array();
  for (const TMapItem& item : items) {
    if (item.Points.empty()) continue;
    json coords = json::array();
    for (const TLatLon& p : item.Points) coords.push_back({p.Lon, p.Lat});
    json geometry = item.Points.size() == 1 ? json{{"type", "Point"}, {"coordinates", coords[0]}}
                                            : json{{"type", "MultiPoint"}, {"coordinates", coords}};
    features.push_back({{"type", "Feature"},
                        {"geometry", geometry},
                        {"properties",
                         {{"id", item.Id}, {"station", item.Station}, {"start", msg::IsoTime(item.Start)}, {"text", item.Text}}}});
  }
  const json doc{{"type", "FeatureCollection"}, {"features", features}};
  return doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string Gpx(const std::vector<TMapItem>& items)
{
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"Brontel\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n";
  for (const TMapItem& item : items) {
    for (std::size_t k = 0; k < item.Points.size(); ++k) {
      const TLatLon& p = item.Points[k];
      std::string name = item.Id.empty() ? std::string("message") : item.Id;
      if (k > 0) name.append("/").append(std::to_string(k + 1));
      out += " <wpt lat=\"" + Degrees(p.Lat) + "\" lon=\"" + Degrees(p.Lon) + "\">\n";
      if (const std::string time = msg::IsoTime(item.Start); time != "?") out += "  <time>" + time + "</time>\n";
      out += "  <name>" + XmlText(name) + "</name>\n";
      out += "  <desc>" + XmlText(item.Station + ": " + item.Text) + "</desc>\n";
      out += " </wpt>\n";
    }
  }
  out += "</gpx>\n";
  return out;
}

msg::TJsonExtras JsonExtras(const msg::TMessage& m, const TStationResolver& names, double khz)
{
  msg::TJsonExtras extras;
  if (khz <= 0.0) khz = m.Service == msg::TService::Japanese ? 424.0 : 518.0;
  if (const TStation* s = m.Station ? names.Find(m.Station, m.Frequency.value_or(khz), m.Start) : nullptr)
    extras.StationName = s->Name;
  for (const TPosition& p : FindPositions(m.Text)) extras.Positions.push_back({p.Point.Lat, p.Point.Lon});
  return extras;
}

}  // namespace brontel::stations
