// Live sound input as a block source: the capture engine records from the
// sound server and ReadBlock hands over its blocks in recording order, until a
// stop is asked for (from a signal handler, say).
//
// Threads. The device reports each completed block on a thread of the audio
// side; the engine's post function there only queues the block message (under
// a mutex, with a condition variable). Everything else — opening the device,
// taking blocks, closing — runs on the thread that calls ReadBlock, one call
// at a time, and so do all the callbacks of TLiveOptions.
//
// Use without a window:
//
//   auto driver = MakePulseWaveInDriver();
//   TLiveOptions o;
//   o.Device = "2";                 // or a name; empty: o.InputIndex
//   o.OnNotice = [](const std::string& s) { std::fprintf(stderr, "%s\n", s.c_str()); };
//   o.OnGap = [&](int lost) { session.NoteGap(lost); };
//   TLiveSource live(*driver, std::move(o));
//   InstallStopSignals(live);       // SIGINT, SIGTERM and SIGHUP end the loop below
//   TBlock block;
//   while (live.ReadBlock(block)) session.ProcessBlock(block);
//   if (!live.Error().empty()) ...  // the input could never be opened
//
// When the input cannot be opened at the start (no sound server yet), that is
// said once and another attempt is made every second; a device that does not
// exist gives way to the standard input device, with a notice. Once open, the
// device itself reconnects to a server that went away; the source says when
// no sound has come for a while and when it comes again.
#pragma once

#include <atomic>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "audio/capture_engine.h"
#include "io/block_source.h"

namespace brontel {

// The name of row 0 of the device list.
inline constexpr std::string_view StandardInputName = "standard input device";

// The rows of the device list: row 0 the standard input device, row k the
// driver's device id k − 1 (as the window's [Wave] Input counts). Only row 0
// when the driver cannot list its devices.
std::vector<std::string> ListDevices(TWaveInDriver& driver);

// The row of `rows` (as ListDevices gives them) that `device` names: a row
// number (taken as it is, even beyond the list), a whole name in any case, or
// a part of exactly one name. −1, with `error` saying why, when no row or more
// than one row matches.
int FindDevice(const std::vector<std::string>& rows, std::string_view device, std::string& error);

struct TLiveOptions {
  int32_t InputIndex = 0;  // row of the device list; 0 = the standard input device
  // When not empty, a row number or a name (see FindDevice), looked up in the
  // device list at each attempt to open; InputIndex is then not used.
  std::string Device;
  // Human messages (no line end): the device opened, the sound server is
  // missing or back, the standard device used instead … Unset: standard error.
  std::function<void(const std::string&)> OnNotice;
  // Sound was lost before the block ReadBlock is about to return (the ring was
  // full for longer than it lasts): the number of blocks of 0.1 s. Unset: a
  // notice says so.
  std::function<void(int blocksLost)> OnGap;
  int RetryMs = 1000;  // between attempts to open an input that is missing
  // No block for this long while recording is reported (the first block
  // after an open is given at least 5 s).
  int QuietMs = 2000;
};

// Failures of the capture engine as notices: caption and both lines on one line.
class TNoticeReporter final : public TErrorReporter {
public:
  explicit TNoticeReporter(std::function<void(const std::string&)> onNotice) : OnNotice(std::move(onNotice)) {}
  void ShowError(std::string_view firstLine, std::string_view secondLine) override;

private:
  std::function<void(const std::string&)> OnNotice;
};

class TLiveSource final : public TBlockSource {
public:
  // Nothing is opened yet: the first ReadBlock (or Open) does it.
  TLiveSource(TWaveInDriver& driver, TLiveOptions options);
  ~TLiveSource() override;  // closes the device (and undoes InstallStopSignals for this source)
  TLiveSource(const TLiveSource&) = delete;
  TLiveSource& operator=(const TLiveSource&) = delete;

  // The next recorded block. Waits for it, opening the input first when it is
  // not open (again every RetryMs while it is missing). After RequestStop,
  // the blocks already recorded by then are still handed over; then the
  // device is closed and the result is false. Also false, with Error() set,
  // when the input can never be opened (a refused format, no memory).
  bool ReadBlock(TBlock& block) override;
  const std::string& Error() const override { return Err; }

  // RequestStop (async-signal-safe, any thread) ends ReadBlock within about 50 ms.

  // One attempt to open the input now, if it is not open; whether it is.
  // ReadBlock calls it itself; a caller may, to open before the first read.
  bool Open();
  // Stops recording and closes the device (ReadBlock would open it again).
  void Close();
  bool IsOpen() const { return Engine.IsRecording(); }

  // Row of the device list in use or to be tried next (0 after a fallback).
  int32_t InputIndex() const { return Index; }
  // Blocks of sound lost so far, every gap counted.
  uint64_t BlocksLost() const { return Engine.BlocksLost() + MessagesLost; }

private:
  using TClock = std::chrono::steady_clock;
  static constexpr std::size_t QueueSize = 2 * HeaderCount;

  void Post(uint64_t generation);
  bool Read(TBlock& block);
  bool TryOpen();
  // Runs `step`; an exception from it becomes the source's error and closes it.
  template <class F>
  bool Guarded(F&& step);
  bool Wait(uint64_t& generation, uint64_t& overflow, TClock::duration timeout);
  std::size_t Pending();
  void Notice(const std::string& text);
  static std::string RowName(int32_t row, const std::vector<std::string>& rows);

  TWaveInDriver& Driver;
  TLiveOptions Options;
  std::string Err;

  // Block messages from the audio side, oldest first: a fixed ring, so that
  // posting never allocates.
  std::mutex Mutex;
  std::condition_variable Cv;
  std::array<uint64_t, QueueSize> Queue{};
  std::size_t QueueHead = 0, QueueCount = 0;
  uint64_t Overflow = 0;  // messages that found the queue full

  // Reader side.
  TNoticeReporter Reporter;
  TCaptureEngine Engine;  // after the queue: destroyed (and closed) first
  int32_t Index = 0;
  bool Missing = false;        // the input failed to open and that was said
  TClock::time_point NextTry{};
  bool Draining = false;       // stop seen: only the messages queued by then are left
  std::size_t Remaining = 0;
  TClock::time_point LastBlock{};
  bool Flowing = false;        // a block came since the open
  bool Quiet = false;          // the lack of sound was said
  uint64_t MessagesLost = 0;
};

}  // namespace brontel
