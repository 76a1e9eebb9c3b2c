// brontel-messages: lists, shows and exports the messages Brontel stored.
#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "decoder/cp932.h"
#include "messages/format.h"
#include "messages/store.h"
#include "tool_support.h"

namespace {

using namespace brontel::msg;
using namespace brontel::tool;

struct TArgs {
  std::string Store;
  bool Json = false;
  std::string Stations, Subjects, Since, Until, Grep;
  bool NewOnly = false;
  std::string Id;
  bool AllWithId = false;
  bool WithCopies = false;
};

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

std::string Upper(std::string s)
{
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// One line per message: time, identity, subject, error estimate, status, copies, the first line of text.
std::string ListLine(const TMessage& m)
{
  char cer[16];
  std::snprintf(cer, sizeof cer, "%5.1f %%", m.Cer * 100.0);
  std::string line = IsoTime(m.Start) + "  " + (m.HasHeader ? m.Id : std::string("----")) + "  ";
  std::string subject = m.Subject ? std::string(1, m.Subject) + " " + std::string(SubjectName(m.Subject)) : "-";
  subject.resize(24, ' ');
  std::string status(StatusName(StatusOf(m)));
  status.resize(13, ' ');
  line += subject + "  " + cer + "  " + status + "  " + std::to_string(m.Copies) + (m.Copies == 1 ? " copy  " : " copies");
  const std::string text = brontel::Cp932ToUtf8(m.Text);
  std::string first = text.substr(0, text.find('\n'));
  if (first.size() > 40) first = first.substr(0, 40) + "...";
  return line + "  " + first + "\n";
}

int Run(int argc, char** argv)
{
  TArgs a;
  CLI::App app{"Lists, shows and exports the NAVTEX messages Brontel stored (the best copy of each).",
               "brontel-messages"};
  SetUpApp(app);
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("--store", a.Store, "the message store (default $XDG_DATA_HOME/brontel/messages.sqlite)");
  app.add_flag("--json", a.Json, "JSON Lines, one object per message");

  auto filters = [&](CLI::App* sub) {
    sub->add_option("--station", a.Stations, "only these stations (B1 letters, e.g. K or KOT)");
    sub->add_option("--subject", a.Subjects, "only these subjects (B2 letters, e.g. D or ABL)");
    sub->add_option("--since", a.Since, "received at or after this UTC time (2026-12-07 or 2026-12-07T10:42Z)");
    sub->add_option("--until", a.Until, "received at or before this UTC time");
    sub->add_option("--grep", a.Grep, "only messages whose text contains this");
    sub->add_flag("--new", a.NewOnly, "only messages brontel-messages has not printed before");
  };
  CLI::App* list = app.add_subcommand("list", "one line per stored message");
  filters(list);
  CLI::App* show = app.add_subcommand("show", "the best copy of the message with this identity");
  show->add_option("ID", a.Id, "B1B2B3B4, e.g. OA12")->required();
  show->add_flag("--all", a.AllWithId, "every stored message with this identity, not just the newest");
  show->add_flag("--copies", a.WithCopies, "also every received copy");
  CLI::App* exp = app.add_subcommand("export", "the stored messages in full, as text or JSON Lines");
  filters(exp);

  if (const std::optional<int> status = ParseCommandLine(app, argc, argv)) return *status;

  TStoreFilter filter;
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
      return 2;
    }
    *out = t;
  }

  std::string error;
  std::string path = a.Store;
  if (path.empty()) path = DefaultStorePath(error);
  if (path.empty()) {
    std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
    return 1;
  }
  const auto store = TMessageStore::Open(path, TMessageStore::TMode::Existing, error);
  if (!store) {
    std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
    return 1;
  }

  std::vector<TMessage> messages;
  if (*show) {
    if (!store->Find(Upper(a.Id), messages, error)) {
      std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
      return 1;
    }
    if (messages.empty()) {
      std::fprintf(stderr, "brontel-messages: no stored message %s in %s\n", Upper(a.Id).c_str(), path.c_str());
      return 1;
    }
    if (!a.AllWithId) messages.resize(1);
  } else if (!store->List(filter, messages, error)) {
    std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
    return 1;
  }

  for (const TMessage& m : messages) {
    if (a.Json)
      Print(TMessageFormatter::JsonLine(m));
    else if (*list)
      Print(ListLine(m));
    else
      Print(TMessageFormatter::Text(m));
    if (*show && a.WithCopies) {
      std::vector<TMessage> copies;
      if (!store->Copies(m.StoreId, copies, error)) {
        std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
        return 1;
      }
      for (const TMessage& c : copies) {
        if (a.Json) {
          Print(TMessageFormatter::JsonLine(c));
        } else {
          Print("--- copy received ");
          Print(TMessageFormatter::Text(c));
        }
      }
    }
  }
  std::fflush(stdout);
  if (!store->MarkSeen(messages, error)) {
    std::fprintf(stderr, "brontel-messages: %s\n", error.c_str());
    return 1;
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
    return 1;
  }
}
