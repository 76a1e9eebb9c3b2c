#include "messages/reception.h"

#include <chrono>
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
  TMessage shown;
  std::string error;
  if (!Store->Add(m, shown, error)) {
    ++Failures;
    std::fprintf(stderr, "brontel: message %s not stored: %s\n", m.Id.empty() ? "(no header)" : m.Id.c_str(),
                 error.c_str());
    shown = std::move(m);
  }
  if (Options.StorePath.empty()) shown.StoreId = 0;  // kept in memory only
  if (Options.Print != TPrint::None && Options.Out) {
    const std::string out = Options.Print == TPrint::Json ? TMessageFormatter::JsonLine(shown)
                                                          : TMessageFormatter::Text(shown, Options.Utf8);
    std::fwrite(out.data(), 1, out.size(), Options.Out);
    std::fflush(Options.Out);
  }
  if (OnMessage) OnMessage(shown);
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
