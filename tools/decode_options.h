// brontel-decode's command line: what it sets, and how it is read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "io/block_source.h"
#include "messages/message.h"
#include "session/receiver_session.h"

namespace brontel::decode {

enum class TEncoding { Utf8, Cp932 };
enum class TChannels { Left, Right, Both };

// Everything the command line sets.
struct TDecodeOptions {
  std::string Input;  // a file, or "-" for raw PCM on standard input
  std::vector<double> CentF{800.0};  // the left channel's centre (and the right's)
  TEncoding Encoding = TEncoding::Utf8;
  bool Status = false;
  bool Bits = false;
  std::string SnapshotDir;  // empty: no displays
  TDecoderPath Decoder = TDecoderPath::Exact;
  TChannels Channels = TChannels::Left;
  bool Messages = false;    // print completed messages as text
  bool Json = false;        // print completed messages as JSON Lines
  bool MarkDoubtful = false;  // bracket the characters of --messages less sure than DoubtBelow
  double DoubtBelow = msg::DefaultDoubtBelow;
  std::string Store;        // store messages in this file or database (postgresql://...)
  std::string Spool;        // where copies wait for an unavailable database (empty: the default one)
  std::string Receiver;     // this receiver's name on every copy (empty: the host name)
  std::string StartTime;    // UTC at the start of the recording
  std::string Output;       // write the text or messages to this file (appended)
  std::string NmeaUdp;      // send NRX sentences to HOST:PORT
  std::vector<double> FrequencyKhz;  // the receiver's frequency for each channel (copies, NRX, MQTT)
  int NrxFrequencyIndex = -1;  // sent instead of the one the frequency gives (negative: none)
  TRawFormat Raw;           // the format of raw input
  bool RawFile = false;     // FILE is raw samples too (any --raw-* option given)
  bool Live = false;        // record from the sound server instead of reading FILE
  std::string Device;       // the input device of --live (empty: the standard input device)
  bool ListDevices = false;
  std::string Stations = "*";  // the selection: station letters (B1) received
  std::string Subjects = "*";  // and subjects (B2); A, B, D and L always
  std::string Position;        // where the listener is, for station names (empty: not given)
  std::string Mqtt;             // publish messages and status to this broker (empty: none)
  std::string MqttTopic = "brontel";
  std::string MqttCredentials;  // a file with the user name and password
  std::string MqttCa;           // TLS: the CA file the broker's certificate is checked against

  // Whether messages are assembled at all.
  bool WantsMessages() const
  {
    return !Bits && (Messages || Json || !Store.empty() || !NmeaUdp.empty() || !Mqtt.empty());
  }
};

#ifdef BRONTEL_HAVE_LIVE
inline constexpr bool HaveLive = true;
#else
inline constexpr bool HaveLive = false;
#endif

#ifdef BRONTEL_HAVE_MQTT
inline constexpr bool HaveMqtt = true;
#else
inline constexpr bool HaveMqtt = false;
#endif

#ifdef BRONTEL_HAVE_QT_TEXT
inline constexpr bool HaveSnapshot = true;
#else
inline constexpr bool HaveSnapshot = false;
#endif

// Fills `o` from the command line; returns the exit status when the program
// should stop (after --help, or ExitUsage with the reason on standard error
// for a bad option or combination).
std::optional<int> ParseOptions(int argc, char** argv, TDecodeOptions& o);

// The numbers of "A" or "A,B", each from lo to hi; false for anything else.
bool NumberPair(const std::string& text, double lo, double hi, std::vector<double>& out);

}  // namespace brontel::decode
