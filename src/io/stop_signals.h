// Ending a run cleanly on SIGINT, SIGTERM and SIGHUP, whatever its input: the
// signal only asks the input to stop; the input then ends as if it had run
// out (a read waiting on a pipe or a sound server returns), and the run
// finishes its work (open messages closed and stored) and exits normally.
#pragma once

#include <atomic>
#include <cerrno>

#include <signal.h>

namespace brontel {

class TStoppable;

// SIGINT, SIGTERM and SIGHUP ask `target` to stop. Each handler is reset to
// the default when it fires, so a second signal of the kind ends the program
// at once. Reads are not restarted after the signal, so a read waiting for
// input returns. The previous handlers come back with RemoveStopSignals or
// when `target` is destroyed. False, with errno set, when sigaction fails.
bool InstallStopSignals(TStoppable& target);
void RemoveStopSignals();
// The signal that asked for the stop last (0: none).
int StopSignal();

// Something a stop signal can end. RequestStop is async-signal-safe.
class TStoppable {
public:
  TStoppable() = default;
  TStoppable(const TStoppable&) = delete;
  TStoppable& operator=(const TStoppable&) = delete;
  virtual ~TStoppable();

  void RequestStop() noexcept { StopFlag.store(true, std::memory_order_relaxed); }
  bool StopRequested() const noexcept { return StopFlag.load(std::memory_order_relaxed); }

private:
  std::atomic<bool> StopFlag{false};
};

namespace stop_detail {

inline std::atomic<TStoppable*> Target{nullptr};
inline std::atomic<int> Signal{0};
inline constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};
inline struct sigaction Saved[3]{};
inline bool Installed = false;
static_assert(std::atomic<TStoppable*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

inline void OnSignal(int signal)
{
  Signal.store(signal, std::memory_order_relaxed);
  if (TStoppable* t = Target.load()) t->RequestStop();
}

}  // namespace stop_detail

inline TStoppable::~TStoppable()
{
  if (stop_detail::Target.load() == this) RemoveStopSignals();
}

inline bool InstallStopSignals(TStoppable& target)
{
  using namespace stop_detail;
  RemoveStopSignals();
  Target.store(&target);
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (int i = 0; i < 3; ++i) {
    if (sigaction(Signals[i], &action, &Saved[i]) == 0) continue;
    const int error = errno;
    for (int k = 0; k < i; ++k) sigaction(Signals[k], &Saved[k], nullptr);
    Target.store(nullptr);
    errno = error;
    return false;
  }
  Installed = true;
  return true;
}

inline void RemoveStopSignals()
{
  using namespace stop_detail;
  if (Installed) {
    for (int i = 0; i < 3; ++i) sigaction(Signals[i], &Saved[i], nullptr);
    Installed = false;
  }
  Target.store(nullptr);
}

inline int StopSignal() { return stop_detail::Signal.load(std::memory_order_relaxed); }

}  // namespace brontel
