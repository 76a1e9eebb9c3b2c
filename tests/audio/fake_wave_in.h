// A wave-input driver with no sound behind it: the test decides when a buffer
// is filled, which call fails, and reads back every call the engine made.
#pragma once

#include <deque>
#include <span>
#include <string>
#include <vector>

#include "audio/wave_in.h"

namespace brontel::test {

class TFakeDriver;

class TFakeWaveIn final : public TWaveIn {
public:
  TFakeWaveIn(TFakeDriver& driver, TWaveInProc proc, void* instance);
  ~TFakeWaveIn() override;

  TWaveResult PrepareHeader(TWaveHeader& h) override;
  TWaveResult UnprepareHeader(TWaveHeader& h) override;
  TWaveResult AddBuffer(TWaveHeader& h) override;
  TWaveResult Start() override;
  TWaveResult Stop() override;
  TWaveResult Reset() override;

  // The head buffer is filled with `value` in every sample and reported.
  bool FillNext(int16_t value);
  // The head buffer is filled with `samples` (interleaved; zeros after them) and reported.
  bool FillNextWith(std::span<const int16_t> samples);
  // Sound arrives while the queue may be empty: dropped, and counted for the
  // next buffer filled.
  void Drop(uint64_t bytes) { Lost += bytes; }
  void Notify(TWaveInMsg msg) { Proc(*this, msg, Instance, nullptr); }
  std::size_t Queued() const { return Queue.size(); }
  const TWaveHeader* QueueTail() const { return Queue.empty() ? nullptr : Queue.back(); }

private:
  void Complete();
  TFakeDriver& Driver;
  TWaveInProc Proc;
  void* Instance;
  std::deque<TWaveHeader*> Queue;
  uint64_t Lost = 0;
};

class TFakeDriver final : public TWaveInDriver {
public:
  TWaveResult Open(std::unique_ptr<TWaveIn>& device, int deviceId, const TWaveFormat& format,
                   TWaveInProc proc, void* instance) override;
  TWaveResult ListDevices(std::vector<std::string>& names) override;

  // Set up by the test.
  std::vector<std::string> Names{"Line In", "Microphone"};
  bool FailList = false;     // ListDevices fails
  TWaveResult FailOpen = TWaveResult::Ok;  // Open fails with this (no server: NoDriver)
  int FailPrepareAt = -1;    // the n-th PrepareHeader call fails (0 = first)
  int FailAddAt = -1;        // the n-th AddBuffer call fails
  bool ScribbleOnAdd = false;  // a re-queued buffer is written at once (drained queue)

  // Read by the test.
  std::vector<std::string> Log;  // "open -1", "prepare 3", "add 3", "start", …
  int LastDeviceId = -2;
  TWaveFormat LastFormat{};
  TFakeWaveIn* Device = nullptr;  // the open device, if any
  int PrepareCalls = 0, AddCalls = 0;
  int ListCalls = 0;  // ListDevices calls
  const uint8_t* SlotBase = nullptr;  // Data of the first prepared header since the open

  // Slot number of a header, from its buffer address.
  int SlotOf(const TWaveHeader& h) const;
};

}  // namespace brontel::test
