#include "io/block_source.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <sys/stat.h>

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

// What every file source knows of its file: the name for messages, the
// handle, and how many frames the file said it holds against how many came.
struct TFileReading {
  TFileReading(std::string path, SNDFILE* file, const SF_INFO& info)
      : Path(std::move(path)), File(file), Channels(info.channels), Expected(info.frames),
        CountKnown((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_OGG &&
                   (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG)
  {
  }
  ~TFileReading() { sf_close(File); }
  TFileReading(const TFileReading&) = delete;
  TFileReading& operator=(const TFileReading&) = delete;

  // After a read that returned `got` frames of the `wanted`: at the end of
  // the data, a read error or a file that ended early (cut short while it
  // was being read) goes into `err`. Returns true at the end.
  bool Ended(sf_count_t got, sf_count_t wanted, std::string& err)
  {
    if (got > 0) Read += got;
    if (got >= wanted) return false;
    if (sf_error(File) != SF_ERR_NO_ERROR)
      err = Path + ": reading failed: " + sf_strerror(File);
    else if (CountKnown && Read < Expected)
      err = Path + ": the file ended after " + std::to_string(Read) + " of its " + std::to_string(Expected) +
            " frames (was it cut short while being read?)";
    return true;
  }

  std::string Path;
  SNDFILE* File;
  int Channels;
  sf_count_t Expected;
  sf_count_t Read = 0;
  bool CountKnown;
};

// Floating-point samples (nominally -1 to 1) are read as floats and rounded
// to 16 bits the way the resampler's output is, so that a recording gives the
// same levels whatever its rate; libsndfile's own float-to-integer reads would
// either leave them near zero or scale them to the file's peak.
bool IsFloatData(const SF_INFO& info)
{
  const int sub = info.format & SF_FORMAT_SUBMASK;
  return sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
}

// Reads whole frames at the source rate and spreads them to stereo; no
// resampling.
class TSndFileSource final : public TBlockSource {
public:
  TSndFileSource(std::string path, SNDFILE* file, const SF_INFO& info)
      : In(std::move(path), file, info), Float(IsFloatData(info))
  {
  }

  bool ReadBlock(TBlock& block) override
  {
    if (Done) return false;
    const std::size_t samples = static_cast<std::size_t>(FramesPerBlock) * In.Channels;
    Scratch.resize(samples);
    sf_count_t got;
    if (Float) {
      FloatScratch.resize(samples);
      got = sf_readf_float(In.File, FloatScratch.data(), FramesPerBlock);
      if (got > 0) src_float_to_short_array(FloatScratch.data(), Scratch.data(), static_cast<int>(got * In.Channels));
    } else {
      got = sf_readf_short(In.File, Scratch.data(), FramesPerBlock);
    }
    Done = In.Ended(got, FramesPerBlock, Err);
    if (got <= 0) return false;
    SpreadToStereo(Scratch.data(), static_cast<long>(got), In.Channels, block);
    return true;
  }
  const std::string& Error() const override { return Err; }

private:
  TFileReading In;
  bool Float;
  bool Done = false;
  std::vector<short> Scratch;
  std::vector<float> FloatScratch;
  std::string Err;
};

// Reads float frames, converts them to 44100 Hz with SRC_SINC_BEST_QUALITY and
// rounds them back to 16 bits.
class TResamplingSource final : public TBlockSource {
public:
  TResamplingSource(std::string path, SNDFILE* file, const SF_INFO& info)
      : File(std::move(path), file, info), Channels(info.channels), Rate(info.samplerate),
        Ratio(static_cast<double>(SampleRate) / info.samplerate)
  {
    int err = 0;
    State = src_new(SRC_SINC_BEST_QUALITY, Channels, &err);
    if (!State) Err = Failure("cannot start the resampler", err);
    In.resize(static_cast<std::size_t>(InFrames) * Channels);
    Out.resize(static_cast<std::size_t>(FramesPerBlock) * Channels);
  }
  ~TResamplingSource() override
  {
    if (State) src_delete(State);
  }
  bool Ok() const { return State != nullptr; }

  bool ReadBlock(TBlock& block) override
  {
    if (Done || !State) return false;
    long filled = 0;  // frames of Out already produced for this block
    while (filled < FramesPerBlock) {
      if (InAvail == 0 && !EndOfInput) {
        const sf_count_t got = sf_readf_float(File.File, In.data(), InFrames);
        InPos = 0;
        InAvail = got > 0 ? got : 0;
        if (File.Ended(got, InFrames, Err)) EndOfInput = true;
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
        Err = Failure("resampling failed", err);
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
  std::string Failure(const std::string& what, int err) const
  {
    return File.Path + ": " + what + " (" + std::to_string(Rate) + " Hz to " + std::to_string(SampleRate) +
           " Hz): " + src_strerror(err);
  }

  static constexpr sf_count_t InFrames = 4096;
  TFileReading File;
  int Channels;
  int Rate;
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
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = path + ": is a directory, not an audio file";
    return nullptr;
  }
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
  if (info.samplerate == SampleRate) return std::make_unique<TSndFileSource>(path, file, info);
  auto src = std::make_unique<TResamplingSource>(path, file, info);
  if (!src->Ok()) {
    error = src->Error();
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
