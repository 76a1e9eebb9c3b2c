// Wave input on the PulseAudio client interface: a threaded main loop, one
// context and one record stream per open device. The stream's data is copied
// into the queued buffers in order on the main loop's thread; a full buffer
// leaves the queue and is reported there.
//
// When the server goes away while a device is open (stopped, crashed or
// restarted), the device keeps its queue and tries every second to connect
// again to the same source; recording resumes where the queue stands.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "audio/wave_in.h"

namespace brontel {

namespace {

constexpr int ConnectTimeoutMs = 5000;  // longest wait for the server during an open
constexpr int RetryIntervalMs = 1000;   // between attempts to reach a lost server
constexpr int FragmentMs = 20;          // how often the server hands us data

const char* const ClientName = "Brontel";

// Sleeps on the locked main loop until `done` holds or `timeoutMs` passes.
// Whoever changes what `done` looks at signals the loop.
bool WaitFor(pa_threaded_mainloop* loop, const std::function<bool()>& done, int timeoutMs)
{
  struct TTimer {
    pa_threaded_mainloop* Loop;
    bool Expired = false;
  } timer{loop};
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
  timeval when{};
  pa_gettimeofday(&when);
  pa_timeval_add(&when, static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC);
  pa_time_event* event = api->time_new(
      api, &when,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* t = static_cast<TTimer*>(userdata);
        t->Expired = true;
        pa_threaded_mainloop_signal(t->Loop, 0);
      },
      &timer);
  while (!done() && !timer.Expired) pa_threaded_mainloop_wait(loop);
  if (event) api->time_free(event);
  return done();
}

// A new context of ours, connecting (never spawning a server). Null when the
// connection cannot even be attempted. Call with the loop locked.
pa_context* NewContext(pa_threaded_mainloop* loop, pa_context_notify_cb_t onState, void* userdata)
{
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, ClientName);
  pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
  pa_context* context =
      pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), ClientName, props);
  pa_proplist_free(props);
  if (!context) return nullptr;
  pa_context_set_state_callback(context, onState, userdata);
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_unref(context);
    return nullptr;
  }
  return context;
}

void FreeContext(pa_context*& context)
{
  if (!context) return;
  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_disconnect(context);
  pa_context_unref(context);
  context = nullptr;
}

bool ContextSettled(pa_context* context)
{
  const pa_context_state_t s = pa_context_get_state(context);
  return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
}

struct TSource {
  std::string Name;         // the server's name of the source
  std::string Description;  // what the user is shown
};

// The server's sources ordered by name. Call with the loop locked and the
// context ready.
bool ListSources(pa_threaded_mainloop* loop, pa_context* context, std::vector<TSource>& sources)
{
  struct TQuery {
    pa_threaded_mainloop* Loop;
    std::vector<TSource>* Sources;
    bool Done = false;
  } query{loop, &sources};
  sources.clear();
  pa_operation* op = pa_context_get_source_info_list(
      context,
      [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
        auto* q = static_cast<TQuery*>(userdata);
        if (eol != 0 || !info) {
          q->Done = true;
          pa_threaded_mainloop_signal(q->Loop, 0);
          return;
        }
        q->Sources->push_back({info->name ? info->name : "",
                               info->description ? info->description : (info->name ? info->name : "")});
      },
      &query);
  if (!op) return false;
  const bool done = WaitFor(
      loop, [&] { return query.Done || pa_context_get_state(context) != PA_CONTEXT_READY; },
      ConnectTimeoutMs);
  pa_operation_cancel(op);
  pa_operation_unref(op);
  if (!done || !query.Done) return false;
  std::sort(sources.begin(), sources.end(),
            [](const TSource& a, const TSource& b) { return a.Name < b.Name; });
  return true;
}

// A short-lived connection for listing the sources once.
class TProbe {
public:
  ~TProbe()
  {
    if (!Loop) return;
    pa_threaded_mainloop_lock(Loop);
    FreeContext(Context);
    pa_threaded_mainloop_unlock(Loop);
    pa_threaded_mainloop_stop(Loop);
    pa_threaded_mainloop_free(Loop);
  }

