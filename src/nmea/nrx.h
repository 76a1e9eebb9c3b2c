// NAVTEX messages as NMEA 0183 NRX sentences (the IEC 61162-1 sentence for a
// received NAVTEX message), the form chart plotters and other navigation
// programs read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brontel {

// The transmitting frequency as the sentence codes it.
enum class TNrxFrequency {
  NotOverTheAir = 0,
  Khz490 = 1,
  Khz518 = 2,
  Khz4209 = 3,  // 4209.5 kHz
};

struct TNrxMessage {
  std::string Id;                // B1B2B3B4, four printable ASCII characters
  TNrxFrequency Frequency = TNrxFrequency::Khz518;
  double ReceivedUtc = -1.0;     // time of receipt, seconds since 1970 (UTC); negative: unknown
  std::string Text;              // the message text, code page 932 bytes, lines ended by CR LF
  int BadCharacters = 0;         // characters received in error (erasures)
};

// The sentences of one message, each "$CRNRX,…*hh" without its line end:
// total sentences, sentence number, sequential id (0 … 99), message code,
// frequency, UTC time of receipt, day, month, year, total characters, bad
// characters, status (A without errors, V with), and a part of the text in
// which reserved characters, control characters and bytes outside printable
// ASCII are written as ^hh. Every sentence fits the 82-character limit
// (line end included); fields after the message code are left empty in
// the sentences after the first. A message needing more than 999 sentences
// is cut there.
std::vector<std::string> NrxSentences(const TNrxMessage& message, int sequentialId);

// The checksum of a sentence: XOR of every byte between '$' and '*'.
unsigned NmeaChecksum(std::string_view body);

}  // namespace brontel
