#include "audio/fake_wave_in.h"

#include <cstring>

#include "core/receiver_state.h"

namespace brontel::test {

TFakeWaveIn::TFakeWaveIn(TFakeDriver& driver, TWaveInProc proc, void* instance)
    : Driver(driver), Proc(proc), Instance(instance)
{
}

TFakeWaveIn::~TFakeWaveIn()
{
  Driver.Log.push_back("close");
  Proc(*this, TWaveInMsg::Close, Instance, nullptr);
  Driver.Device = nullptr;
}

TWaveResult TFakeWaveIn::PrepareHeader(TWaveHeader& h)
{
  if (!Driver.SlotBase) Driver.SlotBase = h.Data;
  Driver.Log.push_back("prepare " + std::to_string(Driver.SlotOf(h)));
  if (Driver.PrepareCalls++ == Driver.FailPrepareAt) return TWaveResult::NoMem;
  h.Flags |= WaveHdrPrepared;
  return TWaveResult::Ok;
}

TWaveResult TFakeWaveIn::UnprepareHeader(TWaveHeader& h)
{
  Driver.Log.push_back("unprepare " + std::to_string(Driver.SlotOf(h)));
  if (h.Flags & WaveHdrInQueue) return TWaveResult::StillPlaying;
  h.Flags &= ~WaveHdrPrepared;
  return TWaveResult::Ok;
}

TWaveResult TFakeWaveIn::AddBuffer(TWaveHeader& h)
{
  Driver.Log.push_back("add " + std::to_string(Driver.SlotOf(h)));
  if (Driver.AddCalls++ == Driver.FailAddAt) return TWaveResult::Error;
  if (!(h.Flags & WaveHdrPrepared)) return TWaveResult::Unprepared;
  h.Flags = (h.Flags & ~WaveHdrDone) | WaveHdrInQueue;
  h.BytesLostBefore = 0;
  Queue.push_back(&h);
  if (Driver.ScribbleOnAdd) std::memset(h.Data, 0x5A, h.BufferLength);
  return TWaveResult::Ok;
}

TWaveResult TFakeWaveIn::Start()
{
  Driver.Log.push_back("start");
  return TWaveResult::Ok;
}

TWaveResult TFakeWaveIn::Stop()
{
  Driver.Log.push_back("stop");
  return TWaveResult::Ok;
}

TWaveResult TFakeWaveIn::Reset()
{
  Driver.Log.push_back("reset");
  while (!Queue.empty()) Complete();
  return TWaveResult::Ok;
}

void TFakeWaveIn::Complete()
{
  TWaveHeader* h = Queue.front();
  Queue.pop_front();
  h->Flags = (h->Flags & ~WaveHdrInQueue) | WaveHdrDone;
  Proc(*this, TWaveInMsg::Data, Instance, h);
}

bool TFakeWaveIn::FillNext(int16_t value)
{
  if (Queue.empty()) return false;
  TWaveHeader* h = Queue.front();
  for (uint32_t i = 0; i + 1 < h->BufferLength; i += 2) {
    const auto v = static_cast<uint16_t>(value);
    h->Data[i] = static_cast<uint8_t>(v & 0xFF);
    h->Data[i + 1] = static_cast<uint8_t>(v >> 8);
  }
  h->BytesLostBefore = Lost;
  Lost = 0;
  Complete();
  return true;
}

bool TFakeWaveIn::FillNextWith(std::span<const int16_t> samples)
{
  if (Queue.empty()) return false;
  TWaveHeader* h = Queue.front();
  std::memset(h->Data, 0, h->BufferLength);
  for (std::size_t i = 0; i < samples.size() && 2 * i + 1 < h->BufferLength; ++i) {
    const auto v = static_cast<uint16_t>(samples[i]);
    h->Data[2 * i] = static_cast<uint8_t>(v & 0xFF);
    h->Data[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  h->BytesLostBefore = Lost;
  Lost = 0;
  Complete();
  return true;
}

TWaveResult TFakeDriver::Open(std::unique_ptr<TWaveIn>& device, int deviceId, const TWaveFormat& format,
                              TWaveInProc proc, void* instance)
{
  Log.push_back("open " + std::to_string(deviceId));
  LastDeviceId = deviceId;
  LastFormat = format;
  SlotBase = nullptr;
  PrepareCalls = AddCalls = 0;
  if (FailOpen != TWaveResult::Ok) return FailOpen;
  if (deviceId < WaveMapper || deviceId >= static_cast<int>(Names.size())) return TWaveResult::BadDeviceId;
  auto d = std::make_unique<TFakeWaveIn>(*this, proc, instance);
  Device = d.get();
  device = std::move(d);
  Device->Notify(TWaveInMsg::Open);
  return TWaveResult::Ok;
}

TWaveResult TFakeDriver::ListDevices(std::vector<std::string>& names)
{
  ++ListCalls;
  names.clear();
  if (FailList) return TWaveResult::NoDriver;
  names = Names;
  return TWaveResult::Ok;
}

int TFakeDriver::SlotOf(const TWaveHeader& h) const
{
  if (!SlotBase) return -1;
  return static_cast<int>((h.Data - SlotBase) / BlockBytes);
}

}  // namespace brontel::test