  bool Sources(std::vector<TSource>& sources)
  {
    Loop = pa_threaded_mainloop_new();
    if (!Loop) return false;
    if (pa_threaded_mainloop_start(Loop) < 0) {
      pa_threaded_mainloop_free(Loop);
      Loop = nullptr;
      return false;
    }
    pa_threaded_mainloop_lock(Loop);
    bool ok = false;
    Context = NewContext(
        Loop, [](pa_context*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
        Loop);
    if (Context && WaitFor(Loop, [&] { return ContextSettled(Context); }, ConnectTimeoutMs) &&
        pa_context_get_state(Context) == PA_CONTEXT_READY)
      ok = ListSources(Loop, Context, sources);
    pa_threaded_mainloop_unlock(Loop);
    return ok;
  }

private:
  pa_threaded_mainloop* Loop = nullptr;
  pa_context* Context = nullptr;
};

bool ToSampleSpec(const TWaveFormat& f, pa_sample_spec& sampleSpec)
{
  if (f.BitsPerSample == 16)
    sampleSpec.format = PA_SAMPLE_S16LE;
  else if (f.BitsPerSample == 8)
    sampleSpec.format = PA_SAMPLE_U8;
  else
    return false;
  sampleSpec.rate = f.SamplesPerSec;
  sampleSpec.channels = static_cast<uint8_t>(f.Channels);
  if (f.Channels == 0 || f.Channels > PA_CHANNELS_MAX) return false;
  if (f.BlockAlign != f.Channels * f.BitsPerSample / 8) return false;
  return pa_sample_spec_valid(&sampleSpec) != 0;
}

// One open input device.
class TPulseWaveIn final : public TWaveIn {
public:
  TPulseWaveIn(const pa_sample_spec& sampleSpec, TWaveInProc proc, void* instance)
      : SampleSpec(sampleSpec), Proc(proc), Instance(instance) {}

  ~TPulseWaveIn() override
  {
    if (!Loop) return;
    if (Running) {
      RunOnLoop([this] {
        Closing = true;
        Started = false;
        if (Opened) Proc(*this, TWaveInMsg::Close, Instance, nullptr);
        while (Head) Unlink();
        if (RetryEvent) {
          pa_threaded_mainloop_get_api(Loop)->time_free(RetryEvent);
          RetryEvent = nullptr;
        }
        FreeStream();
        FreeContext(Context);
      });
      pa_threaded_mainloop_stop(Loop);
    }
    pa_threaded_mainloop_free(Loop);
  }

  // Connects to the server and the source of `deviceId`; recording is not
  // started yet.
  TWaveResult Connect(int deviceId)
  {
    Loop = pa_threaded_mainloop_new();
    if (!Loop) return TWaveResult::NoMem;
    pa_threaded_mainloop_set_name(Loop, "brontel-capture");
    if (pa_threaded_mainloop_start(Loop) < 0) return TWaveResult::Error;
    Running = true;

    pa_threaded_mainloop_lock(Loop);
    const TWaveResult result = ConnectLocked(deviceId);
    if (result == TWaveResult::Ok) Opened = true;
    pa_threaded_mainloop_unlock(Loop);
    if (result == TWaveResult::Ok)
      RunOnLoop([this] { Proc(*this, TWaveInMsg::Open, Instance, nullptr); });
    return result;
  }

  TWaveResult PrepareHeader(TWaveHeader& h) override
  {
    if (!h.Data || h.BufferLength == 0) return TWaveResult::InvalidParam;
    Locked([&] { h.Flags |= WaveHdrPrepared; });
    return TWaveResult::Ok;
  }

  TWaveResult UnprepareHeader(TWaveHeader& h) override
  {
    TWaveResult result = TWaveResult::Ok;
    Locked([&] {
      if (h.Flags & WaveHdrInQueue)
        result = TWaveResult::StillPlaying;
      else
        h.Flags &= ~WaveHdrPrepared;
    });
    return result;
  }

