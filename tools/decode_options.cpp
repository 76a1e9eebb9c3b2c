#include "decode_options.h"

#include <cstdio>

#include <bitset>

#include "messages/format.h"
#ifdef BRONTEL_HAVE_MQTT
#include "net/mqtt_feed.h"
#endif
#include "nmea/udp_sender.h"
#include "stations/resolver.h"
#include "stations/selection.h"
#include "tool_support.h"

namespace brontel::decode {

using namespace brontel::tool;

namespace {

// An option taking one value, or two separated by a comma (left, right).
CLI::Option* AddNumberPair(CLI::App& app, const std::string& name, std::vector<double>& values, double lo, double hi,
                           const std::string& help)
{
  auto* opt = app.add_option_function<std::string>(
      name, [&values, lo, hi](const std::string& text) { NumberPair(text, lo, hi, values); }, help);
  opt->check(CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        std::vector<double> v;
        if (NumberPair(text, lo, hi, v)) return {};
        return "takes one or two numbers (L,R) from " + std::to_string(static_cast<int>(lo)) + " to " +
               std::to_string(static_cast<int>(hi)) + ", not '" + text + "'";
      },
      ""));
  return opt;
}

// A check for options naming a file or a place: an empty value would
// silently switch the feature off.
CLI::Validator NotEmpty(const std::string& what)
{
  return CLI::Validator([what](std::string& text) { return text.empty() ? "needs " + what + ", not an empty value" : ""; },
                        "");
}

constexpr const char* Description =
    "Decodes NAVTEX (English 518 kHz and Japanese 424 kHz services) from a recording.\n"
    "FILE is any audio file libsndfile reads (WAV, FLAC, Ogg; any sample rate, mono or\n"
    "stereo; the left channel is decoded unless --channel says otherwise), or - for raw\n"
    "signed 16-bit little-endian stereo PCM at 44100 Hz on standard input.\n"
    "\n"
    "Every received line is printed as soon as it is finished, followed at the end of\n"
    "input by the unfinished line, if any; with --messages or --json, every completed\n"
    "message instead. SIGINT, SIGTERM and SIGHUP end any input cleanly: open messages\n"
    "are closed and stored. Bad options exit with status 2, input or output that fails\n"
    "with status 1.";

// FILE, --live and the raw formats; returns what says whether FILE is raw.
struct TInputOptions {
  CLI::Option* Live;
  CLI::Option* RawRate;
  CLI::Option* RawChannels;
  CLI::Option* RawFormat;
};

TInputOptions AddInputOptions(CLI::App& app, TDecodeOptions& o)
{
  TInputOptions in;
  app.add_option("FILE", o.Input, "the recording, or - for raw PCM on standard input")->type_name("FILE|-");
  in.Live = app.add_option("--live", o.Device,
                           "record from the sound server and decode until SIGINT, SIGTERM or\n"
                           "SIGHUP (DEVICE: a row of --list-devices or part of a name; default\n"
                           "the standard input device)")
                ->type_name("[DEVICE]")
                ->expected(0, 1);
  app.add_flag("--list-devices", o.ListDevices, "list the input devices (monitors included) and stop");
  in.RawRate = app.add_option("--raw-rate", o.Raw.Rate, "sample rate of raw input, Hz (default 44100)")
                   ->type_name("HZ")
                   ->check(CLI::Range(MinRawRate, MaxRawRate));
  in.RawChannels = app.add_option("--raw-channels", o.Raw.Channels, "channels of raw input, 1 or 2 (default 2)")
                       ->type_name("N")
                       ->check(CLI::IsMember({1, 2}));
  in.RawFormat = AddKeyword(app, "--raw-format", o.Raw.Sample,
                            {{"s16", TRawFormat::TSample::S16}, {"f32", TRawFormat::TSample::F32}},
                            "samples of raw input: s16 (16-bit integers, default) or f32\n"
                            "(32-bit floats, 1.0 full scale; NaN is silence, beyond ±1.0 is\n"
                            "clipped, both counted on standard error), little-endian; any\n"
                            "--raw-* option makes FILE raw as well")
                     ->type_name("FMT");
  return in;
}

