// Wave input: a queue of caller-owned buffers that the sound input fills in
// order, with one completion notification per filled buffer.
//
// A device is opened with a capture format and a notification function. The
// caller prepares buffers, adds them to the device's queue and starts
// recording; the device fills the head of the queue and, when it is full,
// takes it off the queue and reports it through the notification function on a
// thread of its own. Reset hands every queued buffer back as done, each with its
// own notification. Closing the device (destroying it) ends all notifications.
// Sound that arrives while the queue is empty is dropped and counted; the next
// buffer filled carries the count.
//
// TWaveInDriver is the platform: it enumerates the input devices and opens
// them. MakePulseWaveInDriver() gives the PulseAudio one (PipeWire serves the
// same client interface); tests can stand a fixture behind the same interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brontel {

// Capture format: interleaved PCM.
struct TWaveFormat {
  uint16_t Channels = 0;        // interleaved channels
  uint32_t SamplesPerSec = 0;   // frames per second, Hz
  uint16_t BlockAlign = 0;      // bytes per frame
  uint16_t BitsPerSample = 0;   // 16: signed little-endian samples; 8: unsigned
};

// Header flags.
inline constexpr uint32_t WaveHdrDone = 0x01;      // the device has finished with the buffer
inline constexpr uint32_t WaveHdrPrepared = 0x02;  // PrepareHeader has been called
inline constexpr uint32_t WaveHdrInQueue = 0x04;   // the buffer is in the device's queue

// One capture buffer as the device sees it. The caller owns the header and the
// buffer and keeps both alive while the buffer is prepared.
struct TWaveHeader {
  uint8_t* Data = nullptr;     // the buffer
  uint32_t BufferLength = 0;   // its size, bytes
  // Bytes the device had to drop, because no buffer was queued, just before
  // this buffer's first byte; set by the device when the buffer is done.
  uint64_t BytesLostBefore = 0;
  uint32_t Flags = 0;          // WaveHdr* flags, kept by the device
  TWaveHeader* Next = nullptr; // the device's queue link; not for the caller
};

// Notifications.
enum class TWaveInMsg {
  Open,   // the device has been opened
  Close,  // the device is being closed
  Data,   // a buffer is done (header given)
};

enum class TWaveResult {
  Ok = 0,
  Error,         // unspecified failure
  BadDeviceId,   // no such input device
  NoDriver,      // no sound server answers
  NoMem,         // out of memory
  BadFormat,     // the capture format is refused
  StillPlaying,  // the buffer is still in the queue
  Unprepared,    // the buffer has not been prepared
  InvalidParam,  // a null or empty buffer
};

// Device id of the standard input device.
inline constexpr int WaveMapper = -1;

class TWaveIn;

// The notification function. Called on a thread of the audio side, never on
// the thread that opened the device, and never after the device is destroyed.
// For Data, `header` is the buffer that was done; it is null otherwise. It must
// return quickly and must not close the device.
using TWaveInProc = void (*)(TWaveIn& device, TWaveInMsg msg, void* instance, TWaveHeader* header);

// An open input device. Every method may be called from the thread that owns
// the device; none blocks on the sound server for longer than a few seconds.
class TWaveIn {
public:
  virtual ~TWaveIn() = default;  // closes the device; queued buffers are dropped unreported
  // Marks the buffer ready for the device. A prepared header stays prepared.
  virtual TWaveResult PrepareHeader(TWaveHeader& header) = 0;
  // Releases a prepared buffer; StillPlaying while it is queued.
  virtual TWaveResult UnprepareHeader(TWaveHeader& header) = 0;
  // Appends a prepared buffer to the end of the queue.
  virtual TWaveResult AddBuffer(TWaveHeader& header) = 0;
  // Recording begins (again); buffers fill in queue order.
  virtual TWaveResult Start() = 0;
  // Recording stops; the queue is kept (a partly filled head keeps its bytes).
  virtual TWaveResult Stop() = 0;
  // Recording stops and every queued buffer is handed back as done, in queue
  // order, each with its own notification, before Reset returns.
  virtual TWaveResult Reset() = 0;
};

class TWaveInDriver {
public:
  virtual ~TWaveInDriver() = default;
  // Opens input device `deviceId` (an index into ListDevices, or WaveMapper for the
  // standard input device) with `format`. On success `device` holds the open
  // device and the result is Ok; otherwise `device` is left empty.
  virtual TWaveResult Open(std::unique_ptr<TWaveIn>& device, int deviceId,
                           const TWaveFormat& format, TWaveInProc proc, void* instance) = 0;
  // The names (UTF-8, to show to the user) of all input devices, device id 0
  // first, from one look at the system: the ids and names always belong
  // together. Fails (and leaves `names` empty) when nothing answers.
  virtual TWaveResult ListDevices(std::vector<std::string>& names) = 0;
};

// The PulseAudio driver. Input devices are the server's sources, monitors of
// outputs included, ordered by their names; the standard input device is the
// server's default source. No server is ever started on demand.
std::unique_ptr<TWaveInDriver> MakePulseWaveInDriver();

}  // namespace brontel
