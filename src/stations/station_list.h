// The NAVTEX stations: who sends with which letter (B1) on which frequency,
// where and when, read from the station file installed with the program
// (share/brontel/navtex-stations.csv).
//
// The file is CSV in UTF-8. Lines starting with '#' are comments; among them
// "# source KEY: description" declares a source, and every station names the
// sources its data comes from (keys separated by spaces). The first other line is the header
//   letter,name,country,navarea,frequency_khz,latitude,longitude,times_utc,source
// and each line after it one station on one frequency, e.g.
//   E,Niton,United Kingdom,I,518,50-35N,001-18W,0040 0440 0840 1240 1640 2040,EGMDSS
// Position and times may be left empty where no source gives them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stations/positions.h"

namespace brontel::stations {

struct TStation {
  char Letter = 0;            // transmitter identity B1, 'A' to 'Z'
  std::string Name;
  std::string Country;
  int NavArea = 0;            // 1 to 21
  double FrequencyKhz = 0.0;  // 518, 490, 424 or 4209.5
  std::optional<TLatLon> Position;
  std::vector<int> Times;     // transmission slots, minutes after 00:00 UTC, ascending
  std::string Source;         // keys of its sources, declared in the file
  int Line = 0;               // line in the file
};

// The NAVTEX frequencies in kHz.
bool IsNavtexFrequency(double khz);

// Reads station lines from `text`; `name` is the file name used in errors.
// False with `error` naming the line and the field at fault (nothing is
// returned from a file with any bad line).
bool ParseStations(std::string_view text, std::string_view name, std::vector<TStation>& out, std::string& error);
bool LoadStations(const std::string& path, std::vector<TStation>& out, std::string& error);

// The station file: $BRONTEL_STATIONS if set, else the one installed beside
// the running program (../share/brontel), else the source tree's (a build
// run in place). Empty if none exists.
std::string FindStationFile();

// NAVAREA numbers: "XI", "NAVAREA XI", "11" -> 11; 0 for anything else.
int ParseNavArea(std::string_view text);
std::string NavAreaName(int area);  // 11 -> "XI"

}  // namespace brontel::stations
