#include "audio/capture_engine.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <utility>


namespace brontel {

TWaveFormat MakeCaptureFormat()
{
  constexpr int channels = 2;
  constexpr int bits = 16;
  TWaveFormat f;
  f.Channels = channels;
  f.SamplesPerSec = SampleRate;
  f.BlockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.BitsPerSample = bits;
  return f;
}

bool WorthRetrying(TWaveResult result)
{
  return result == TWaveResult::NoDriver || result == TWaveResult::BadDeviceId || result == TWaveResult::Error;
}

bool OpenInput(TCaptureEngine& engine, int32_t& inputIndex, const std::function<void(int32_t gone)>& fallBack)
{
  if (engine.OpenCapture(inputIndex, /*report=*/false)) return true;
  if (!fallBack || inputIndex == 0 || engine.OpenResult() != TWaveResult::BadDeviceId) return false;
  const int32_t gone = inputIndex;
  inputIndex = 0;
  fallBack(gone);
  return engine.OpenCapture(inputIndex, /*report=*/false);
}

std::vector<std::string> InputDeviceNames(TWaveInDriver& driver)
{
  std::vector<std::string> names;
  if (driver.ListDevices(names) != TWaveResult::Ok) names.clear();
  return names;
}

TCaptureEngine::TCaptureEngine(TWaveInDriver& driver, TErrorReporter& errors, TPostFn post)
    : WaveIn(driver), Errors(errors), Post(std::move(post)), Format(MakeCaptureFormat())
{
}

TCaptureEngine::~TCaptureEngine()
{
  CloseCapture();
}

void TCaptureEngine::WaveInCallback(TWaveIn&, TWaveInMsg msg, void* instance, TWaveHeader*)
{
  // Which block completed is known from the ring order, not from the header.
  if (msg != TWaveInMsg::Data) return;
  auto* self = static_cast<TCaptureEngine*>(instance);
  if (self->Post) self->Post(self->OpenGeneration.load(std::memory_order_relaxed));
}

bool TCaptureEngine::Fail(TWaveResult result, std::string_view line1, std::string_view line2)
{
  LastOpen = result;
  FailLine1 = line1;
  FailLine2 = line2;
  if (Report) Errors.ShowError(line1, line2);
  return false;
}

void TCaptureEngine::ShowOpenFailure()
{
  if (LastOpen != TWaveResult::Ok) Errors.ShowError(FailLine1, FailLine2);
}

bool TCaptureEngine::OpenCapture(int32_t inputIndex, bool report)
{
  CloseCapture();
  Report = report;
  LastOpen = TWaveResult::Ok;
  // A new generation before the device exists: messages of earlier opens
  // still waiting on the user-interface thread no longer match.
  OpenGeneration.fetch_add(1, std::memory_order_relaxed);

  const int deviceId = inputIndex == 0 ? WaveMapper
                       : inputIndex > 0 ? inputIndex - 1
                                        : std::numeric_limits<int>::min();
  const TWaveResult opened = WaveIn.Open(Device, deviceId, Format, &TCaptureEngine::WaveInCallback, this);
  if (opened != TWaveResult::Ok || !Device) {
    Device.reset();
    return Fail(opened == TWaveResult::Ok ? TWaveResult::Error : opened, OpenFailedLine1, OpenFailedLine2);
  }

  // All sample memory for this open at once; the slots are set up in order.
  Memory.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(HeaderCount) * BlockBytes]);
  if (!Memory) return Fail(TWaveResult::NoMem, BufferFailedLine1, BufferFailedLine2);
  for (int i = 0; i < HeaderCount; ++i) {
    TWaveHeader& h = Headers[static_cast<std::size_t>(i)];
    h = TWaveHeader{};
    h.Data = Memory.get() + static_cast<std::size_t>(i) * BlockBytes;
    h.BufferLength = BlockBytes;
    if (Device->PrepareHeader(h) != TWaveResult::Ok)
      return Fail(TWaveResult::NoMem, BufferFailedLine1, BufferFailedLine2);
    Prepared = i + 1;
    if (Device->AddBuffer(h) != TWaveResult::Ok) return Fail(TWaveResult::NoMem, BufferFailedLine1, BufferFailedLine2);
  }
  Device->Start();
  Recording = true;
  return true;
}

bool TCaptureEngine::CloseCapture()
{
  if (!Device) return true;
  Device->Stop();
  Device->Reset();
  for (int i = 0; i < Prepared; ++i) Device->UnprepareHeader(Headers[static_cast<std::size_t>(i)]);
  Headers.fill(TWaveHeader{});
  Memory.reset();
  Prepared = 0;
  NextSlot = 0;
  Recording = false;
  Device.reset();
  return true;
}

bool TCaptureEngine::IsCurrent(uint64_t generation) const
{
  return Recording && generation == OpenGeneration.load(std::memory_order_relaxed);
}

std::span<const int16_t, BlockSamples> TCaptureEngine::TakeBlock()
{
  if (!Recording) {
    Current.fill(0);
    return Current;
  }
  TWaveHeader& h = Headers[static_cast<std::size_t>(NextSlot)];
  NextSlot = NextSlot == HeaderCount - 1 ? 0 : NextSlot + 1;

  const uint64_t lost = (h.BytesLostBefore + BlockBytes - 1) / BlockBytes;
  LastGap = static_cast<int>(std::min<uint64_t>(lost, std::numeric_limits<int>::max()));
  TotalLost += lost;

  // All 4410 frames, whatever the device says it recorded.
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(Current.data(), h.Data, BlockBytes);
  } else {
    for (std::size_t i = 0; i < Current.size(); ++i)
      Current[i] = static_cast<int16_t>(static_cast<uint16_t>(h.Data[2 * i]) |
                                        static_cast<uint16_t>(h.Data[2 * i + 1]) << 8);
  }
  Device->PrepareHeader(h);
  Device->AddBuffer(h);
  return Current;
}

bool TCaptureEngine::ProcessWaveBlock(uint64_t generation, const TBlockFn& process)
{
  if (!IsCurrent(generation)) return false;
  const std::span<const int16_t, BlockSamples> block = TakeBlock();
  if (LastGap > 0 && OnGap) OnGap(LastGap);
  if (process) process(block);
  return true;
}

}  // namespace brontel
