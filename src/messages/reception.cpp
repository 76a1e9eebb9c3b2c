#include "messages/reception.h"

#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <utility>

#include "messages/format.h"

namespace brontel::msg {

std::unique_ptr<TMessageReception> TMessageReception::Open(TReceptionOptions options, std::string& error)
{
  std::unique_ptr<TMessageStore> store =
      options.StorePath.empty() ? TMessageStore::InMemory(error)
                                : TMessageStore::Open(options.StorePath, TMessageStore::TMode::Create, error);
  if (!store) return nullptr;
  store->SetRepeatWindow(options.RepeatWindow);
  return std::unique_ptr<TMessageReception>(new TMessageReception(std::move(options), std::move(store)));
}

TMessageReception::TMessageReception(TReceptionOptions options, std::unique_ptr<TMessageStore> store)
    : Options(std::move(options)),
      Store(std::move(store)),
      Assembler([this](TMessage&& m) { Completed(std::move(m)); }, Options.Assembler),
      Adapter(Assembler)
{
}

void TMessageReception::Completed(TMessage&& m)
{
  TReceived r;
  if (Store->Add(m, r.Shown, r.Error)) {
    r.Stored = true;
  } else {
    ++Failures;
    if (r.Error.empty()) r.Error = "the store refused it";
    r.Shown = std::move(m);
    r.Shown.StoreId = 0;  // nothing is shown as stored that is not
  }
  if (!Persistent()) r.Shown.StoreId = 0;  // kept in memory only
  Ready.push_back(std::move(r));
}

void TMessageReception::Deliver()
{
  // Handed on one at a time: a handler may take long (an alert) without
  // another message overtaking it.
  std::vector<TReceived> ready;
  ready.swap(Ready);
  for (const TReceived& r : ready) {
    if (OnReceived) OnReceived(r);
    if (OnMessage) OnMessage(r.Shown);
  }
}

void TMessageReception::AfterBlock(double t, bool inSync, bool english)
{
  Adapter.AfterBlock(t, inSync, english);
  if (!Ready.empty()) Deliver();
}

void TMessageReception::Gap(double seconds)
{
  Adapter.Gap(seconds);
  if (!Ready.empty()) Deliver();
}

void TMessageReception::Finish(double t, std::string_view unfinished)
{
  Adapter.Finish(t, unfinished);
  Deliver();
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
