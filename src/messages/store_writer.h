// Storing messages without ever holding up reception: completed copies are
// handed to a writer thread through a bounded queue, a store locked by
// another program or a database that is away is waited for (with back-off)
// until it is free or back again, and what became of each copy comes back in
// the order the copies were handed in. Copies for a database server can wait
// in a spool file (see TSpool), so that they outlive a receiver stopped or
// killed while the database is away: the next writer of that store stores
// them first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "messages/message.h"
#include "messages/spool.h"
#include "messages/store.h"

namespace brontel::msg {

// How the writer waits for a store another program has locked, or for a
// database that is away or refuses (its connection is made again at each
// attempt). Each attempt waits up to BusyWait for a lock; then the writer
// sleeps FirstBackoff, doubling up to MaxBackoff, and tries again for as
// long as the run lasts.
struct TStoreRetry {
  double BusyWait = 1.0;        // seconds one attempt waits for the lock
  double FirstBackoff = 0.25;   // seconds between the first attempts
  double MaxBackoff = 5.0;      // the longest pause between attempts
  double NoticeEvery = 60.0;    // how often a store still busy is said again
  // At the end of a run (Drain): how long a busy store is still waited for
  // before the copies waiting for it fail; within the 90 s a service
  // manager gives a program to stop, so that the failures are still said.
  double DrainPatience = 60.0;
  // The same with a spool: what still waits then stays in the spool for the
  // next run, so the end of a run waits less.
  double SpoolPatience = 5.0;
};

struct TStoreWriterOptions {
  double RepeatWindow = DefaultRepeatWindow;
  // Copies waiting to be stored. While this many wait, a copy handed in is
  // not stored (its outcome says why) and the refusals are counted and said.
  // 4096 copies hold days of reception from every station in range.
  std::size_t QueueLimit = 4096;
  TStoreRetry Retry;
  // For a store on a database server: the spool file where every copy waits
  // until the database has it (empty: copies wait in memory only). Ignored
  // for a store in a file.
  std::string SpoolPath;
  // What the writer has to say: a busy store and how many copies wait, the
  // store free again, copies refused. Called on any thread.
  std::function<void(const std::string&)> OnNotice;
  // An outcome is ready; called on the writer thread (a front end wakes its
  // own thread, e.g. posts a Qt event, and calls TakeOutcomes there).
  std::function<void()> OnOutcome;
};

// What became of one submitted copy.
struct TStoreOutcome {
  TMessage Shown;       // the message to show: the copy, or the stored message merged with it (Repeat, Copies set)
  bool Stored = false;  // committed to the store (StoreId is 0 for a store in memory)
  std::string Error;    // why not (empty when stored)
};

class TStoreWriter {
public:
  // Opens the store for writing (creates it when missing; an empty path: a
  // store in memory, for a run that keeps nothing but still recognises
  // repeats) on the calling thread, so that a store that cannot be written
  // is refused at once: null with `error` set. A database server that
  // cannot be reached yet is no refusal: said through OnNotice, and the
  // copies wait for it as for a busy store. The spool is opened too (a
  // spool that cannot be used is refused as well), and the copies an earlier
  // run left in it for this store are stored before any other.
  static std::unique_ptr<TStoreWriter> Open(const std::string& path, TStoreWriterOptions options,
                                            std::string& error);
  // Drains (see Drain), then stops the writer thread.
  ~TStoreWriter();
  TStoreWriter(const TStoreWriter&) = delete;
  TStoreWriter& operator=(const TStoreWriter&) = delete;

  // Hands a completed copy to the writer thread; never waits for the store.
  void Submit(TMessage copy);
  // Outcomes ready since the last call, in the order of submission.
  std::vector<TStoreOutcome> TakeOutcomes();
  // End of a run: waits until every submitted copy (and every copy from the
  // spool) is stored or has failed for good; a busy store is waited for up
  // to Retry.DrainPatience (Retry.SpoolPatience with a spool, whose copies
  // then stay in the spool and are no failure), said through OnNotice.
  // Returns the outcomes not yet taken.
  std::vector<TStoreOutcome> Drain();
  // Copies that could not be stored so far (each also reported in its outcome).
  int Failures() const;
  // The spool file in use (empty: none).
  std::string SpoolPath() const;

private:
  struct TJob {
    TMessage Copy;
    std::string Refused;  // set: not to be stored, for this reason
    std::string Key;      // the copy's own key, so that a copy offered again is stored once
    int64_t SpoolId = 0;  // its place in the spool (0: not in it)
    bool Owed = true;     // handed in by Submit: its outcome is owed (else it came from the spool)
  };
  using TClock = std::chrono::steady_clock;

  TStoreWriter(std::unique_ptr<TMessageStore> store, std::unique_ptr<TSpool> spool, bool inMemory,
               TStoreWriterOptions options);
  void Run();
  // Takes the copies handed in into the spool and behind the held ones.
  void TakeJobs();
  // Stores held copies while the store takes them; returns when none is
  // held or the first must wait until RetryAt.
  void Work();
  // One attempt at the first held copy; false when the store is busy.
  bool Attempt();
  // Drain's patience ran out (said when `say`): every held copy gets its
  // outcome, and those from the spool stay there.
  void GiveUp(bool say);
  // The first held copy is done with: its outcome, when owed, is handed on
  // (and counted as a failure when `failure`).
  void Finish(TStoreOutcome out, bool failure);
  double Patience() const;
  std::string NewKey();
  void Notice(const std::string& text) const;
  double Since(TClock::time_point t) const;

  const TStoreWriterOptions Options;
  const std::unique_ptr<TMessageStore> Db;
  const std::unique_ptr<TSpool> Spool;
  const bool InMemory;

  mutable std::mutex M;
  std::condition_variable Wake;  // the writer: work, Drain or stop
  std::condition_variable Idle;  // Drain: nothing queued or held
  std::deque<TJob> Jobs;
  std::vector<TStoreOutcome> Ready;
  std::size_t Waiting = 0;       // copies to be stored, queued or held
  std::size_t HeldCount = 0;     // copies the writer holds (Held's size)
  bool Draining = false;
  bool GivenUp = false;          // Drain's patience ran out
  bool Stopping = false;
  TClock::time_point DrainStart;
  int FailureCount = 0;
  int RefusedInEpisode = 0;      // copies refused since the store was last free

  uint64_t KeySeed[2] = {0, 0};  // keys: this writer's random start, then counted
  uint64_t KeyCount = 0;

  // Writer thread only: the copies taken from the queue (and the spool), in
  // order; the current spell of a busy store; the copies an earlier run
  // left in the spool still to be stored.
  std::deque<TJob> Held;
  bool Busy = false;
  double Backoff = 0.0;
  TClock::time_point BusySince, LastNotice, RetryAt;
  std::string LastError;  // why the store was last busy
  std::size_t Inherited = 0, InheritedStored = 0;
  bool SpoolTroubleSaid = false;

  std::thread Thread;
};

}  // namespace brontel::msg
