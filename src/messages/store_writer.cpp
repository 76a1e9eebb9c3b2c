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

std::string Copies(std::size_t n) { return std::to_string(n) + (n == 1 ? " copy" : " copies"); }
std::string CopiesWaiting(std::size_t n) { return Copies(n) + " waiting"; }
std::string CopiesKept(std::size_t n) { return Copies(n) + " kept"; }

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
  const std::string unavailable = std::exchange(error, {});
  std::unique_ptr<TSpool> spool;
  if (store->Remote() && !options.SpoolPath.empty() && !(spool = TSpool::Open(options.SpoolPath, path, error)))
    return nullptr;
  if (!unavailable.empty() && options.OnNotice)
    options.OnNotice("message store unavailable (" + unavailable + "): copies wait until it is back");
  store->SetRepeatWindow(options.RepeatWindow);
  store->SetBusyWait(options.Retry.BusyWait);
  return std::unique_ptr<TStoreWriter>(
      new TStoreWriter(std::move(store), std::move(spool), path.empty(), std::move(options)));
}

TStoreWriter::TStoreWriter(std::unique_ptr<TMessageStore> store, std::unique_ptr<TSpool> spool, bool inMemory,
                           TStoreWriterOptions options)
    : Options(std::move(options)), Db(std::move(store)), Spool(std::move(spool)), InMemory(inMemory)
{
  std::random_device random;
  for (uint64_t& k : KeySeed) k = (uint64_t{random()} << 32) ^ random();
  Backoff = Options.Retry.FirstBackoff;
  if (Spool) {
    // What an earlier run (or another receiver sharing the spool) left for
    // this store goes first.
    std::vector<TSpooled> kept;
    int unreadable = 0;
    std::string error;
    if (!Spool->Waiting(kept, unreadable, error)) Notice(error);
    if (unreadable)
      Notice(std::to_string(unreadable) + " entries of the spool " + Spool->Path() +
             " cannot be read back; they were left there");
    for (TSpooled& e : kept) Held.push_back({std::move(e.Copy), {}, std::move(e.Key), e.Id, false});
    Inherited = Waiting = HeldCount = Held.size();
    if (Inherited)
      Notice(CopiesKept(Inherited) + " in the spool " + Spool->Path() + " by an earlier run: stored first");
  }
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
    Jobs.push_back({std::move(copy), waiting + " for the message store already, the most kept", {}, 0, true});
    const bool first = ++RefusedInEpisode == 1;
    lock.unlock();
    Wake.notify_all();
    if (first)
      Notice("message store: " + waiting + ", the most kept; copies received until it takes them are not stored");
    return;
  }
  ++Waiting;
  Jobs.push_back({std::move(copy), {}, Db->Remote() ? NewKey() : std::string(), 0, true});
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
  Idle.wait(lock, [this] { return Jobs.empty() && HeldCount == 0; });
  Draining = false;
  GivenUp = false;
  return std::exchange(Ready, {});
}

int TStoreWriter::Failures() const
{
  std::lock_guard lock(M);
  return FailureCount;
}

std::string TStoreWriter::SpoolPath() const { return Spool ? Spool->Path() : std::string(); }

double TStoreWriter::Patience() const { return Spool ? Options.Retry.SpoolPatience : Options.Retry.DrainPatience; }

void TStoreWriter::Run()
{
  std::unique_lock lock(M);
  for (;;) {
    const bool wasDraining = Draining;
    const auto woken = [&] { return Stopping || !Jobs.empty() || Draining != wasDraining; };
    if (Held.empty()) {
      Wake.wait(lock, woken);
    } else {
      // The first held copy waits for the store: until its next attempt, or
      // until Drain's patience runs out.
      TClock::time_point until = RetryAt;
      if (Draining)
        until = std::min(until, DrainStart + std::chrono::duration_cast<TClock::duration>(
                                                 std::chrono::duration<double>(Patience())));
      Wake.wait_until(lock, until, woken);
    }
    const bool stopping = Stopping;
    lock.unlock();
    if (stopping) {
      // Only copies handed in after the last Drain are left: not waited for.
      TakeJobs();
      GiveUp(false);
      return;
    }
    Work();
    lock.lock();
  }
}

void TStoreWriter::TakeJobs()
{
  std::deque<TJob> taken;
  {
    std::lock_guard lock(M);
    taken.swap(Jobs);
    HeldCount += taken.size();
  }
  for (TJob& job : taken) {
    // Into the spool before the store sees it: from now on a stop or a
    // crash leaves it for the next run.
    if (Spool && job.Refused.empty()) {
      std::string error;
      if (Spool->Add(job.Copy, job.Key, job.SpoolId, error)) {
        SpoolTroubleSaid = false;
      } else if (!SpoolTroubleSaid) {
        SpoolTroubleSaid = true;
        Notice(error + ": copies wait in memory only");
      }
    }
    Held.push_back(std::move(job));
  }
}

