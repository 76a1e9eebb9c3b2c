// Station names for transmitter letters. Letters are reused in every NAVAREA,
// so the name for B1 comes from the station with that letter on that
// frequency nearest the listener; when two are about as near (or the listener
// gave only a NAVAREA), from the schedule: the one whose transmission slot the
// message started in. A letter no station matches stays a letter.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stations/positions.h"
#include "stations/station_list.h"

namespace brontel::stations {

// Where the listener is: a position, a NAVAREA, both or neither.
struct TListener {
  std::optional<TLatLon> Position;
  int NavArea = 0;  // 0: not given
};

// Reads "51.5,-1.25" (decimal degrees, latitude first), "50-35N 001-18W"
// (any form FindPositions knows) or a NAVAREA ("XI", "NAVAREA XI", "11").
// False with `error` set for anything else.
bool ParseListener(std::string_view text, TListener& listener, std::string& error);

class TStationResolver {
public:
  // Two stations count as equally near when the farther is less than this
  // much farther than the nearer: beyond NAVTEX range differences of a few
  // hundred kilometres say little about which one is heard.
  static constexpr double NearMarginKm = 500.0;
  // Farther than this no NAVTEX station is heard but on rare nights: a letter
  // whose nearest station is farther off is more likely one missing from the
  // list, and stays a letter.
  static constexpr double MaxRangeKm = 3000.0;
  // When a station with the letter has no known site it may be the one
  // heard, so the nearest station whose site is known is taken only when it
  // is at most this far off (about the 400 NM of a NAVTEX service area);
  // farther off the position cannot tell and the NAVAREA, if given, decides.
  static constexpr double SureRangeKm = 750.0;
  // A message starts in a station's slot when it starts less than this long
  // after one of the station's transmission times.
  static constexpr int SlotMinutes = 10;

  TStationResolver(std::vector<TStation> stations, TListener listener)
      : Stations(std::move(stations)), Listener(listener) {}

  // The station for letter `b1` on `frequencyKhz` for a message that started
  // at `utc` (seconds since the epoch), or null when none can be told.
  const TStation* Find(char b1, double frequencyKhz, double utc) const;
  // Its name, or the letter itself ("?" for 0).
  std::string Name(char b1, double frequencyKhz, double utc) const;

  const std::vector<TStation>& All() const { return Stations; }

private:
  // The one station among `candidates` whose slot the message started in.
  static const TStation* BySchedule(const std::vector<const TStation*>& candidates, double utc);

  std::vector<TStation> Stations;
  TListener Listener;
};

}  // namespace brontel::stations
