// brontel-messages: lists, shows and exports the messages Brontel stored.
#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "decoder/cp932.h"
#include "messages/format.h"
#include "messages/store.h"
#include "stations/map_export.h"
#include "stations/resolver.h"
#include "tool_support.h"

namespace {

using namespace brontel::msg;
using namespace brontel::tool;

enum class TCommand { List, Show, Export };

struct TArgs {
  TCommand Command = TCommand::List;
  std::string Store;
  bool Json = false;
  std::optional<double> DoubtBelow;  // --mark-doubtful: bracket characters less sure than this
  std::string Stations, Subjects, Since, Until, Grep;
  bool NewOnly = false;
  std::string Id;
  bool AllWithId = false;
  bool WithCopies = false;
  std::string Position;  // where the listener is, for station names
  bool GeoJson = false, Gpx = false;
};

// The frequency a message was received on when the store does not say: the service's own, in kHz.
double DefaultKhz(const TMessage& m) { return m.Service == TService::Japanese ? 424.0 : 518.0; }

std::string Upper(std::string s)
{
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The longest start of UTF-8 `text` that fills at most `columns` columns of
// a terminal, cut between characters (East Asian wide characters take two).
std::string_view Columns(std::string_view text, std::size_t columns)
{
  std::size_t pos = 0, used = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t cp = len == 1 ? lead : lead & (0x3F >> (len - 1));
    for (std::size_t k = 1; k < len && pos + k < text.size(); ++k) cp = (cp << 6) | (text[pos + k] & 0x3F);
    const bool wide = cp >= 0x1100 && !(cp >= 0xFF61 && cp <= 0xFF9F);  // half-width katakana are narrow
    if (pos + len > text.size() || used + (wide ? 2 : 1) > columns) break;
    used += wide ? 2 : 1;
    pos += len;
  }
  return text.substr(0, pos);
}

// One line per message: time, identity, subject, error estimate, status, copies, the first line of text.
std::string ListLine(const TMessage& m, std::optional<double> doubtBelow)
{
  char cer[16];
  std::snprintf(cer, sizeof cer, "%5.1f %%", m.Cer * 100.0);
  std::string line = IsoTime(m.Start) + "  " + (m.HasHeader ? m.Id : std::string("----")) + "  ";
  std::string subject = m.Subject ? std::string(1, m.Subject) + " " + std::string(SubjectName(m.Subject)) : "-";
  subject.resize(24, ' ');
  std::string status(StatusName(StatusOf(m)));
  status.resize(13, ' ');
  line += subject + "  " + cer + "  " + status + "  " + std::to_string(m.Copies) + (m.Copies == 1 ? " copy  " : " copies");
  const std::string text = brontel::Cp932ToUtf8(doubtBelow ? MarkDoubt(m.Text, m.Confidence, *doubtBelow) : m.Text);
  const std::string_view first = std::string_view(text).substr(0, text.find('\n'));
  const std::string_view shown = Columns(first, 40);
  return line + "  " + std::string(shown) + (shown.size() < first.size() ? "..." : "") + "\n";
}

// " by RECEIVER on FREQUENCY kHz", as far as they are known.
std::string From(const TMessage& c)
{
  std::string from = c.Receiver.empty() ? "" : " by " + c.Receiver;
  if (c.Frequency) {
    char khz[32];
    std::snprintf(khz, sizeof khz, " on %g kHz", *c.Frequency);
    from += khz;
  }
  return from;
}

// An option value that may not be empty (an empty one would quietly switch the option off).
CLI::Validator NonEmpty()
{
  return CLI::Validator([](std::string& text) { return text.empty() ? std::string("needs a value") : std::string(); },
                        "");
}

std::optional<int> ParseArgs(int argc, char** argv, TArgs& a)
{
  CLI::App app{"Lists, shows and exports the NAVTEX messages Brontel stored (the best copy of each).",
               "brontel-messages"};
  SetUpApp(app);
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("--store", a.Store,
                 "the message store: an SQLite file (default $XDG_DATA_HOME/brontel/messages.sqlite)\n"
                 "or a PostgreSQL database (postgresql://USER@HOST/DATABASE)")
      ->check(NonEmpty());
  app.add_flag("--json", a.Json, "JSON Lines, one object per message (with each character's confidence)");
  bool markDoubtful = false;
  double doubtBelow = DefaultDoubtBelow;
  CLI::Option* mark =
      app.add_flag("--mark-doubtful", markDoubtful,
                   "put [ ] around characters the decoder was not sure of (confidence\n"
                   "below --doubt-below); messages from the exact path have no confidences")
          ->excludes("--json");
  app.add_option("--doubt-below", doubtBelow, "the confidence, 0 to 1, below which --mark-doubtful marks a character (default 0.9)")
      ->type_name("P")
      ->check(CLI::Range(0.0, 1.0))
      ->needs(mark);
  app.add_option("--position", a.Position,
                 "where the listener is, for station names: LAT,LON in decimal degrees,\n"
                 "a position as in messages (50-35N 001-18W) or a NAVAREA (XI)")
      ->type_name("WHERE")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            brontel::stations::TListener listener;
            std::string error;
            return brontel::stations::ParseListener(text, listener, error) ? "" : error;
          },
          ""));

  auto filters = [&](CLI::App* sub) {
    sub->add_option("--station", a.Stations, "only these stations (B1 letters, e.g. K or KOT)")->check(NonEmpty());
    sub->add_option("--subject", a.Subjects, "only these subjects (B2 letters, e.g. D or ABL)")->check(NonEmpty());
    sub->add_option("--since", a.Since, "received at or after this UTC time (2026-12-07 or 2026-12-07T10:42Z)")
        ->check(NonEmpty());
    sub->add_option("--until", a.Until, "received at or before this UTC time")->check(NonEmpty());
    sub->add_option("--grep", a.Grep, "only messages whose text contains this")->check(NonEmpty());
    sub->add_flag("--new", a.NewOnly, "only messages not printed by an earlier --new, which are then marked printed");
  };
  CLI::App* list = app.add_subcommand("list", "one line per stored message");
  filters(list);
  CLI::App* show = app.add_subcommand("show", "the best copy of the message with this identity");
  show->add_option("ID", a.Id, "B1B2B3B4, e.g. OA12")->required();
  show->add_flag("--all", a.AllWithId, "every stored message with this identity, not just the newest");
  show->add_flag("--copies", a.WithCopies, "also every received copy");
  CLI::App* exp = app.add_subcommand("export", "the stored messages in full, as text, JSON Lines, GeoJSON or GPX");
  filters(exp);
  auto* geojson = exp->add_flag("--geojson", a.GeoJson,
                                "the messages with positions as a GeoJSON FeatureCollection (a point or\n"
                                "points per message) for chart and map programs");
  exp->add_flag("--gpx", a.Gpx, "the positions as GPX 1.1 waypoints (OpenCPN and chart plotters import GPX)")
      ->excludes(geojson);

  if (const std::optional<int> status = ParseCommandLine(app, argc, argv)) return status;
  if (markDoubtful) a.DoubtBelow = doubtBelow;
  a.Command = *show ? TCommand::Show : *exp ? TCommand::Export : TCommand::List;
  return std::nullopt;
}

