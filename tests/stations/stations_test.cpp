// The station file and the names of transmitter letters.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "stations/resolver.h"
#include "stations/station_list.h"

namespace brontel::stations {
namespace {

constexpr const char* Head =
    "# source S1: a list\n"
    "letter,name,country,navarea,frequency_khz,latitude,longitude,times_utc,source\n";

// Seconds since the epoch at hh:mm UTC on some day.
double At(int hh, int mm) { return 1767225600.0 + hh * 3600.0 + mm * 60.0; }

TEST(StationFile, BadLinesAreNamed)
{
  struct TCase {
    std::string Text;
    std::string Error;  // expected start of the message after "f.csv:"
  };
  const std::string good = "E,Niton,United Kingdom,I,518,50-35N,001-18W,0040 0440,S1\n";
  const std::vector<TCase> cases = {
      {"E,Niton\n", "1: the header must be"},
      {Head + good + "E,Niton,UK,I,518,50-35N,001-18W,0040\n", "4: expected 9 fields"},
      {Head + std::string("EE,Niton,UK,I,518,,,,S1\n"), "3: letter 'EE'"},
      {Head + std::string("E,,UK,I,518,,,,S1\n"), "3: the name is empty"},
      {Head + std::string("E,Niton,UK,XXII,518,,,,S1\n"), "3: NAVAREA 'XXII'"},
      {Head + std::string("E,Niton,UK,I,500,,,,S1\n"), "3: frequency '500'"},
      {Head + std::string("E,Niton,UK,I,518,95-00N,001-18W,,S1\n"), "3: latitude '95-00N'"},
      {Head + std::string("E,Niton,UK,I,518,50-35N,001-18N,,S1\n"), "3: longitude '001-18N'"},
      {Head + std::string("E,Niton,UK,I,518,50-35N,,,S1\n"), "3: give both latitude and longitude"},
      {Head + std::string("E,Niton,UK,I,518,,,0040 2460,S1\n"), "3: times '0040 2460'"},
      {Head + std::string("E,Niton,UK,I,518,,,,S2\n"), "3: source 'S2' is not declared"},
      {Head + good + "\n# comment\n" + good, "6: repeats the station of line 3"},
      {"# only comments\n", " no header line"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    std::vector<TStation> out{TStation{}};
    std::string error;
    EXPECT_FALSE(ParseStations(c.Text, "f.csv", out, error));
    EXPECT_EQ(error.rfind("f.csv:" + c.Error, 0), 0u) << error;
    EXPECT_EQ(out.size(), 1u) << "nothing is returned from a bad file";
  }
  std::vector<TStation> out;
  std::string error;
  ASSERT_TRUE(ParseStations(std::string(Head) + good, "f.csv", out, error)) << error;
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Times, (std::vector<int>{40, 280}));
  EXPECT_EQ(out[0].NavArea, 1);
  EXPECT_EQ(out[0].Line, 3);
}

TEST(StationFile, TheShippedListLoads)
{
  std::vector<TStation> stations;
  std::string error;
  ASSERT_TRUE(LoadStations(BRONTEL_STATION_FILE, stations, error)) << error;
  EXPECT_GT(stations.size(), 40u);
  std::vector<TStation> none;
  EXPECT_FALSE(LoadStations("/nonexistent/stations.csv", none, error));
  EXPECT_NE(error.find("/nonexistent/stations.csv"), std::string::npos);
}

TEST(StationNames, TheSameLetterInNavareaIAndXI)
{
  std::vector<TStation> stations;
  std::string error;
  ASSERT_TRUE(LoadStations(BRONTEL_STATION_FILE, stations, error)) << error;
  struct TCase {
    const char* Where;
    char Letter;
    double Khz;
    std::string Expected;
  };
  const std::vector<TCase> cases = {
      {"51.1,1.4", 'K', 518, "Niton"},        // Dover Strait
      {"43.0,145.0", 'K', 518, "Kushiro"},    // off Hokkaido
      {"NAVAREA I", 'K', 518, "Niton"},
      {"XI", 'K', 518, "Kushiro"},
      {"57-00N 011-00E", 'J', 518, "Gisövshammar"},
      {"35.0,139.5", 'J', 518, "Otaru"},
      {"35.0,139.5", 'I', 424, "Yokohama"},
      {"51.1,1.4", 'K', 424, "K"},            // only station with K on 424 kHz is 9000 km away
      {"51.1,1.4", 'Z', 518, "Z"},            // no such station
      {"NAVAREA III", 'R', 518, "Roma"},      // no position known: the NAVAREA decides
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Where);
    TListener listener;
    ASSERT_TRUE(ParseListener(c.Where, listener, error)) << error;
    const TStationResolver resolver(stations, listener);
    EXPECT_EQ(resolver.Name(c.Letter, c.Khz, At(12, 0)), c.Expected);
  }
  TListener l;
  for (const char* bad : {"91,0", "north", "51.1;1.4", "XXII"}) EXPECT_FALSE(ParseListener(bad, l, error)) << bad;
}

TEST(StationNames, TheScheduleDecidesBetweenNearStations)
{
  auto station = [](const char* name, double lat, double lon, int navarea, std::vector<int> times) {
    TStation s;
    s.Letter = 'P';
    s.Name = name;
    s.NavArea = navarea;
    s.FrequencyKhz = 518;
    s.Position = TLatLon{lat, lon};
    s.Times = std::move(times);
    return s;
  };
  // Alpha and Bravo 170 km apart with different slots, Bravo a little
  // nearer the listener; Charlie far off, in its slot at 01:00.
  const std::vector<TStation> stations = {station("Alpha", 40, 10, 3, {20, 260, 390}),
                                          station("Bravo", 40, 12, 3, {150, 390}),
                                          station("Charlie", 40, 40, 3, {60})};
  const TStationResolver byPosition(stations, {TLatLon{40, 11.1}, 0});
  const TStationResolver byArea(stations, {std::nullopt, 3});
  struct TCase {
    int Hh, Mm;
    const char* Position;
    const char* Area;
  };
  const std::vector<TCase> cases = {
      {0, 25, "Alpha", "Alpha"},    // in Alpha's slot: the schedule beats the nearer Bravo
      {2, 39, "Bravo", "Bravo"},
      {2, 40, "Bravo", "P"},        // Bravo's slot has ended: nearest; by NAVAREA alone unknown
      {1, 2, "Bravo", "Charlie"},   // Charlie is in its slot but not near
      {23, 55, "Bravo", "P"},
      {6, 35, "Bravo", "P"},        // both in their slots: the schedule cannot tell
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Hh) + ":" + std::to_string(c.Mm));
    EXPECT_EQ(byPosition.Name('P', 518, At(c.Hh, c.Mm)), c.Position);
    EXPECT_EQ(byArea.Name('P', 518, At(c.Hh, c.Mm)), c.Area);
  }
}