  TWaveResult AddBuffer(TWaveHeader& h) override
  {
    if (!h.Data || h.BufferLength == 0) return TWaveResult::InvalidParam;
    TWaveResult result = TWaveResult::Ok;
    Locked([&] {
      if (!(h.Flags & WaveHdrPrepared)) {
        result = TWaveResult::Unprepared;
      } else if (h.Flags & WaveHdrInQueue) {
        result = TWaveResult::StillPlaying;
      } else {
        h.Flags = (h.Flags & ~WaveHdrDone) | WaveHdrInQueue;
        h.BytesLostBefore = 0;
        h.Next = nullptr;
        if (Tail)
          Tail->Next = &h;
        else
          Head = &h;
        Tail = &h;
      }
    });
    return result;
  }

  TWaveResult Start() override
  {
    Locked([&] {
      Started = true;
      Cork(false);
    });
    return TWaveResult::Ok;
  }

  TWaveResult Stop() override
  {
    Locked([&] {
      Started = false;
      Cork(true);
    });
    return TWaveResult::Ok;
  }

  TWaveResult Reset() override
  {
    RunOnLoop([this] {
      Started = false;
      Cork(true);
      while (Head) Complete();
      Lost = 0;
    });
    return TWaveResult::Ok;
  }

private:
  TWaveResult ConnectLocked(int deviceId)
  {
    Context = NewContext(Loop, &TPulseWaveIn::OnContextState, this);
    if (!Context) return TWaveResult::NoDriver;
    if (!WaitFor(Loop, [&] { return ContextSettled(Context); }, ConnectTimeoutMs) ||
        pa_context_get_state(Context) != PA_CONTEXT_READY)
      return TWaveResult::NoDriver;

    if (deviceId != WaveMapper) {
      std::vector<TSource> sources;
      if (!ListSources(Loop, Context, sources)) return TWaveResult::NoDriver;
      if (deviceId < 0 || static_cast<std::size_t>(deviceId) >= sources.size())
        return TWaveResult::BadDeviceId;
      SourceName = sources[static_cast<std::size_t>(deviceId)].Name;
    }

    if (!NewStream()) return TWaveResult::BadFormat;
    auto settled = [&] {
      const pa_stream_state_t s = pa_stream_get_state(Stream);
      return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s) || !ContextSettled(Context) ||
             pa_context_get_state(Context) != PA_CONTEXT_READY;
    };
    if (!WaitFor(Loop, settled, ConnectTimeoutMs)) return TWaveResult::Error;
    if (pa_stream_get_state(Stream) == PA_STREAM_READY) return TWaveResult::Ok;
    if (pa_context_get_state(Context) != PA_CONTEXT_READY) return TWaveResult::NoDriver;
    const int error = pa_context_errno(Context);
    if (error == PA_ERR_NOENTITY) return TWaveResult::BadDeviceId;
    if (error == PA_ERR_NOTSUPPORTED || error == PA_ERR_INVALID) return TWaveResult::BadFormat;
    return TWaveResult::Error;
  }

