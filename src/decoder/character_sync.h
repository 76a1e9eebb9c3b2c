// Character synchronisation and FEC of the SITOR-B collective broadcast:
// phasing, comparison of the two transmissions, mode and polarity detection.
//
// One decoder serves both services. A service is described by its character
// length, the distance between the two copies of a character, when a character
// is due, how a character is read and judged, its phasing patterns and what an
// accepted character does (TServiceCode); the step below is the same for both.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "decoder/code_table.h"
#include "decoder/text_output.h"

namespace brontel {

inline constexpr int BitRegLen = 133;  // bits of history the decoder looks at

enum class TSync : uint8_t {
  Hunting,  // looking for phasing or for a run of agreeing characters
  Locked,   // characters are evaluated every character period
};

struct TCharDecoder : TCharText {
  std::array<uint8_t, BitRegLen> BitReg{};  // last bits after polarity correction, entry 0 newest
  bool EngMode = false;                     // true: English 7-unit, false: Japanese 10-unit
  bool Inverted = false;                    // received bits are inverted before use
  TSync Sync = TSync::Hunting;
  int32_t SlotCount = 0;                    // bits since the last evaluated character

  bool InSync() const { return Sync == TSync::Locked; }
};

// Consumes `bits` in order (as the bit clock took them: 1 = higher tone).
// Accepted characters go to the service's character handler and build the
// line in `text`; faults end synchronisation and write the line.
void DecodeBits(TCharDecoder& d, std::span<const uint8_t> bits, TTextStore& text);

// Character forms read out of the bit register (p = position of the newest bit).
int EngCode(const TCharDecoder& d, int p);     // 7-unit code, first bit received = bit 6
int EngWeight(const TCharDecoder& d, int p);   // ones among the seven bits
int JisData(const TCharDecoder& d, int p);     // the seven data bits, LSB received first
bool JisValid(const TCharDecoder& d, int p);   // check field counts the data's zero bits

// The four phasing patterns.
enum class TPhasing { None, English, EnglishInverted, Japanese, JapaneseInverted };
TPhasing FindPhasing(const TCharDecoder& d);

enum class TServiceKind : uint8_t { English, Japanese };

inline constexpr int MaxUnits = 10;           // bits of the longest character
inline constexpr uint16_t NoWord = 0xFFFF;    // WordOf: the value has no word

// What a decoder needs to know of a service.
struct TServiceCode {
  TServiceKind Kind;            // English: the decoder's EngMode while it serves this service
  int Units;                    // bits per character, at most MaxUnits
  int Repeat;                   // bits between the first transmission and its repetition
  int EvalSlot;                 // bits after an evaluated character until the next is due
  bool SentInverted;            // upright reception puts the bits into the register inverted
  TPhasing Upright, Upside;     // its phasing pattern in both polarities
  // Whether the register shows enough agreeing characters to join a message under way.
  bool (*Joinable)(const TCharDecoder& d);
  // The newest character's value, and whether an agreeing character with
  // that value is taken (otherwise synchronisation ends).
  int (*Read)(const TCharDecoder& d);
  bool (*Valid)(const TCharDecoder& d, int value);
  // What an accepted character does to the text.
  void (*Handle)(TCharText& t, TTextStore& text, uint8_t value);
  // The values a character may carry are 0 … Values−1; WordOf gives the word
  // that carries one as its bits lie in the register (bit r at position r,
  // position 0 the newest bit) in the code's own sense, or NoWord when the
  // code has no word for it.
  int Values;
  uint16_t (*WordOf)(int value);
  // The values of the phasing pair: sent in the first-transmission slots and
  // in the repetition slots.
  uint8_t PhasingFirst, PhasingRepeat;
};

const TServiceCode& EnglishCode();
const TServiceCode& JapaneseCode();
const TServiceCode& ServiceCode(TServiceKind kind);

// Register bits of an English code (the code itself when it has four ones)
// and of a Japanese data value (the check field, the count of zero data bits,
// newest; the data bits were received least significant first).
uint16_t EnglishWord(int code);
uint16_t JapaneseWord(int data);

}  // namespace brontel
