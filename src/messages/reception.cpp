#include "messages/reception.h"

#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <utility>

#include "messages/format.h"

namespace brontel::msg {

std::unique_ptr<TMessageReception> TMessageReception::Open(TReceptionOptions options, std::string& error)
{
  TStoreWriterOptions w;
  w.RepeatWindow = options.RepeatWindow;
  w.OnNotice = options.OnNotice;
  w.OnOutcome = options.OnOutcome;
  w.SpoolPath = options.SpoolPath;
  std::unique_ptr<TStoreWriter> writer = TStoreWriter::Open(options.StorePath, std::move(w), error);
  if (!writer) return nullptr;
  return std::unique_ptr<TMessageReception>(new TMessageReception(std::move(options), std::move(writer)));
}

TMessageReception::TMessageReception(TReceptionOptions options, std::unique_ptr<TStoreWriter> writer)
    : Options(std::move(options)),
      Writer(std::move(writer)),
      Assembler(
          [this](TMessage&& m) {
            if (Options.Select) m.Selected = Options.Select(m);
            Writer->Submit(std::move(m));
          },
          Options.Assembler),
      Adapter(Assembler)
{
}

void TMessageReception::Deliver(std::vector<TStoreOutcome> outcomes)
{
  // A handler may run an event loop (a modal box): outcomes arriving then
  // wait, so that none overtakes another.
  Delivering = true;
  for (TStoreOutcome& o : outcomes) {
    TReceived r{std::move(o.Shown), o.Stored, std::move(o.Error)};
    if (!r.Stored) {
      r.Shown.StoreId = 0;  // nothing is shown as stored that is not
      if (r.Error.empty()) r.Error = "the store refused it";
    }
    if (!Persistent()) r.Shown.StoreId = 0;  // kept in memory only
    if (OnReceived) OnReceived(r);
    if (OnMessage) OnMessage(r.Shown);
  }
  Delivering = false;
}

void TMessageReception::Poll()
{
  if (!Delivering) Deliver(Writer->TakeOutcomes());
}

void TMessageReception::AfterBlock(double t, bool inSync, bool english)
{
  Adapter.AfterBlock(t, inSync, english);
  Poll();
}

void TMessageReception::Gap(double seconds)
{
  Adapter.Gap(seconds);
  Poll();
}

void TMessageReception::Finish(double t, std::string_view unfinished, std::span<const float> confidence)
{
  Adapter.Finish(t, unfinished, confidence);
  Deliver(Writer->Drain());
}

bool RaisesAlert(const TMessage& m, std::string_view subjects)
{
  return !m.Repeat && m.HasHeader && m.Subject && subjects.find(m.Subject) != std::string_view::npos;
}

bool RecordingEpoch(const std::string& path, std::optional<std::string> startTime, double& epoch,
                    std::string& error)
{
  if (startTime) {
    if (ParseIsoTime(*startTime, epoch)) return true;
    error = "--start-time takes a UTC time such as 2026-12-07T10:42:05Z, not '" + *startTime + "'";
    return false;
  }
  struct stat st{};
  if (path != "-" && ::stat(path.c_str(), &st) == 0) {
    epoch = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
    return true;
  }
  using namespace std::chrono;
  epoch = duration<double>(system_clock::now().time_since_epoch()).count();
  return true;
}

}  // namespace brontel::msg
