// NAVTEX messages as NMEA 0183 NRX sentences (the IEC 61162-1 sentence for a
// received NAVTEX message), the form chart plotters and other navigation
// programs read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brontel {

// The frequency index of the sentence (4 to 9 are reserved).
namespace nrx_frequency {
constexpr int NotOverTheAir = 0;
constexpr int Khz490 = 1;
constexpr int Khz518 = 2;
constexpr int Khz4209 = 3;  // 4209.5 kHz
}  // namespace nrx_frequency

struct TNrxMessage {
  std::string Id;                // B1B2B3B4; anything but two letters and two digits is sent as a null field
  int FrequencyIndex = nrx_frequency::Khz518;  // 0 to 9
  double ReceivedUtc = -1.0;     // time of receipt, seconds since 1970 (UTC); negative: unknown
  std::string Text;              // the message text, code page 932 bytes, lines ended by CR LF
  int BadCharacters = 0;         // characters estimated to be in error
  bool Valid = true;             // the status field: A when set, V when not
};

// The sentences of one message, each "$CRNRX,…*hh" without its line end:
// total sentences, sentence number, sequential id (0 … 99), message code,
// frequency index, UTC time of receipt (hhmmss.ss, rounded to 0.01 s), day,
// month, year, total characters, bad characters, status, and a part of the
// text in which reserved characters, control characters and bytes outside
// printable ASCII are written as ^hh.
//
// The total counts the characters of the text the sentences carry: CR and LF
// one each, a two-byte character one. The fields from the message code to
// the status are null in the sentences after the first. Sentences are cut
// between characters only (never inside an escape or a two-byte character)
// and each fits the 82-character limit, line end included. A message needing
// more than 999 sentences is cut there, and `cut` (when given) says so.
std::vector<std::string> NrxSentences(const TNrxMessage& message, int sequentialId, bool* cut = nullptr);

// The checksum of a sentence: XOR of every byte between '$' and '*'.
unsigned NmeaChecksum(std::string_view body);

}  // namespace brontel