bool Filter(const TArgs& a, TStoreFilter& filter)
{
  filter.Stations = Upper(a.Stations);
  filter.Subjects = Upper(a.Subjects);
  filter.Grep = a.Grep;
  filter.NewOnly = a.NewOnly;
  for (auto [text, out, name] : {std::tuple{&a.Since, &filter.Since, "--since"}, std::tuple{&a.Until, &filter.Until, "--until"}}) {
    if (text->empty()) continue;
    double t = 0;
    if (!ParseIsoTime(*text, t)) {
      std::fprintf(stderr, "brontel-messages: %s takes a UTC time such as 2026-12-07 or 2026-12-07T10:42:05Z, not '%s'\n",
                   name, text->c_str());
      return false;
    }
    *out = t;
  }
  return true;
}

// The messages the command prints; false (said on standard error) when there are none to show or the store fails.
bool Select(TMessageStore& store, const TArgs& a, const TStoreFilter& filter, const std::string& path,
            std::vector<TMessage>& messages)
{
  std::string error;
  if (a.Command != TCommand::Show) {
    if (store.List(filter, messages, error)) return true;
  } else if (store.Find(Upper(a.Id), messages, error)) {
    if (!messages.empty()) {
      if (!a.AllWithId) messages.resize(1);
      return true;
    }
    error = "no stored message " + Upper(a.Id) + " in " + ShownLocation(path);
  }
  std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
  return false;
}

