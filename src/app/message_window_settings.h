// What the message window keeps between runs, in the settings file beside the
// main window's keys:
//
//   [MessageWindow]  Left, Top, Width, Height (0 × 0: never placed), Split
//                    (height of the list in pixels), Columns (the list's
//                    column widths, comma-separated), Sort (column and "a" or
//                    "d"), Open (whether it was open when the program ended),
//                    ShowAll, NewOnly
//   [Messages]       Stations, Subjects (the reception selection)
//   [Station]        Position (where the listener is, for station names)
//
// Plain C++; no toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/atomic_file.h"

namespace brontel {

struct TMessageWindowSettings {
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  int32_t Split = 0;               // 0: the window's own proportion
  std::vector<int32_t> Columns;    // widths of the list's columns, left to right
  int32_t SortColumn = -1;         // -1: newest first
  bool SortAscending = false;
  bool Open = false;                // open at the next start (and at the first)
  bool ShowAll = false;            // also messages outside the selection
  bool NewOnly = false;
  std::string Stations = "*";      // [Messages] Stations
  std::string Subjects = "*";      // [Messages] Subjects
  std::string Position;            // [Station] Position (empty: not given)
  bool InFile = false;             // the file holds the window's section

  bool Placed() const { return Width > 0 && Height > 0; }
};

// Reads the keys; anything missing or unreadable takes its default. Column
// widths that are not positive numbers end the list there.
TMessageWindowSettings LoadMessageWindowSettings(const std::string& path);

// Writes the window's keys ([MessageWindow]) and, with `selection`, the
// selection and the position, leaving every other line of the file as it
// was; one atomic replacement. False with the reason on failure.
bool SaveMessageWindowSettings(const std::string& path, const TMessageWindowSettings& settings, bool selection,
                               std::string& reason, const TFileWriteCalls& calls = SystemFileWriteCalls());

}  // namespace brontel
