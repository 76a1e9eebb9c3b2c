// Meaning of accepted characters: the English letters/figures table and
// shift state, and the pairing of Japanese JIS X 0208 bytes into Shift_JIS.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "decoder/text_output.h"

namespace brontel {

// Row 0 letters, row 1 figures, indexed by the 7-bit code (first bit received
// is the code's most significant bit). Empty entries are codes without text.
using TCodeTable = std::array<std::array<std::string_view, 128>, 2>;
const TCodeTable& CodeTable();

// Special English codes.
inline constexpr uint8_t CodeCarriageReturn = 0x0F;
inline constexpr uint8_t CodeLineFeed = 0x1B;
inline constexpr uint8_t CodeLetters = 0x2D;
inline constexpr uint8_t CodeFigures = 0x36;
inline constexpr uint8_t CodeSync2 = 0x33;  // phasing, first-transmission slots
inline constexpr uint8_t CodeSync1 = 0x78;  // phasing, repetition slots

// Japanese control values.
inline constexpr uint8_t JisLineFeed = 0x0A;
inline constexpr uint8_t JisCarriageReturn = 0x0D;
inline constexpr uint8_t JisPhasingA = 0x04;  // repetition slots
inline constexpr uint8_t JisPhasingB = 0x19;  // first-transmission slots

// JIS X 0208 bytes paired into characters: the first byte of a pair is held
// until the second comes.
struct TKanjiPair {
  std::array<uint8_t, 2> KanjiBuf{};  // the pair being built
  uint8_t KanjiCount = 0;             // bytes of the pair held, 0 or 1

  // Takes the next byte; true when it completed the pair now in KanjiBuf.
  bool TakeByte(uint8_t b)
  {
    KanjiBuf[KanjiCount] = b;
    KanjiCount = KanjiCount == 0 ? 1 : 0;
    return KanjiCount == 0;
  }
};

// What accepted characters build: the shift state, the Japanese byte pairing
// and the line under construction.
struct TCharText : TKanjiPair {
  uint8_t Shift = 0;     // 0 letters, 1 figures
  std::string LineText;  // the line under construction
};

// An accepted English character (weight 4, non-empty entry in the current row).
void HandleEngCode(TCharText& t, TTextStore& text, uint8_t code);

// The 7-bit data value of an accepted Japanese character.
void HandleJisByte(TCharText& t, TTextStore& text, uint8_t data);

// JIS X 0208 pair (j1, j2) to its two Shift_JIS bytes.
std::array<uint8_t, 2> JisToShiftJis(uint8_t j1, uint8_t j2);

// Appends the Shift_JIS form of a pair to `line`.
void AppendShiftJis(std::string& line, const std::array<uint8_t, 2>& pair);

}  // namespace brontel