// Prints the messages (with their copies for show --copies) to standard output.
bool Print(TMessageStore& store, const TArgs& a, const std::vector<TMessage>& messages,
           const brontel::stations::TStationResolver& names)
{
  auto put = [](const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); };
  const auto json = [&](const TMessage& m) {
    return TMessageFormatter::JsonLine(m, brontel::stations::JsonExtras(m, names, DefaultKhz(m)));
  };
  if (a.GeoJson || a.Gpx) {
    std::vector<brontel::stations::TMapItem> items;
    for (const TMessage& m : messages) {
      const brontel::stations::TStation* s =
          m.Station ? names.Find(m.Station, m.Frequency.value_or(DefaultKhz(m)), m.Start) : nullptr;
      items.push_back(brontel::stations::MapItem(m, s ? s->Name : std::string(m.Station ? 1 : 0, m.Station)));
    }
    put(a.GeoJson ? brontel::stations::GeoJson(items) : brontel::stations::Gpx(items));
    return true;
  }
  for (const TMessage& m : messages) {
    put(a.Json                        ? json(m)
        : a.Command == TCommand::List ? ListLine(m, a.DoubtBelow)
                                      : TMessageFormatter::Text(m, true, false, a.DoubtBelow));
    if (a.Command != TCommand::Show || !a.WithCopies) continue;
    std::vector<TMessage> copies;
    std::string error;
    if (!store.Copies(m.StoreId, copies, error)) {
      std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
      return false;
    }
    for (const TMessage& c : copies)
      put(a.Json ? json(c)
                 : "--- copy received" + From(c) + " " + TMessageFormatter::Text(c, true, false, a.DoubtBelow));
  }
  return true;
}

int Run(int argc, char** argv)
{
  TArgs a;
  if (const std::optional<int> status = ParseArgs(argc, argv, a)) return *status;
  TStoreFilter filter;
  if (!Filter(a, filter)) return ExitUsage;

  std::string error;
  const std::string path = a.Store.empty() ? DefaultStorePath(error) : a.Store;
  if (path.empty()) {
    std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
    return ExitFailure;
  }
  // Only --new writes to the store (what it printed is marked); everything else only reads.
  const auto mode = a.NewOnly ? TMessageStore::TMode::Existing : TMessageStore::TMode::Read;
  const auto store = TMessageStore::Open(path, mode, error);
  if (!store) {
    std::fprintf(stderr, "brontel-messages: %s%s\n", error.c_str(),
                 a.NewOnly ? " (--new marks what it prints; without it the store is only read)" : "");
    return ExitFailure;
  }
  // Station names: the station list and where the listener is (both optional).
  std::vector<brontel::stations::TStation> list;
  brontel::stations::TListener listener;
  if (const std::string file = brontel::stations::FindStationFile();
      !file.empty() && !brontel::stations::LoadStations(file, list, error))
    std::fprintf(stderr, "brontel-messages: %s (stations are shown by their letters)\n", error.c_str());
  if (!a.Position.empty()) (void)brontel::stations::ParseListener(a.Position, listener, error);  // checked when read
  const brontel::stations::TStationResolver names(std::move(list), listener);
  std::vector<TMessage> messages;
  if (!Select(*store, a, filter, path, messages) || !Print(*store, a, messages, names)) return ExitFailure;
  // Marked as printed only once the output is out: a failed write leaves them new.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "brontel-messages: cannot write the output: %s\n",
                 errno ? std::strerror(errno) : "write error");
    return ExitFailure;
  }
  if (a.NewOnly && !store->MarkSeen(messages, error)) {
    std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
    return ExitFailure;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv)
{
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brontel-messages: %s\n", e.what());
    return ExitFailure;
  }
}
