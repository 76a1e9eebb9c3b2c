// The text and JSON Lines forms of a message, shared by brontel-decode and
// brontel-messages, and the times they use.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messages/message.h"

namespace brontel::msg {

// What a program that knows the stations adds to a message's JSON.
struct TJsonExtras {
  std::optional<std::string> StationName;       // "station_name" (null when not known)
  std::vector<std::array<double, 2>> Positions;  // "positions": [lat, lon] in decimal degrees
};

struct TMessageFormatter {
  // A header line (time, identity, station, subject, serial, error estimate,
  // status), the text, and an empty line. `utf8` false keeps the text in code
  // page 932. `withChannel` names the input channel in the header line. With
  // `doubtBelow`, each run of characters whose confidence is below it is put
  // in square brackets (which neither service sends; see MarkDoubt).
  static std::string Text(const TMessage& m, bool utf8 = true, bool withChannel = false,
                          std::optional<double> doubtBelow = std::nullopt);
  // One JSON object on one line (ending in '\n') with the fields id, station,
  // subject, subject_name, serial, text, status, header_ok, trailer, chars,
  // erasures, suspicious, lost, cer, confidence (when known: for each
  // character of text in order, line ends not counted, the probability that
  // it is right, to three decimals), start, end, offset (recordings),
  // service, decoder, channel, receiver and frequency (when known), repeat,
  // copies and store_id (stored messages).
  static std::string JsonLine(const TMessage& m);
  // The same with station_name and positions after the station and the text.
  static std::string JsonLine(const TMessage& m, const TJsonExtras& extras);

private:
  static std::string JsonLine(const TMessage& m, const TJsonExtras* extras);
};

// UTC seconds since the epoch as 2026-12-07T10:42:05Z (whole seconds).
std::string IsoTime(double utc);

// Reads 2026-12-07, 2026-12-07T10:42, 2026-12-07T10:42:05 (a space may
// stand for the T; a final Z is allowed; all times are UTC). False if the
// text is not such a time.
bool ParseIsoTime(std::string_view text, double& utc);

}  // namespace brontel::msg