void TStoreWriter::Work()
{
  for (;;) {
    TakeJobs();
    if (Held.empty()) return;
    bool giveUp, say = false;
    {
      std::lock_guard lock(M);
      if (!GivenUp && Draining && Busy && Since(DrainStart) >= Patience()) GivenUp = say = true;
      giveUp = GivenUp;
    }
    if (giveUp) {
      GiveUp(say);
      return;
    }
    TJob& job = Held.front();
    if (!job.Refused.empty()) {
      Finish(NotStored(std::move(job.Copy), job.Refused), true);
      continue;
    }
    if (TClock::now() < RetryAt || !Attempt()) return;
  }
}

bool TStoreWriter::Attempt()
{
  TJob& job = Held.front();
  TStoreOutcome out;
  std::string error;
  bool busy = false, stored = false;
  try {
    stored = Db->Add(job.Copy, job.Key, out.Shown, error, busy);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (stored) {
    if (job.SpoolId) {
      // A copy left behind here is harmless: its key keeps it from being
      // stored twice when the next run offers it again.
      std::string trouble;
      if (!Spool->Remove(job.SpoolId, trouble) && !SpoolTroubleSaid) {
        SpoolTroubleSaid = true;
        Notice(trouble);
      }
    }
    if (InMemory) out.Shown.StoreId = 0;
    out.Stored = true;
    Backoff = Options.Retry.FirstBackoff;
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
    if (!job.Owed) {
      ++InheritedStored;
      if (--Inherited == 0) Notice(CopiesKept(InheritedStored) + " by an earlier run: stored");
    }
    Finish(std::move(out), false);
    return true;
  }
  if (!busy) {
    // Refused for good. In the spool it stays, for a later run to offer
    // again (a database whose rights or limits are set right then takes it).
    if (job.SpoolId) error += "; kept in the spool " + Spool->Path();
    if (!job.Owed) {
      --Inherited;
      Notice("a copy of " + (job.Copy.Id.empty() ? std::string("(no header)") : job.Copy.Id) +
             " kept by an earlier run is not stored: " + error);
    }
    Finish(NotStored(std::move(job.Copy), std::move(error)), true);
    return true;
  }

  // A file locked by another program is busy; a database server away or
  // refusing is unavailable.
  const TStoreRetry& r = Options.Retry;
  const std::string busyWord = Db->Remote() ? "unavailable" : "busy";
  LastError = error;
  std::unique_lock lock(M);
  const std::string waiting =
      CopiesWaiting(Waiting) + (Spool && job.SpoolId ? " in the spool " + Spool->Path() : std::string());
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
  RetryAt = TClock::now() + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(Backoff));
  Backoff = std::min(2.0 * Backoff, r.MaxBackoff);
  return false;
}

void TStoreWriter::GiveUp(bool say)
{
  const std::string busyWord = Db->Remote() ? "unavailable" : "busy";
  const std::string late = Seconds(Patience()) + " after the end of the run";
  std::size_t kept = 0, lost = 0;
  for (const TJob& job : Held)
    if (job.Refused.empty()) ++(job.SpoolId ? kept : lost);
  if (say) {
    std::string text = "message store still " + busyWord + " " + late + "; ";
    if (kept) text += CopiesKept(kept) + " in the spool " + Spool->Path() + " for the next run";
    if (kept && lost) text += ", ";
    if (lost) text += CopiesWaiting(lost) + " are not stored";
    Notice(text + " (" + LastError + ")");
  }
  while (!Held.empty()) {
    TJob& job = Held.front();
    if (!job.Refused.empty()) {
      Finish(NotStored(std::move(job.Copy), job.Refused), true);
    } else if (job.SpoolId) {
      // Safe on disk: no failure, only later.
      Finish(NotStored(std::move(job.Copy), "kept in the spool " + Spool->Path() + " until the message store is back"),
             false);
    } else {
      Finish(NotStored(std::move(job.Copy), "the message store was still " + busyWord + " " + late), true);
    }
  }
}

void TStoreWriter::Finish(TStoreOutcome out, bool failure)
{
  const TJob job = std::move(Held.front());
  Held.pop_front();
  std::unique_lock lock(M);
  if (job.Refused.empty()) --Waiting;
  if (job.Owed) {
    if (failure) ++FailureCount;
    Ready.push_back(std::move(out));
    // The front end hears of the outcome before Drain may return, so that a
    // run's end never races its last notification.
    if (Options.OnOutcome) {
      lock.unlock();
      Options.OnOutcome();
      lock.lock();
    }
  }
  --HeldCount;
  Idle.notify_all();
}

// A key no other copy has: this writer's random 128 bits and a count.
std::string TStoreWriter::NewKey()
{
  char key[64];
  std::snprintf(key, sizeof key, "%016llx%016llx-%llx", static_cast<unsigned long long>(KeySeed[0]),
                static_cast<unsigned long long>(KeySeed[1]), static_cast<unsigned long long>(KeyCount++));
  return key;
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
