// Any bytes as message text (code page 932) and as a station file: positions
// are found without fault, each in range and inside the text, in order and
// apart; the chart forms of them parse; a station file either loads with
// valid stations or is refused with a message.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "stations/map_export.h"
#include "stations/positions.h"
#include "stations/station_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
  using namespace brontel::stations;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::vector<TPosition> found = FindPositions(text);
  std::size_t end = 0;
  for (const TPosition& p : found) {
    FUZZ_CHECK(std::abs(p.Point.Lat) <= 90.0 && std::abs(p.Point.Lon) <= 180.0);
    FUZZ_CHECK(p.Offset >= end && p.Length > 0 && p.Offset + p.Length <= text.size());
    end = p.Offset + p.Length;
  }

  brontel::msg::TMessage m;
  m.Id = std::string(text.substr(0, 4));
  m.Text = std::string(text);
  const std::vector<TMapItem> items = {MapItem(m, std::string(text.substr(0, 8)))};
  FUZZ_CHECK(items[0].Points.size() == found.size());
  const nlohmann::json doc = nlohmann::json::parse(GeoJson(items), nullptr, false);
  FUZZ_CHECK(!doc.is_discarded());
  FUZZ_CHECK(doc["features"].size() == (found.empty() ? 0u : 1u));
  const std::string gpx = Gpx(items);
  for (const char c : gpx) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t' || c == '\r');

  std::vector<TStation> stations;
  std::string error;
  if (ParseStations(text, "fuzz.csv", stations, error)) {
    for (const TStation& s : stations) {
      FUZZ_CHECK(s.Letter >= 'A' && s.Letter <= 'Z' && !s.Name.empty() && s.NavArea >= 1 && s.NavArea <= 21);
      FUZZ_CHECK(IsNavtexFrequency(s.FrequencyKhz));
      for (const int t : s.Times) FUZZ_CHECK(t >= 0 && t < 24 * 60);
    }
  } else {
    FUZZ_CHECK(error.rfind("fuzz.csv", 0) == 0);
  }
  return 0;
}
