#include "audio/block_source.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace brontel {

namespace {

// `frames` frames of `channels` interleaved samples (mono or stereo) into a
// stereo block, a mono channel copied to both sides, the rest zero.
void SpreadToStereo(const short* in, long frames, int channels, TBlock& block)
{
  block.fill(0);
  for (long j = 0; j < frames; ++j) {
    block[2 * j] = in[j * channels];
    block[2 * j + 1] = in[j * channels + (channels == 2 ? 1 : 0)];
  }
}

// Reads whole frames of 16-bit samples at the source rate and spreads them to
// stereo; no resampling.
class TSndFileSource final : public TBlockSource {
public:
  TSndFileSource(SNDFILE* file, int channels) : File(file), Channels(channels) {}
  ~TSndFileSource() override { sf_close(File); }

  bool ReadBlock(TBlock& block) override
  {
    if (Done) return false;
    std::vector<short>& buf = Scratch;
    buf.resize(static_cast<std::size_t>(FramesPerBlock) * Channels);
    const sf_count_t got = sf_readf_short(File, buf.data(), FramesPerBlock);
    if (got <= 0) {
      Done = true;
      return false;
    }
    SpreadToStereo(buf.data(), static_cast<long>(got), Channels, block);
    if (got < FramesPerBlock) Done = true;
    return true;
  }
  const std::string& Error() const override { return Err; }

private:
  SNDFILE* File;
  int Channels;
  bool Done = false;
  std::vector<short> Scratch;
  std::string Err;
};

// Reads float frames, converts them to 44100 Hz with SRC_SINC_BEST_QUALITY and
// rounds them back to 16 bits.
class TResamplingSource final : public TBlockSource {
public:
  TResamplingSource(SNDFILE* file, int channels, int rate)
      : File(file), Channels(channels), Ratio(static_cast<double>(SampleRate) / rate)
  {
    int err = 0;
    State = src_new(SRC_SINC_BEST_QUALITY, channels, &err);
    if (!State) Err = std::string("cannot start the resampler: ") + src_strerror(err);
    In.resize(static_cast<std::size_t>(InFrames) * channels);
    Out.resize(static_cast<std::size_t>(FramesPerBlock) * channels);
  }
  ~TResamplingSource() override
  {
    if (State) src_delete(State);
    sf_close(File);
  }
  bool Ok() const { return State != nullptr; }

  bool ReadBlock(TBlock& block) override
  {
    if (Done || !State) return false;
    long filled = 0;  // frames of Out already produced for this block
    while (filled < FramesPerBlock) {
      if (InAvail == 0 && !EndOfInput) {
        const sf_count_t got = sf_readf_float(File, In.data(), InFrames);
        InPos = 0;
        InAvail = got > 0 ? got : 0;
        if (got < InFrames) EndOfInput = true;
      }
      SRC_DATA d{};
      d.data_in = In.data() + InPos * Channels;
      d.input_frames = InAvail;
      d.data_out = Out.data() + filled * Channels;
      d.output_frames = FramesPerBlock - filled;
      d.end_of_input = EndOfInput ? 1 : 0;
      d.src_ratio = Ratio;
      const int err = src_process(State, &d);
      if (err) {
        Err = std::string("resampling failed: ") + src_strerror(err);
        Done = true;
        return false;
      }
      InPos += d.input_frames_used;
      InAvail -= d.input_frames_used;
      filled += d.output_frames_gen;
      if (EndOfInput && InAvail == 0 && d.output_frames_gen == 0) break;  // drained
    }
    if (filled == 0) {
      Done = true;
      return false;
    }
    Pcm.resize(static_cast<std::size_t>(filled) * Channels);
    src_float_to_short_array(Out.data(), Pcm.data(), static_cast<int>(Pcm.size()));
    SpreadToStereo(Pcm.data(), filled, Channels, block);
    if (filled < FramesPerBlock) Done = true;
    return true;
  }
  const std::string& Error() const override { return Err; }

private:
  static constexpr sf_count_t InFrames = 4096;
  SNDFILE* File;
  int Channels;
  double Ratio;
  SRC_STATE* State = nullptr;
  std::vector<float> In, Out;
  std::vector<short> Pcm;
  long InPos = 0, InAvail = 0;
  bool EndOfInput = false;
  bool Done = false;
  std::string Err;
};

class TRawSource final : public TBlockSource {
public:
  explicit TRawSource(std::FILE* stream) : Stream(stream) {}

  bool ReadBlock(TBlock& block) override
  {
    if (Done) return false;
    unsigned char bytes[BlockBytes];
    std::size_t got = 0;
    while (got < sizeof bytes) {
      const std::size_t n = std::fread(bytes + got, 1, sizeof bytes - got, Stream);
      if (n == 0) break;
      got += n;
    }
    if (std::ferror(Stream)) Err = std::string("cannot read standard input: ") + std::strerror(errno);
    if (got < sizeof bytes) Done = true;
    if (got < 4) {  // not even one whole frame
      if (!AnyBlock && Err.empty()) Err = "standard input holds no audio";
      return false;
    }
    AnyBlock = true;
    block.fill(0);
    const std::size_t samples = got / 2;
    for (std::size_t i = 0; i < samples; ++i)
      block[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    // A half frame at the very end is dropped with the rest of the padding.
    if (samples % 2) block[samples - 1] = 0;
    return true;
  }
  const std::string& Error() const override { return Err; }

private:
  std::FILE* Stream;
  bool Done = false;
  bool AnyBlock = false;
  std::string Err;
};

}  // namespace

std::unique_ptr<TBlockSource> OpenAudioFile(const std::string& path, std::string& error)
{
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    error = path + ": " + sf_strerror(nullptr);
    return nullptr;
  }
  if (info.channels < 1 || info.channels > 2) {
    sf_close(file);
    error = path + ": " + std::to_string(info.channels) +
            " channels; only mono and stereo recordings can be decoded";
    return nullptr;
  }
  if (info.frames <= 0) {
    sf_close(file);
    error = path + ": the file holds no audio";
    return nullptr;
  }
  if (info.samplerate <= 0) {
    sf_close(file);
    error = path + ": invalid sample rate";
    return nullptr;
  }
  if (info.samplerate == SampleRate) return std::make_unique<TSndFileSource>(file, info.channels);
  auto src = std::make_unique<TResamplingSource>(file, info.channels, info.samplerate);
  if (!src->Ok()) {
    error = path + ": " + src->Error();
    return nullptr;
  }
  return src;
}

std::unique_ptr<TBlockSource> OpenRawStream(std::FILE* stream)
{
  return std::make_unique<TRawSource>(stream);
}

std::unique_ptr<TBlockSource> OpenInput(const std::string& name, std::string& error)
{
  if (name == "-") return OpenRawStream(stdin);
  return OpenAudioFile(name, error);
}

}  // namespace brontel
