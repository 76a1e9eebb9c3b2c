// Receiver input from files and pipes: 44100 Hz, 16-bit stereo, in blocks of
// 4410 frames, whatever the source's own rate and channel count.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "dsp/rates.h"
#include "io/stop_signals.h"

namespace brontel {

using TBlock = std::array<int16_t, BlockSamples>;

// RequestStop (from a stop signal, say) ends the input as if it had run out:
// ReadBlock soon returns false, a read waiting on a pipe included, and what
// was cut off by the stop is not reported as lost.
class TBlockSource : public TStoppable {
public:
  // Fills the next block; a final partial block is completed with zeros.
  // Returns false when the input is exhausted (or failed: see Error()).
  virtual bool ReadBlock(TBlock& block) = 0;
  // Empty while all is well; otherwise one line saying what went wrong (a
  // read error, a file that ended before the frames it announced, a raw
  // stream that ended inside a frame or held samples that had to be clipped).
  virtual const std::string& Error() const = 0;
  // Empty, or one line saying what was mended in the samples without failing
  // the input: floating-point samples that were NaN (taken as silence) or
  // beyond ±1.0 (clipped), counted. Raw f32 streams and float files follow
  // this one rule.
  virtual std::string Note() const { return {}; }
  // Bytes the source holds in its buffers. They are sized when it opens and
  // stay so however long it reads (0 for a source that does not say).
  virtual std::size_t BufferBytes() const { return 0; }
};

// Opens an audio file that libsndfile reads (WAV, FLAC, Ogg, …; any rate; mono
// or stereo), resampling with libsamplerate's best converter when the rate is
// not 44100 Hz and copying a mono channel to both channels. Floating-point
// samples count 1.0 as full scale at every rate. On failure returns null and
// puts one line, naming the file, into `error`.
std::unique_ptr<TBlockSource> OpenAudioFile(const std::string& path, std::string& error);

// Raw PCM: headerless, little-endian, interleaved frames (left first) from a
// pipe or a file, as SDR programs and demodulators write them.
//
//   Rate     1000 to 1000000 Hz (--raw-rate); anything but 44100 Hz is
//            converted to 44100 Hz with libsamplerate's best converter, in
//            fixed chunks as the stream arrives, so memory stays constant
//            however long it runs; the converter's tail is flushed at the end.
//   Channels 1 or 2 (--raw-channels); mono is copied to both channels,
//            stereo stays stereo.
//   Sample   S16: signed 16-bit (--raw-format s16).
//            F32: 32-bit IEEE float (--raw-format f32), 1.0 full scale as in
//            float audio files (so -1.0 gives -32768 and 1.0 gives 32767);
//            values beyond ±1.0 are clipped and NaN is taken as silence, as
//            in float files (see Note()).
//
// The default, 44100 Hz 16-bit stereo, is passed through bit for bit. At the
// end of the input Error() says what was lost, if anything: a read error,
// bytes that do not make a whole frame; a stream without a single whole frame
// has "no audio". Note() says how many float samples were clipped or NaN.
struct TRawFormat {
  enum class TSample { S16, F32 };
  int Rate = SampleRate;  // Hz
  int Channels = 2;       // 1 or 2
  TSample Sample = TSample::S16;
};

inline constexpr int MinRawRate = 1000;
inline constexpr int MaxRawRate = 1000000;

// Empty when `format` can be read; otherwise one line naming the bad value.
std::string CheckRawFormat(const TRawFormat& format);

// Raw signed 16-bit little-endian stereo at 44100 Hz from a stream (stdin).
std::unique_ptr<TBlockSource> OpenRawStream(std::FILE* stream);

// Raw PCM of `format` from `stream` (standard input; the stream is not
// closed). On a bad format returns null and puts one line into `error`.
std::unique_ptr<TBlockSource> OpenRawStream(std::FILE* stream, const TRawFormat& format, std::string& error);

// Raw PCM of `format` from standard input ("-") or from the file `name`
// (a regular file or a named pipe, closed with the source). On failure (a bad
// format, a missing file, a folder) returns null and puts one line, naming the
// file, into `error`.
std::unique_ptr<TBlockSource> OpenRawInput(const std::string& name, const TRawFormat& format, std::string& error);

// "-" means raw PCM on standard input, anything else a file.
std::unique_ptr<TBlockSource> OpenInput(const std::string& name, std::string& error);

}  // namespace brontel