TEST(StationNames, AStationWithoutASiteKeepsAFarOneFromTakingItsLetter)
{
  auto station = [](const char* name, std::optional<TLatLon> at, int navarea) {
    TStation s;
    s.Letter = 'T';
    s.Name = name;
    s.NavArea = navarea;
    s.FrequencyKhz = 518;
    s.Position = at;
    return s;
  };
  const TStation placed = station("Oostende", TLatLon{51.2, 2.8}, 1);
  const TStation unplaced = station("Cagliari", std::nullopt, 3);
  struct TCase {
    TListener Listener;
    bool WithUnplaced;
    const char* Expected;
  };
  const std::vector<TCase> cases = {
      {{TLatLon{51.0, 2.0}, 0}, true, "Oostende"},   // 60 km off
      {{TLatLon{45.0, 2.8}, 0}, true, "Oostende"},   // 690 km: still sure
      {{TLatLon{44.2, 2.8}, 0}, true, "T"},          // 780 km: the unplaced one may be nearer
      {{TLatLon{39.2, 9.1}, 0}, true, "T"},          // off Sardinia
      {{TLatLon{39.2, 9.1}, 3}, true, "Cagliari"},   // the NAVAREA decides
      {{TLatLon{39.2, 9.1}, 0}, false, "Oostende"},  // no other station: the nearest, within 3000 km
      {{std::nullopt, 3}, true, "Cagliari"},
      {{std::nullopt, 1}, true, "Oostende"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Expected) + (c.WithUnplaced ? " with" : " without") + " the unplaced station");
    std::vector<TStation> stations = {placed};
    if (c.WithUnplaced) stations.push_back(unplaced);
    EXPECT_EQ(TStationResolver(stations, c.Listener).Name('T', 518, At(12, 0)), c.Expected);
  }
}

}  // namespace
}  // namespace brontel::stations
