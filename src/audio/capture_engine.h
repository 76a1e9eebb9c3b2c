// The capture engine: records the sound input without pause into a ring of 32
// blocks of 0.1 s and hands every completed block, in recording order, to the
// front end's block handler on the user-interface thread.
//
// Threads. The device reports each filled block on a thread of the audio side;
// the engine's only work there is to call the post function, which must do
// nothing but post a block message (carrying the generation it is given) to the
// user-interface thread. Everything else — OpenCapture, CloseCapture, the block
// messages — runs on the user-interface thread, one at a time, without locks.
//
// Block messages outlive the open they belong to: a close hands every queued
// block back with a completion of its own. Each open has a new generation
// number and a message whose generation is not the current open's is dropped
// without touching any block.
//
// Use from a window (see qt_capture.h for the Qt side):
//
//   TCaptureEngine engine(*driver, errorBox, [&](uint64_t g) { PostToUi(g); });
//   engine.OpenCapture(inputIndex);                 // reports failures itself
//   ... on the UI thread, for each posted message g:
//   engine.ProcessWaveBlock(g, handler);            // TakeBlock, then the handler
//   ... on a device change or at exit:
//   engine.CloseCapture();
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/wave_in.h"
#include "dsp/rates.h"

namespace brontel {

inline constexpr int HeaderCount = 32;  // blocks in the ring: 3.2 s of audio

// The texts of the two failures the user is told about.
inline constexpr std::string_view ErrorCaption = "エラー";
inline constexpr std::string_view OpenFailedLine1 =
    "録音デバイスをオープンできないためプログラムの実行ができません";
inline constexpr std::string_view OpenFailedLine2 =
    "デバイスが使用中か録音フォーマットに対応していない可能性があります";
inline constexpr std::string_view BufferFailedLine1 =
    "バッファを確保できないためプログラムの実行ができません";
inline constexpr std::string_view BufferFailedLine2 = "メモリが不足している可能性があります";

// Tells the user about a failure: the exclamation beep, then a modal error box
// (caption ErrorCaption, error icon, one OK button) showing the two lines joined
// by one line feed. Returns when the box has been dismissed.
class TErrorReporter {
public:
  virtual ~TErrorReporter() = default;
  virtual void ShowError(std::string_view firstLine, std::string_view secondLine) = 0;
};

// The capture format: PCM, 2 channels, SampleRate Hz, 16 bits.
TWaveFormat MakeCaptureFormat();

// Whether an input that failed to open may open later: the sound server or
// the device may still come; a refused format or missing memory will not go.
bool WorthRetrying(TWaveResult result);

// Names of the input devices, device id 0 first (rows 1 … n of the device
// list; row 0 is the standard input device); none when the list cannot be had.
std::vector<std::string> InputDeviceNames(TWaveInDriver& driver);

class TCaptureEngine {
public:
  // Called on the audio side once per completed block; must only post a
  // message carrying `generation` to the user-interface thread.
  using TPostFn = std::function<void(uint64_t generation)>;
  // Called on the user-interface thread when sound was lost (the ring was
  // full for longer than it lasts), before the first block after the gap.
  using TGapFn = std::function<void(int blocksLost)>;
  // Takes one block of recorded sound (BlockSamples interleaved stereo samples).
  using TBlockFn = std::function<void(std::span<const int16_t, BlockSamples> block)>;

  TCaptureEngine(TWaveInDriver& driver, TErrorReporter& errors, TPostFn post);
  ~TCaptureEngine();  // closes the capture
  TCaptureEngine(const TCaptureEngine&) = delete;
  TCaptureEngine& operator=(const TCaptureEngine&) = delete;

  // Opens the device of `inputIndex` (0: the standard input device, k ≥ 1:
  // device id k − 1), sets up and queues the 32 blocks and starts recording.
  // True on success; false after the failure has been shown to the user, or,
  // with `report` false, kept for ShowOpenFailure. An open capture is closed
  // first.
  bool OpenCapture(int32_t inputIndex, bool report = true);

  // What the last OpenCapture came to: Ok, the device's own failure, or NoMem
  // when the blocks could not be set up.
  TWaveResult OpenResult() const { return LastOpen; }
  // Shows the failure of the last OpenCapture to the user (nothing after a
  // success).
  void ShowOpenFailure();

  // Stops recording and releases everything OpenCapture set up. Always true;
  // does nothing when no device is open.
  bool CloseCapture();

  // One block message. When `generation` is the current open's, takes the next
  // block of the ring and hands it to `process`, after telling the gap
  // handler of sound lost before it; returns whether it did.
  bool ProcessWaveBlock(uint64_t generation, const TBlockFn& process);
  void SetGapHandler(TGapFn onGap) { OnGap = std::move(onGap); }

  // Blocks of sound lost so far (a part of a block counts as one), and how
  // many were lost just before the block taken last.
  uint64_t BlocksLost() const { return TotalLost; }
  int BlocksLostBeforeLastBlock() const { return LastGap; }

  // Whether a block message of `generation` stands for a block of the ring.
  bool IsCurrent(uint64_t generation) const;

  // The next completed block of the ring, handed back to the device at once.
  // Its samples are copied out first, so the device may refill the buffer
  // while the block is processed. Only for a current block message; the view
  // is valid until the next call.
  std::span<const int16_t, BlockSamples> TakeBlock();

  const TWaveFormat& WaveFormat() const { return Format; }
  bool IsOpen() const { return Device != nullptr; }
  bool IsRecording() const { return Recording; }
  int NextHeader() const { return NextSlot; }
  uint64_t Generation() const { return OpenGeneration; }
  TWaveInDriver& Driver() const { return WaveIn; }

private:
  static void WaveInCallback(TWaveIn& device, TWaveInMsg msg, void* instance, TWaveHeader* header);
  bool Fail(TWaveResult result, std::string_view line1, std::string_view line2);

  TWaveInDriver& WaveIn;
  TErrorReporter& Errors;
  const TPostFn Post;
  TGapFn OnGap;
  const TWaveFormat Format;

  std::unique_ptr<TWaveIn> Device;            // null while closed
  std::unique_ptr<uint8_t[]> Memory;          // the ring's sample memory, per open
  std::array<TWaveHeader, HeaderCount> Headers{};
  int Prepared = 0;                           // slots set up by the last open
  int NextSlot = 0;                           // slot of the next block message
  bool Recording = false;
  bool Report = true;                         // failures are shown as they happen
  uint64_t TotalLost = 0;
  int LastGap = 0;
  TWaveResult LastOpen = TWaveResult::Ok;
  std::string_view FailLine1, FailLine2;      // the last open's failure
  // Written only while no device is open; read by the audio side.
  std::atomic<uint64_t> OpenGeneration{0};
  std::array<int16_t, BlockSamples> Current{};  // the block being processed
};

// How every front end opens its input: the device of `inputIndex`, and when
// that is a device that is gone (not the standard input device) and
// `fallBack` is given, `fallBack` is told its row and the standard input
// device is opened instead (`inputIndex` becomes 0). True when recording;
// otherwise engine.OpenResult() says why, and WorthRetrying whether to try
// again later.
bool OpenInput(TCaptureEngine& engine, int32_t& inputIndex, const std::function<void(int32_t gone)>& fallBack);

}  // namespace brontel
