#include "decoder/code_table.h"

#include "decoder/text_output.h"

namespace brontel {

namespace {

struct TCodeEntry {
  uint8_t Code;
  std::string_view Letters;
  std::string_view Figures;
};

// CCIR 476 / ITU-R M.625 seven-unit code: the 35 codes with four ones.
// Control entries carry a text only so that they count as codes with a meaning.
constexpr TCodeEntry CodeEntries[] = {
    {0x0F, "\r\n", "\r\n"},    // carriage return
    {0x17, "T", "5"},
    {0x1B, "\r\n", "\r\n"},    // line feed
    {0x1D, " ", " "},          // space
    {0x1E, "V", "="},
    {0x27, "B", "?"},
    {0x2B, " ", " "},          // second space code
    {0x2D, "DN", "DN"},        // letters shift
    {0x2E, "X", "/"},
    {0x33, "SYNC2", "SYNC2"},  // phasing
    {0x35, "E", "3"},
    {0x36, "UP", "UP"},        // figures shift
    {0x39, "U", "7"},
    {0x3A, "Q", "1"},
    {0x3C, "K", "("},
    {0x47, "O", "9"},
    {0x4B, "H", ""},
    {0x4D, "N", ","},
    {0x4E, "M", "."},
    {0x53, "L", ")"},
    {0x55, "R", "4"},
    {0x56, "G", ""},
    {0x59, "I", "8"},
    {0x5A, "P", "0"},
    {0x5C, "C", ":"},
    {0x63, "Z", "+"},
    {0x65, "D", ""},
    {0x66, "", ""},            // never has a text
    {0x69, "S", ""},
    {0x6A, "Y", "6"},
    {0x6C, "F", ""},
    {0x71, "A", "-"},
    {0x72, "W", "2"},
    {0x74, "J", "BEEP"},       // figures: the word, no sound
    {0x78, "SYNC1", "SYNC1"},  // phasing
};

}  // namespace

const TCodeTable& CodeTable()
{
  static const TCodeTable table = [] {
    TCodeTable t{};
    for (const TCodeEntry& e : CodeEntries) {
      t[0][e.Code] = e.Letters;
      t[1][e.Code] = e.Figures;
    }
    return t;
  }();
  return table;
}

void HandleEngCode(TCharText& s, TTextStore& text, uint8_t code)
{
  switch (code) {
    case CodeLetters: s.Shift = 0; return;
    case CodeFigures: s.Shift = 1; return;
    case CodeSync1:
    case CodeSync2:
    case CodeCarriageReturn: return;
    case CodeLineFeed: FlushLine(text, s.LineText); return;
    default:
      s.LineText.append(CodeTable()[s.Shift][code]);
      LineGrew(text, s.LineText);
      return;
  }
}

std::array<uint8_t, 2> JisToShiftJis(uint8_t j1, uint8_t j2)
{
  int s1, s2;
  if (j1 & 1) {
    s1 = (j1 + 1) / 2 + 0x70;
    s2 = j2 + 0x1F;
  } else {
    s1 = j1 / 2 + 0x70;
    s2 = j2 + 0x7D;
  }
  if (s1 >= 0xA0) s1 += 0x40;
  if (s2 >= 0x7F) s2 += 1;
  return {static_cast<uint8_t>(s1), static_cast<uint8_t>(s2)};
}

void AppendShiftJis(std::string& line, const std::array<uint8_t, 2>& pair)
{
  const auto sj = JisToShiftJis(pair[0], pair[1]);
  line.push_back(static_cast<char>(sj[0]));
  line.push_back(static_cast<char>(sj[1]));
}

void HandleJisByte(TCharText& s, TTextStore& text, uint8_t data)
{
  switch (data) {
    case JisLineFeed:
      FlushLine(text, s.LineText);
      s.KanjiCount = 0;
      return;
    case JisCarriageReturn:
      s.KanjiCount = 0;
      return;
    case JisPhasingA:
    case JisPhasingB:
      s.KanjiCount = 0;
      ClearLine(text, s.LineText);
      return;
    default:
      break;
  }
  if (s.TakeByte(data)) {
    AppendShiftJis(s.LineText, s.KanjiBuf);
    LineGrew(text, s.LineText);
  }
}

}  // namespace brontel
