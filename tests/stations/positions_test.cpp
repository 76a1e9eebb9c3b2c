// Positions found in warnings as NAVTEX stations write them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/cp932.h"
#include "stations/positions.h"

namespace brontel::stations {
namespace {

std::string Cp932(const std::string& utf8)
{
  std::string out;
  EXPECT_TRUE(Utf8ToCp932(utf8, out)) << utf8;
  return out;
}

TEST(Positions, FoundInWarnings)
{
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<TLatLon> Expected;
  };
  const double m = 1.0 / 60.0;
  const std::vector<TCase> cases = {
      {"dashes", "NAVAREA XI 1234/25\nDERELICT VESSEL SIGHTED 061200 UTC MAR\nIN 34-10N 139-02E.",
       {{34 + 10 * m, 139 + 2 * m}}},
      {"decimal minutes", "LIGHT BUOY 34-10.5N 139-02.3E OFF STATION.", {{34 + 10.5 * m, 139 + 2.3 * m}}},
      {"run together", "WRECK IN 3410N 13902E. 5012.5N 00130.2W.",
       {{34 + 10 * m, 139 + 2 * m}, {50 + 12.5 * m, -(1 + 30.2 * m)}}},
      {"spaced", "ROCKET LAUNCHING 34 10 N 139 02 E", {{34 + 10 * m, 139 + 2 * m}}},
      {"seconds", "OBSTRUCTION 34-10-30N 139-02-15E", {{34 + 10.5 * m, 139 + 2.25 * m}}},
      {"south and west", "JAKARTA 06-06S 106-54E ABROLHOS 18-00S 038-40W",
       {{-(6 + 6 * m), 106 + 54 * m}, {-18, -(38 + 40 * m)}}},
      {"area", "AREA BOUNDED BY 58-10N 003-20E, 58-12N 003-25E,\n58-08N 003-30E.",
       {{58 + 10 * m, 3 + 20 * m}, {58 + 12 * m, 3 + 25 * m}, {58 + 8 * m, 3.5}}},
      {"between and", "CABLE OPERATIONS BETWEEN 50-35N 001-18W AND 50-40.2N 001-05.7W",
       {{50 + 35 * m, -(1 + 18 * m)}, {50 + 40.2 * m, -(1 + 5.7 * m)}}},
      {"latitude and longitude on two lines", "POSITION 34-10N\n139-02E", {{34 + 10 * m, 139 + 2 * m}}},
      {"slash between", "5012N/00130W", {{50.2, -1.5}}},
      {"full width", Cp932("漂流物　３４－１０Ｎ　１３９－０２Ｅ　付近"), {{34 + 10 * m, 139 + 2 * m}}},
      {"Japanese words", Cp932("北緯３４度１０．５分　東経１３９度０２分付近"), {{34 + 10.5 * m, 139 + 2 * m}}},
      {"not positions: times, serials, frequencies, distances",
       "ZCZC FA10\n061200 UTC MAR 25\nNAVWARN 123/25 FA10-977/20 ON 518 KHZ 4209.5 KHZ\nWITHIN 2 NM ETA 2300 10 NOV",
       {}},
      {"out of range", "34-60N 139-02E 95-00N 139-02E 34-10N 181-00E 3410N 13960E 34-015N 139-02E", {}},
      {"a latitude alone or glued to letters", "34-10N ONLY. X34-10N 139-02E 34-10NM 139-02E 34-10N 139-02EAST", {}},
      {"erasure in a position", "34-1*N 139-02E", {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TPosition> found = FindPositions(c.Text);
    ASSERT_EQ(found.size(), c.Expected.size());
    for (std::size_t k = 0; k < found.size(); ++k) {
      EXPECT_NEAR(found[k].Point.Lat, c.Expected[k].Lat, 1e-9) << k;
      EXPECT_NEAR(found[k].Point.Lon, c.Expected[k].Lon, 1e-9) << k;
    }
  }
}

TEST(Positions, WhereTheyAreAndSingleCoordinates)
{
  const std::string text = "WRECK 34-10N 139-02E, BUOY 3411N 13903E";
  const std::vector<TPosition> found = FindPositions(text);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(text.substr(found[0].Offset, found[0].Length), "34-10N 139-02E");
  EXPECT_EQ(text.substr(found[1].Offset, found[1].Length), "3411N 13903E");

  EXPECT_NEAR(*ParseCoordinate("50-35N", true), 50 + 35.0 / 60, 1e-12);
  EXPECT_NEAR(*ParseCoordinate(" 001-18W", false), -1.3, 1e-12);
  for (const char* bad : {"50-35", "50-35E", "50-35N x", "", "N"}) EXPECT_FALSE(ParseCoordinate(bad, true)) << bad;
  EXPECT_FALSE(ParseCoordinate("50-35N", false));
  EXPECT_NEAR(DistanceKm({50, 0}, {51, 0}), 111.19, 0.01);
}

}  // namespace
}  // namespace brontel::stations
