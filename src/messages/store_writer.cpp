#include "messages/store_writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <random>
#include <utility>

namespace brontel::msg {

namespace {

std::string Seconds(double s) { return std::to_string(std::lround(s)) + " s"; }

std::string CopiesWaiting(std::size_t n) { return std::to_string(n) + (n == 1 ? " copy" : " copies") + " waiting"; }

// A copy that was not stored, as it is shown.
TStoreOutcome NotStored(TMessage&& copy, std::string why)
{
  TStoreOutcome out;
  out.Shown = std::move(copy);
  out.Shown.Repeat = false;
  out.Shown.Copies = 1;
  out.Shown.StoreId = 0;
  out.Error = std::move(why);
  return out;
}

}  // namespace

std::unique_ptr<TStoreWriter> TStoreWriter::Open(const std::string& path, TStoreWriterOptions options,
                                                 std::string& error)
{
  error.clear();
  std::unique_ptr<TMessageStore> store = path.empty()
                                             ? TMessageStore::InMemory(error)
                                             : TMessageStore::Open(path, TMessageStore::TMode::Create, error, true);
  if (!store) return nullptr;
  if (!error.empty() && options.OnNotice)
    options.OnNotice("message store unavailable (" + error + "): copies wait until it is back");
  error.clear();
  store->SetRepeatWindow(options.RepeatWindow);
  store->SetBusyWait(options.Retry.BusyWait);
  return std::unique_ptr<TStoreWriter>(new TStoreWriter(std::move(store), path.empty(), std::move(options)));
}

TStoreWriter::TStoreWriter(std::unique_ptr<TMessageStore> store, bool inMemory, TStoreWriterOptions options)
    : Options(std::move(options)), Db(std::move(store)), InMemory(inMemory)
{
  std::random_device random;
  for (uint64_t& k : KeySeed) k = (uint64_t{random()} << 32) ^ random();
  Thread = std::thread([this] { Run(); });
}

TStoreWriter::~TStoreWriter()
{
  Drain();
  {
    std::lock_guard lock(M);
    Stopping = true;
  }
  Wake.notify_all();
  Thread.join();
}

void TStoreWriter::Submit(TMessage copy)
{
  std::unique_lock lock(M);
  if (Waiting >= Options.QueueLimit) {
    const std::string waiting = CopiesWaiting(Waiting);
    Jobs.push_back({std::move(copy), waiting + " for the message store already, the most kept", {}});
    const bool first = ++RefusedInEpisode == 1;
    lock.unlock();
    Wake.notify_all();
    if (first)
      Notice("message store: " + waiting + ", the most kept; copies received until it takes them are not stored");
    return;
  }
  ++Waiting;
  Jobs.push_back({std::move(copy), {}, Db->Remote() ? NewKey() : std::string()});
  lock.unlock();
  Wake.notify_all();
}

std::vector<TStoreOutcome> TStoreWriter::TakeOutcomes()
{
  std::lock_guard lock(M);
  return std::exchange(Ready, {});
}

std::vector<TStoreOutcome> TStoreWriter::Drain()
{
  std::unique_lock lock(M);
  Draining = true;
  DrainStart = TClock::now();
  Wake.notify_all();
  Idle.wait(lock, [this] { return Jobs.empty() && !Working; });
  Draining = false;
  GivenUp = false;
  return std::exchange(Ready, {});
}

int TStoreWriter::Failures() const
{
  std::lock_guard lock(M);
  return FailureCount;
}

void TStoreWriter::Run()
{
  std::unique_lock lock(M);
  for (;;) {
    Wake.wait(lock, [this] { return Stopping || !Jobs.empty(); });
    if (Jobs.empty()) return;  // stopping with nothing left
    TJob job = std::move(Jobs.front());
    Jobs.pop_front();
    Working = true;
    lock.unlock();

    const bool refused = !job.Refused.empty();
    TStoreOutcome out;
    try {
      out = refused ? NotStored(std::move(job.Copy), std::move(job.Refused)) : Store(job.Copy, job.Key);
    } catch (const std::exception& e) {
      out = NotStored(std::move(job.Copy), e.what());
    }

    lock.lock();
    if (!refused) --Waiting;
    if (!out.Stored) ++FailureCount;
    Ready.push_back(std::move(out));
    // The front end hears of the outcome before Drain may return, so that a
    // run's end never races its last notification.
    if (Options.OnOutcome) {
      lock.unlock();
      Options.OnOutcome();
      lock.lock();
    }
    Working = false;
    Idle.notify_all();
  }
}

// A key no other copy has: this writer's random 128 bits and a count.
std::string TStoreWriter::NewKey()
{
  char key[64];
  std::snprintf(key, sizeof key, "%016llx%016llx-%llx", static_cast<unsigned long long>(KeySeed[0]),
                static_cast<unsigned long long>(KeySeed[1]), static_cast<unsigned long long>(KeyCount++));
  return key;
}

TStoreOutcome TStoreWriter::Store(TMessage& copy, const std::string& key)
{
  const TStoreRetry& r = Options.Retry;
  // A file locked by another program is busy; a database server away or
  // refusing is unavailable.
  const std::string busyWord = Db->Remote() ? "unavailable" : "busy";
  double backoff = r.FirstBackoff;
  for (;;) {
    {
      std::lock_guard lock(M);
      if (GivenUp)
        return NotStored(std::move(copy), "the message store was still " + busyWord + " " +
                                              Seconds(r.DrainPatience) + " after the end of the run");
    }
    TStoreOutcome out;
    std::string error;
    bool busy = false;
    if (Db->Add(copy, key, out.Shown, error, busy)) {
      if (InMemory) out.Shown.StoreId = 0;
      out.Stored = true;
      if (Busy) {
        Busy = false;
        std::unique_lock lock(M);
        const std::size_t waiting = Waiting - 1;
        const int refused = std::exchange(RefusedInEpisode, 0);
        lock.unlock();
        Notice(std::string("message store ") + (Db->Remote() ? "back" : "free again") + " after " +
               Seconds(Since(BusySince)) + "; " + CopiesWaiting(waiting) +
               (refused ? "; " + std::to_string(refused) + " received while it was busy were not stored" : ""));
      }
      return out;
    }
    if (!busy) return NotStored(std::move(copy), std::move(error));

    std::unique_lock lock(M);
    const std::string waiting = CopiesWaiting(Waiting);
    if (Draining && Since(DrainStart) >= r.DrainPatience) {
      GivenUp = true;
      lock.unlock();
      Notice("message store still " + busyWord + " " + Seconds(r.DrainPatience) + " after the end of the run; " +
             waiting +
             " are not stored (" + error + ")");
      continue;
    }
    lock.unlock();
    if (!Busy) {
      Busy = true;
      BusySince = LastNotice = TClock::now();
      Notice("message store " + busyWord + " (" + error + "): " + waiting + ", waiting until it is " +
             (Db->Remote() ? "back" : "free"));
    } else if (Since(LastNotice) >= r.NoticeEvery) {
      LastNotice = TClock::now();
      Notice("message store still " + busyWord + " after " + Seconds(Since(BusySince)) + ": " + waiting);
    }
    Pause(backoff);
    backoff = std::min(2.0 * backoff, r.MaxBackoff);
  }
}

void TStoreWriter::Pause(double seconds)
{
  std::unique_lock lock(M);
  const bool wasDraining = Draining;
  Wake.wait_for(lock, std::chrono::duration<double>(std::max(seconds, 0.0)),
                [&] { return Stopping || Draining != wasDraining; });
}

void TStoreWriter::Notice(const std::string& text) const
{
  if (Options.OnNotice) Options.OnNotice(text);
}

double TStoreWriter::Since(TClock::time_point t) const
{
  return std::chrono::duration<double>(TClock::now() - t).count();
}

}  // namespace brontel::msg
