// The glyphs of the main window's three buttons, 16 × 16 pixels: "#" is
// black, "." the light grey background (0xD4, 0xD0, 0xC8), which is shown
// transparent. Rows top to bottom.
#pragma once

#include <array>
#include <string_view>

namespace brontel {

inline constexpr int GlyphSize = 16;
using TGlyph = std::array<std::string_view, GlyphSize>;

// SpeedButton2 (save): a floppy disk.
inline constexpr TGlyph SaveGlyph = {
    "................",
    ".#############..",
    ".#..#######...#.",
    ".#..####..#...#.",
    ".#..####..#...#.",
    ".#..####..#...#.",
    ".#..#######...#.",
    ".#............#.",
    ".#.##########.#.",
    ".#.#........#.#.",
    ".#.#........#.#.",
    ".#.#........#.#.",
    ".#.#........#.#.",
    ".#.#........#.#.",
    ".##############.",
    "................",
};

// SpeedButton3 (copy): a sheet of paper over the word COPY.
inline constexpr TGlyph CopyGlyph = {
    "....#####.......",
    "....#...##......",
    "....#...#.#.....",
    "....#...####....",
    "....#......#....",
    "....#.####.#....",
    "....#......#....",
    "....#.####.#....",
    "....#......#....",
    "....########....",
    "................",
    "###.###.###.#.#.",
    "#...#.#.#.#.#.#.",
    "#...#.#.###..#..",
    "#...#.#.#....#..",
    "###.###.#....#..",
};

// SpeedButton1 (input device): an arrow pointing at the letters IN over a waveform.
inline constexpr TGlyph InputGlyph = {
    "................",
    "....#...###.#..#",
    "....##...#..##.#",
    "#######..#..#.##",
    "....##...#..#..#",
    "....#...###.#..#",
    "................",
    "................",
    "..#.......#.....",
    ".#.#.....#.#....",
    ".#.#.....#.#....",
    "#...#...#...#...",
    ".....#.#.....#.#",
    ".....#.#.....#.#",
    "......#.......#.",
    "................",
};

}  // namespace brontel