  // Creates and connects the record stream (loop locked, context ready).
  bool NewStream()
  {
    Stream = pa_stream_new(Context, "Capture", &SampleSpec, nullptr);
    if (!Stream) return false;
    pa_stream_set_state_callback(Stream, &TPulseWaveIn::OnStreamState, this);
    pa_stream_set_read_callback(Stream, &TPulseWaveIn::OnRead, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(FragmentMs * PA_USEC_PER_MSEC, &SampleSpec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                      (Started ? 0 : PA_STREAM_START_CORKED));
    if (pa_stream_connect_record(Stream, SourceName.empty() ? nullptr : SourceName.c_str(), &attr,
                                 flags) < 0) {
      FreeStream();
      return false;
    }
    return true;
  }

  void FreeStream()
  {
    if (!Stream) return;
    pa_stream_set_state_callback(Stream, nullptr, nullptr);
    pa_stream_set_read_callback(Stream, nullptr, nullptr);
    pa_stream_disconnect(Stream);
    pa_stream_unref(Stream);
    Stream = nullptr;
  }

  void Cork(bool cork)
  {
    if (!Stream || pa_stream_get_state(Stream) != PA_STREAM_READY) return;
    if (pa_operation* op = pa_stream_cork(Stream, cork ? 1 : 0, nullptr, nullptr)) pa_operation_unref(op);
  }

  // Copies recorded bytes (null: a gap, recorded as silence) into the queue;
  // what finds the queue empty is dropped and counted for the next buffer.
  void Deliver(const uint8_t* data, std::size_t n)
  {
    while (Started && n > 0) {
      if (!Head) {
        Lost += n;
        return;
      }
      if (HeadFill == 0) {
        Head->BytesLostBefore = Lost;
        Lost = 0;
      }
      const std::size_t take = std::min<std::size_t>(n, Head->BufferLength - HeadFill);
      if (data) {
        std::memcpy(Head->Data + HeadFill, data, take);
        data += take;
      } else {
        std::memset(Head->Data + HeadFill, 0, take);
      }
      HeadFill += static_cast<uint32_t>(take);
      n -= take;
      if (HeadFill == Head->BufferLength) Complete();
    }
  }

  TWaveHeader* Unlink()
  {
    TWaveHeader* h = Head;
    Head = h->Next;
    if (!Head) Tail = nullptr;
    h->Next = nullptr;
    h->Flags &= ~WaveHdrInQueue;
    return h;
  }

  // The head is done: off the queue and reported.
  void Complete()
  {
    HeadFill = 0;
    TWaveHeader* h = Unlink();
    h->Flags |= WaveHdrDone;
    Proc(*this, TWaveInMsg::Data, Instance, h);
  }

  static void OnRead(pa_stream* stream, std::size_t, void* userdata)
  {
    auto* self = static_cast<TPulseWaveIn*>(userdata);
    while (pa_stream_readable_size(stream) > 0) {
      const void* data = nullptr;
      std::size_t n = 0;
      if (pa_stream_peek(stream, &data, &n) < 0 || n == 0) return;
      self->Deliver(static_cast<const uint8_t*>(data), n);
      pa_stream_drop(stream);
    }
  }

  static void OnContextState(pa_context* context, void* userdata)
  {
    auto* self = static_cast<TPulseWaveIn*>(userdata);
    pa_threaded_mainloop_signal(self->Loop, 0);
    if (!self->Opened || self->Closing) return;
    const pa_context_state_t s = pa_context_get_state(context);
    if (s == PA_CONTEXT_READY) {
      if (!self->Stream && !self->NewStream()) self->ScheduleRetry();
    } else if (!PA_CONTEXT_IS_GOOD(s)) {
      self->ScheduleRetry();
    }
  }

  static void OnStreamState(pa_stream* stream, void* userdata)
  {
    auto* self = static_cast<TPulseWaveIn*>(userdata);
    pa_threaded_mainloop_signal(self->Loop, 0);
    if (!self->Opened || self->Closing) return;
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) self->ScheduleRetry();
  }