void AddReceiverOptions(CLI::App& app, TDecodeOptions& o)
{
  AddNumberPair(app, "--centf", o.CentF, 200.0, 2000.0,
                "centre of the received tone pair, 200 to 2000 Hz (default 800;\n"
                "above 1500 Hz for recordings made in USB mode); L,R gives each\n"
                "channel its own with --channel both")
      ->type_name("HZ[,HZ]");
  AddKeyword(app, "--decoder", o.Decoder, {{"exact", TDecoderPath::Exact}, {"robust", TDecoderPath::Robust}},
             "exact (default): the phase discriminator chain; robust: the path for weak,\n"
             "fading and mistuned signals (soft decisions, error correction,\n"
             "synchronisation from the traffic, * or 〓 for a lost character)")
      ->type_name("PATH");
  AddKeyword(app, "--channel", o.Channels,
             {{"left", TChannels::Left}, {"right", TChannels::Right}, {"both", TChannels::Both}},
             "the input channel to decode: left (default), right, or both as\n"
             "two independent receivers (output lines marked L: and R:)")
      ->type_name("CH");
  AddNumberPair(app, "--frequency", o.FrequencyKhz, 10.0, 30000.0,
                "the receiver's frequency in kHz (490, 518 or 4209.5; L,R with\n"
                "--channel both), kept with every stored copy and in the\n"
                "published status, and reported in NRX sentences (there\n"
                "default 518 for English, none for Japanese)")
      ->type_name("KHZ[,KHZ]");
  app.add_option("--receiver", o.Receiver,
                 "this receiver's name, kept with every copy it stores and\n"
                 "published (default: the host name), so that a shared store\n"
                 "tells who heard what")
      ->type_name("NAME")
      ->check(NotEmpty("a name"));
  app.add_option("--nrx-frequency-index", o.NrxFrequencyIndex,
                 "the frequency index NRX sentences carry, 0 to 9, instead of the\n"
                 "one --frequency gives (0 for 424 kHz, which has no index)")
      ->type_name("N")
      ->check(CLI::Range(0, 9));
}

// A check that refuses an option this build cannot serve.
CLI::Validator NeedsMqtt()
{
  return CLI::Validator(
      [](std::string&) -> std::string {
        return HaveMqtt ? "" : "not available: this brontel-decode was built without libmosquitto";
      },
      "");
}

void AddMqttOptions(CLI::App& app, TDecodeOptions& o)
{
  app.add_option("--mqtt", o.Mqtt,
                 "publish every new message (PREFIX/message/B1B2B3B4) and repeat\n"
                 "(PREFIX/repeat/...) as JSON, and the receiver's status\n"
                 "(PREFIX/status, retained), to this MQTT broker: HOST[:PORT],\n"
                 "mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS); a broker that is\n"
                 "away is reconnected to, the messages meanwhile kept in order")
      ->type_name("BROKER")
      ->check(NeedsMqtt())
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
#ifdef BRONTEL_HAVE_MQTT
            net::TBrokerAddress address;
            std::string error;
            return net::ParseBrokerAddress(text, address, error) ? "" : error;
#else
            (void)text;
            return "";
#endif
          },
          ""));
  app.add_option("--mqtt-topic", o.MqttTopic, "the topic prefix of --mqtt (default brontel)")
      ->type_name("PREFIX")
      ->check(NotEmpty("a topic prefix"));
  app.add_option("--mqtt-credentials", o.MqttCredentials,
                 "a file with the broker's user name on its first line and the\n"
                 "password on the second")
      ->type_name("FILE")
      ->check(NeedsMqtt())
      ->check(NotEmpty("a file name"));
  app.add_option("--mqtt-ca", o.MqttCa,
                 "connect with TLS and check the broker's certificate against this\n"
                 "CA file (PEM) instead of the system's")
      ->type_name("FILE")
      ->check(NeedsMqtt())
      ->check(NotEmpty("a file name"));
}

