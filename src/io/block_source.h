// Receiver input from files and pipes: 44100 Hz, 16-bit stereo, in blocks of
// 4410 frames, whatever the source's own rate and channel count.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/receiver_state.h"

namespace brontel {

using TBlock = std::array<int16_t, BlockSamples>;

class TBlockSource {
public:
  virtual ~TBlockSource() = default;
  // Fills the next block; a final partial block is completed with zeros.
  // Returns false when the input is exhausted (or failed: see Error()).
  virtual bool ReadBlock(TBlock& block) = 0;
  // Empty while all is well; otherwise one line saying what went wrong (a
  // read error, or a file that ended before the frames it announced).
  virtual const std::string& Error() const = 0;
};

// Opens an audio file that libsndfile reads (WAV, FLAC, Ogg, …; any rate; mono
// or stereo), resampling with libsamplerate's best converter when the rate is
// not 44100 Hz and copying a mono channel to both channels. Floating-point
// samples count 1.0 as full scale at every rate. On failure returns null and
// puts one line, naming the file, into `error`.
std::unique_ptr<TBlockSource> OpenAudioFile(const std::string& path, std::string& error);

// Raw signed 16-bit little-endian stereo at 44100 Hz from a stream (stdin).
std::unique_ptr<TBlockSource> OpenRawStream(std::FILE* stream);

// "-" means raw PCM on standard input, anything else a file.
std::unique_ptr<TBlockSource> OpenInput(const std::string& name, std::string& error);

}  // namespace brontel