  void ScheduleRetry()
  {
    if (RetryEvent) return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(Loop);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(RetryIntervalMs) * PA_USEC_PER_MSEC);
    RetryEvent = api->time_new(api, &when, &TPulseWaveIn::OnRetry, this);
  }

  // Another attempt to record from the source after the server or the stream
  // was lost: a fresh stream, on a fresh connection when the old one is gone.
  static void OnRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* userdata)
  {
    auto* self = static_cast<TPulseWaveIn*>(userdata);
    api->time_free(event);
    self->RetryEvent = nullptr;
    if (self->Closing) return;
    self->FreeStream();
    if (self->Context && pa_context_get_state(self->Context) == PA_CONTEXT_READY) {
      if (!self->NewStream()) self->ScheduleRetry();
      return;
    }
    FreeContext(self->Context);
    self->Context = NewContext(self->Loop, &TPulseWaveIn::OnContextState, self);
    if (!self->Context) self->ScheduleRetry();
  }

  template <class F>
  void Locked(F&& f)
  {
    pa_threaded_mainloop_lock(Loop);
    f();
    pa_threaded_mainloop_unlock(Loop);
  }

  // Runs `f` on the main loop's thread with the loop locked and waits for it.
  void RunOnLoop(const std::function<void()>& f)
  {
    if (pa_threaded_mainloop_in_thread(Loop)) {
      f();
      return;
    }
    struct TCall {
      pa_threaded_mainloop* Loop;
      const std::function<void()>* Fn;
      bool Done = false;
    } call{Loop, &f};
    pa_threaded_mainloop_lock(Loop);
    pa_threaded_mainloop_once_unlocked(
        Loop,
        [](pa_threaded_mainloop* loop, void* userdata) {
          auto* c = static_cast<TCall*>(userdata);
          pa_threaded_mainloop_lock(loop);
          (*c->Fn)();
          c->Done = true;
          pa_threaded_mainloop_signal(loop, 0);
          pa_threaded_mainloop_unlock(loop);
        },
        &call);
    while (!call.Done) pa_threaded_mainloop_wait(Loop);
    pa_threaded_mainloop_unlock(Loop);
  }

  const pa_sample_spec SampleSpec;
  const TWaveInProc Proc;
  void* const Instance;

  pa_threaded_mainloop* Loop = nullptr;
  bool Running = false;  // the loop's thread runs
  pa_context* Context = nullptr;
  pa_stream* Stream = nullptr;
  pa_time_event* RetryEvent = nullptr;
  std::string SourceName;  // empty: the server's default source

  // Loop-locked state.
  bool Opened = false;   // Connect succeeded: losses are retried
  bool Closing = false;  // the device is being destroyed
  bool Started = false;  // recording: data goes into the queue
  TWaveHeader* Head = nullptr;
  TWaveHeader* Tail = nullptr;
  uint32_t HeadFill = 0;  // bytes already in the head buffer
  uint64_t Lost = 0;      // bytes dropped since the last buffer began
};

class TPulseWaveInDriver final : public TWaveInDriver {
public:
  TWaveResult Open(std::unique_ptr<TWaveIn>& device, int deviceId, const TWaveFormat& format,
                   TWaveInProc proc, void* instance) override
  {
    device.reset();
    if (!proc) return TWaveResult::InvalidParam;
    if (deviceId < WaveMapper) return TWaveResult::BadDeviceId;
    pa_sample_spec sampleSpec{};
    if (!ToSampleSpec(format, sampleSpec)) return TWaveResult::BadFormat;
    try {
      auto opened = std::make_unique<TPulseWaveIn>(sampleSpec, proc, instance);
      const TWaveResult result = opened->Connect(deviceId);
      if (result == TWaveResult::Ok) device = std::move(opened);
      return result;
    } catch (const std::bad_alloc&) {
      return TWaveResult::NoMem;
    } catch (...) {
      return TWaveResult::Error;
    }
  }

  TWaveResult ListDevices(std::vector<std::string>& names) override
  {
    names.clear();
    try {
      std::vector<TSource> sources;
      if (!TProbe().Sources(sources)) return TWaveResult::NoDriver;
      names.reserve(sources.size());
      for (TSource& source : sources) names.push_back(std::move(source.Description));
      return TWaveResult::Ok;
    } catch (const std::bad_alloc&) {
      names.clear();
      return TWaveResult::NoMem;
    } catch (...) {
      names.clear();
      return TWaveResult::Error;
    }
  }
};

}  // namespace

std::unique_ptr<TWaveInDriver> MakePulseWaveInDriver()
{
  return std::make_unique<TPulseWaveInDriver>();
}

}  // namespace brontel