void AddOutputOptions(CLI::App& app, TDecodeOptions& o)
{
  AddKeyword(app, "--encoding", o.Encoding,
             {{"utf8", TEncoding::Utf8}, {"cp932", TEncoding::Cp932}, {"utf-8", TEncoding::Utf8},
              {"sjis", TEncoding::Cp932}, {"shift_jis", TEncoding::Cp932}},
             "text encoding of the output: utf8 (default) or cp932 (the\n"
             "received Shift_JIS bytes unconverted)")
      ->type_name("ENC");
  app.add_flag("--status", o.Status,
               "also report changes of mode (ENG/JPN), polarity (POS/NEG) and\n"
               "synchronisation on standard error, stamped with the time in the\n"
               "input at the end of the block that brought them; with the robust\n"
               "path also its signal, tuning offset and signal-to-noise ratio\n"
               "when they change");
  app.add_flag("--bits", o.Bits,
               "instead of text, one line per 0.1 s block: block index, number\n"
               "of bits, the bits (0/1) of the exact path");
  app.add_flag("--messages", o.Messages,
               "print each completed message (ZCZC ... NNNN) with a header line:\n"
               "time, identity, station, subject, serial, error estimate, status");
  app.add_flag("--json", o.Json,
               "print each completed message as one JSON object per line (with\n"
               "each character's confidence on the robust path)");
  CLI::Option* mark = app.add_flag("--mark-doubtful", o.MarkDoubtful,
                                   "with --messages, put [ ] around characters the robust path was\n"
                                   "not sure of (confidence below --doubt-below)");
  app.add_option("--doubt-below", o.DoubtBelow,
                 "the confidence, 0 to 1, below which --mark-doubtful marks a\n"
                 "character (default 0.9)")
      ->type_name("P")
      ->check(CLI::Range(0.0, 1.0))
      ->needs(mark);
  app.add_option("--store", o.Store,
                 "keep the messages in this message store, where repeats are\n"
                 "recognised and repaired (brontel-messages reads it): an SQLite\n"
                 "file, or a PostgreSQL database that several receivers share\n"
                 "(postgresql://USER@HOST/DATABASE); without it a recording\n"
                 "stores nothing")
      ->type_name("FILE|URI")
      ->check(NotEmpty("a file name or a postgresql:// URI"));
  app.add_option("--spool", o.Spool,
                 "with a database store: the local file where copies wait, in\n"
                 "order, while the database is away, also across a restart\n"
                 "(default ~/.local/share/brontel/spool.sqlite)")
      ->type_name("FILE")
      ->check(NotEmpty("a file name"));
  app.add_option("--stations", o.Stations,
                 "receive only these stations (B1 letters, e.g. KEO; default all):\n"
                 "other messages are stored, marked outside the selection, and\n"
                 "neither printed nor sent on")
      ->type_name("LETTERS")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            std::bitset<26> letters;
            std::string error;
            return stations::ParseStations(text, letters, error) ? "" : error;
          },
          ""));
  app.add_option("--subjects", o.Subjects,
                 "receive only these subjects (B2 letters; A, B, D and L are\n"
                 "always received, and so is a message numbered 00)")
      ->type_name("LETTERS")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            std::bitset<26> letters;
            std::string error;
            return stations::ParseSubjects(text, letters, error) ? "" : error;
          },
          ""));
  app.add_option("--position", o.Position,
                 "where the listener is, for the station names in --json: LAT,LON in\n"
                 "decimal degrees, a position as in messages (50-35N 001-18W) or a\n"
                 "NAVAREA (XI)")
      ->type_name("WHERE")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            stations::TListener listener;
            std::string error;
            return stations::ParseListener(text, listener, error) ? "" : error;
          },
          ""));
  app.add_option("--start-time", o.StartTime,
                 "UTC at the start of the recording, e.g. 2026-12-07T10:42:05Z\n"
                 "(default: the file's modification time)")
      ->type_name("TIME")
      ->check(CLI::Validator(
          [](std::string& t) -> std::string {
            double utc = 0.0;
            return msg::ParseIsoTime(t, utc) ? "" : "takes a UTC time such as 2026-12-07T10:42:05Z, not '" + t + "'";
          },
          ""));
  app.add_option("--output", o.Output,
                 "append the text, messages or JSON to this file instead of\n"
                 "standard output, flushed line by line")
      ->type_name("FILE")
      ->check(NotEmpty("a file name"));
  app.add_option("--nmea-udp", o.NmeaUdp,
                 "send every new message as NMEA 0183 NRX sentences in UDP\n"
                 "datagrams to HOST:PORT (chart plotters, navigation programs;\n"
                 "a broadcast address reaches every one on the network)")
      ->type_name("HOST:PORT")
      ->check(NotEmpty("HOST:PORT"))
      ->check(CLI::Validator(
          [](std::string& destination) -> std::string {
            std::string host, port, error;
            return SplitUdpDestination(destination, host, port, error) ? "" : error;
          },
          ""));
  AddMqttOptions(app, o);
  app.add_option("--snapshot", o.SnapshotDir,
                 "also run the displays and after the last block write them as\n"
                 "DIR/spectrum.png (spectrum and waterfall, 256x145) and\n"
                 "DIR/eye.png (eye pattern with the POS/NEG and JPN/ENG labels,\n"
                 "180x145); DIR is created if needed. Drawn with QtGui\n"
                 "(offscreen); a build without the GUI refuses this option")
      ->type_name("DIR")
      ->check(CLI::Validator(
          [](std::string& dir) -> std::string {
            if (!HaveSnapshot)
              return "not available: this brontel-decode was built without the GUI (-DBUILD_GUI=OFF), "
                     "which draws the labels and writes the PNG files";
            return dir.empty() ? "needs a directory" : "";
          },
          ""));
}

// Options that cannot go together; the exit status when they are given so.
std::optional<int> CheckCombinations(const TDecodeOptions& o)
{
  auto refuse = [](const char* why) {
    std::fprintf(stderr, "brontel-decode: %s\n", why);
    return std::optional<int>(ExitUsage);
  };
  if ((o.Live || o.ListDevices) && !HaveLive) return refuse("live capture is not available: built without the sound layer");
  if (o.ListDevices) return std::nullopt;
  if (o.Live == !o.Input.empty())
    return refuse("give a FILE (or -) or --live, one of them\nRun 'brontel-decode --help' for the options.");
  if (o.Messages && o.Json) return refuse("--messages and --json cannot be combined");
  if (o.Bits && (o.Messages || o.Json)) return refuse("--bits prints bits, not messages");
  if (o.MarkDoubtful && !o.Messages)
    return refuse("--mark-doubtful marks the text of --messages (--json gives the confidences themselves)");
  if (o.Bits && !o.Mqtt.empty()) return refuse("--bits prints bits, it publishes no messages (--mqtt)");
  if (o.Mqtt.empty() && (!o.MqttCredentials.empty() || !o.MqttCa.empty()))
    return refuse("--mqtt-credentials and --mqtt-ca need --mqtt");
  return std::nullopt;
}

}  // namespace

bool NumberPair(const std::string& text, double lo, double hi, std::vector<double>& out)
{
  out.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    double v = 0.0;
    if (!ParseNumber(text.substr(start, comma - start), v) || !(v >= lo && v <= hi)) return false;
    out.push_back(v);
    if (comma == std::string::npos) return out.size() <= 2;
    start = comma + 1;
  }
}

std::optional<int> ParseOptions(int argc, char** argv, TDecodeOptions& o)
{
  CLI::App app(Description, "brontel-decode");
  SetUpApp(app);
  const TInputOptions in = AddInputOptions(app, o);
  AddReceiverOptions(app, o);
  AddOutputOptions(app, o);
  if (const std::optional<int> status = ParseCommandLine(app, argc, argv)) return status;
  o.Live = in.Live->count() > 0;
  o.RawFile = in.RawRate->count() > 0 || in.RawChannels->count() > 0 || in.RawFormat->count() > 0;
  return CheckCombinations(o);
}

}  // namespace brontel::decode
