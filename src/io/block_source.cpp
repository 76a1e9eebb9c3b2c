#include "io/block_source.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace brontel {

namespace {

const std::string StandardInput = "standard input";

// `frames` frames of `channels` interleaved samples (mono or stereo) into a
// stereo block, a mono channel copied to both sides, the rest zero.
void SpreadToStereo(const short* in, long frames, int channels, TBlock& block)
{
  if (channels == 2) {
    std::copy(in, in + 2 * frames, block.begin());
  } else {
    for (long j = 0; j < frames; ++j) block[2 * j] = block[2 * j + 1] = in[j];
  }
  std::fill(block.begin() + 2 * frames, block.end(), int16_t{0});
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

// The one rule for floating-point samples, from raw f32 streams and float
// files alike: NaN is taken as silence and anything beyond ±1.0 is clipped to
// full scale, before anything else sees it (the resampler would carry a NaN
// on for the length of its filter). Both are counted and reported as a note
// at the end: the samples around them are decoded as usual, so they do not
// make the input fail.
class TFloatGuard {
public:
  float operator()(float v)
  {
    if (std::isnan(v)) {
      ++NotNumbers;
      return 0.0f;
    }
    if (v > 1.0f || v < -1.0f) {
      ++Clipped;
      return v > 0 ? 1.0f : -1.0f;
    }
    return v;
  }
  void Clean(float* v, std::size_t n)
  {
    for (std::size_t i = 0; i < n; ++i) v[i] = (*this)(v[i]);
  }
  // "N float samples were NaN ...; M ... were clipped", or empty.
  std::string Note(const std::string& name) const
  {
    std::string note;
    auto add = [&](const std::string& what) { note += (note.empty() ? name + ": " : "; ") + what; };
    if (NotNumbers > 0) add(std::to_string(NotNumbers) + " float samples were NaN and were taken as silence");
    if (Clipped > 0) add(std::to_string(Clipped) + " float samples beyond full scale (±1.0) were clipped");
    return note;
  }

private:
  long long NotNumbers = 0, Clipped = 0;
};

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
    if (Done || StopRequested()) return false;
    const std::size_t samples = static_cast<std::size_t>(FramesPerBlock) * In.Channels;
    Scratch.resize(samples);
    sf_count_t got;
    if (Float) {
      FloatScratch.resize(samples);
      got = sf_readf_float(In.File, FloatScratch.data(), FramesPerBlock);
      if (got > 0) {
        Guard.Clean(FloatScratch.data(), static_cast<std::size_t>(got * In.Channels));
        src_float_to_short_array(FloatScratch.data(), Scratch.data(), static_cast<int>(got * In.Channels));
      }
    } else if (In.Channels == 2) {
      // Stereo 16-bit frames are the block's own layout: read in place.
      got = sf_readf_short(In.File, block.data(), FramesPerBlock);
      Done = In.Ended(got, FramesPerBlock, Err);
      if (got <= 0) return false;
      std::fill(block.begin() + 2 * got, block.end(), int16_t{0});
      return true;
    } else {
      got = sf_readf_short(In.File, Scratch.data(), FramesPerBlock);
    }
    Done = In.Ended(got, FramesPerBlock, Err);
    if (got <= 0) return false;
    SpreadToStereo(Scratch.data(), static_cast<long>(got), In.Channels, block);
    return true;
  }
  const std::string& Error() const override { return Err; }
  std::string Note() const override { return Guard.Note(In.Path); }

private:
  TFileReading In;
  TFloatGuard Guard;
  bool Float;
  bool Done = false;
  std::vector<short> Scratch;
  std::vector<float> FloatScratch;
  std::string Err;
};

// Frames handed to the resampler at a time.
constexpr long InFrames = 4096;

// Float frames (1.0 full scale) at the source's own rate, for the resampler.
class TFloatFrames {
public:
  virtual ~TFloatFrames() = default;
  // Up to `frames` frames into `out`; returns how many. Sets `end` once the
  // input is exhausted, with what went wrong, if anything, put into `err`.
  virtual long ReadFloat(float* out, long frames, bool& end, std::string& err) = 0;
  // The input's name for messages.
  virtual const std::string& Name() const = 0;
  virtual std::size_t BufferBytes() const = 0;
  // What was mended in the samples, see TFloatGuard.
  virtual std::string Note() const = 0;
};

class TSndFileFrames final : public TFloatFrames {
public:
  TSndFileFrames(std::string path, SNDFILE* file, const SF_INFO& info)
      : File(std::move(path), file, info), Float(IsFloatData(info))
  {
  }

  long ReadFloat(float* out, long frames, bool& end, std::string& err) override
  {
    const sf_count_t got = sf_readf_float(File.File, out, frames);
    end = File.Ended(got, frames, err);
    if (got <= 0) return 0;
    if (Float) Guard.Clean(out, static_cast<std::size_t>(got * File.Channels));
    return static_cast<long>(got);
  }
  std::string Note() const override { return Guard.Note(File.Path); }
  const std::string& Name() const override { return File.Path; }
  std::size_t BufferBytes() const override { return 0; }  // libsndfile keeps its own

private:
  TFileReading File;
  bool Float;
  TFloatGuard Guard;
};

// Whole frames of raw little-endian PCM from a stream, whatever pieces its
// reads deliver, as 16-bit samples or as floats of full scale 1.0. Float input
// is clipped to ±1.0 and NaN taken as 0 before anything else sees it (the
// resampler would carry a NaN on for the length of its filter). At the end of
// the input, everything that was lost is reported in one line.
class TRawFrames final : public TFloatFrames {
public:
  // Reads of up to `chunk` frames, as 16-bit samples when `toShort`; `stop`
  // ends a read that waits for input.
  TRawFrames(std::FILE* stream, bool owned, std::string name, const TRawFormat& format, long chunk, bool toShort,
             const TStoppable& stop)
      : Stop(stop), Stream(stream), Owned(owned), Path(std::move(name)), Channels(format.Channels),
        Float(format.Sample == TRawFormat::TSample::F32), FrameBytes(format.Channels * (Float ? 4 : 2)),
        Chunk(chunk), Bytes(static_cast<std::size_t>(chunk) * FrameBytes),
        Floats(Float && toShort ? static_cast<std::size_t>(chunk) * Channels : 0)
  {
  }
  ~TRawFrames() override
  {
    if (Owned) std::fclose(Stream);
  }
  TRawFrames(const TRawFrames&) = delete;
  TRawFrames& operator=(const TRawFrames&) = delete;

  // Up to `frames` frames (at most a chunk) into `out` as 16-bit samples;
  // fewer than asked means the input has ended, and what was lost, if
  // anything, is then in `err`.
  long ReadShort(short* out, long frames, std::string& err)
  {
    const long got = Fill(frames);
    const std::size_t n = static_cast<std::size_t>(got) * Channels;
    if (Float) {
      for (std::size_t i = 0; i < n; ++i) Floats[i] = F32(i);
      src_float_to_short_array(Floats.data(), out, static_cast<int>(n));
    } else {
      for (std::size_t i = 0; i < n; ++i) out[i] = S16(i);
    }
    if (got < frames) err = Losses();
    return got;
  }

  long ReadFloat(float* out, long frames, bool& end, std::string& err) override
  {
    const long got = Fill(frames);
    const std::size_t n = static_cast<std::size_t>(got) * Channels;
    for (std::size_t i = 0; i < n; ++i) out[i] = Float ? F32(i) : S16(i) / 32768.0f;  // as libsndfile reads
    end = got < frames;
    if (end) err = Losses();
    return got;
  }

  const std::string& Name() const override { return Path; }
  std::size_t BufferBytes() const override { return Bytes.capacity() + Floats.capacity() * sizeof(float); }
  std::string Note() const override { return Guard.Note(Path); }
  int ChannelCount() const { return Channels; }

private:
  // Reads the bytes of `frames` frames, or what is left at the end; returns
  // how many whole frames came.
  long Fill(long frames)
  {
    const std::size_t wanted = static_cast<std::size_t>(std::min(frames, Chunk)) * FrameBytes;
    std::size_t got = 0;
    while (got < wanted && !Stop.StopRequested()) {
      errno = 0;
      const std::size_t n = std::fread(Bytes.data() + got, 1, wanted - got, Stream);
      got += n;
      if (got == wanted) break;
      if (std::ferror(Stream) && errno == EINTR) {
        // A signal came while waiting: go on reading unless it asked for a stop.
        std::clearerr(Stream);
        continue;
      }
      if (n == 0) break;
    }
    if (Stop.StopRequested()) {
      Stopped = true;
      got -= got % FrameBytes;  // a frame cut by the stop is not lost input
    } else if (got < wanted) {
      if (std::ferror(Stream)) ReadError = std::strerror(errno);
      PartialBytes = static_cast<int>(got % FrameBytes);
    }
    const long whole = static_cast<long>(got / FrameBytes);
    WholeFrames += whole;
    return whole;
  }

  short S16(std::size_t i) const
  {
    return static_cast<short>(static_cast<uint16_t>(Bytes[2 * i] | (Bytes[2 * i + 1] << 8)));
  }

  float F32(std::size_t i)
  {
    const unsigned char* b = &Bytes[4 * i];
    const auto bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                      (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return Guard(std::bit_cast<float>(bits));
  }

  std::string Losses() const
  {
    std::string lost;
    auto add = [&](const std::string& what) { lost += (lost.empty() ? Path + ": " : "; ") + what; };
    if (!ReadError.empty()) add("reading failed: " + ReadError);
    if (WholeFrames == 0 && ReadError.empty() && !Stopped) add("no audio (not one whole frame)");
    if (PartialBytes > 0)
      add("the input ended " + std::to_string(PartialBytes) + " bytes into a frame of " + std::to_string(FrameBytes) +
          " bytes; that partial frame was left out");
    return lost;
  }

  const TStoppable& Stop;
  std::FILE* Stream;
  bool Owned;
  bool Stopped = false;
  std::string Path;
  int Channels;
  bool Float;
  int FrameBytes;
  long Chunk;
  std::vector<unsigned char> Bytes;
  std::vector<float> Floats;  // F32 samples on their way to 16 bits
  TFloatGuard Guard;
  long long WholeFrames = 0;
  int PartialBytes = 0;
  std::string ReadError;
};

// Converts float frames to 44100 Hz with SRC_SINC_BEST_QUALITY, a fixed chunk
// of input at a time, and rounds them back to 16 bits.
class TResamplingSource final : public TBlockSource {
public:
  TResamplingSource(int channels, int rate)
      : Channels(channels), Rate(rate), Ratio(static_cast<double>(SampleRate) / rate)
  {
  }
  // Starts converting `input`; false (with Error() set) when the resampler
  // cannot be started.
  bool Start(std::unique_ptr<TFloatFrames> input)
  {
    Input = std::move(input);
    int err = 0;
    State = src_new(SRC_SINC_BEST_QUALITY, Channels, &err);
    if (!State) Err = Failure("cannot start the resampler", err);
    In.resize(static_cast<std::size_t>(InFrames) * Channels);
    Out.resize(static_cast<std::size_t>(FramesPerBlock) * Channels);
    Pcm.reserve(Out.size());
    return State != nullptr;
  }
  ~TResamplingSource() override
  {
    if (State) src_delete(State);
  }
  bool ReadBlock(TBlock& block) override
  {
    if (Done || !State || StopRequested()) return false;
    long filled = 0;  // frames of Out already produced for this block
    while (filled < FramesPerBlock) {
      if (InAvail == 0 && !EndOfInput) {
        bool end = false;
        InAvail = Input->ReadFloat(In.data(), InFrames, end, Err);
        InPos = 0;
        if (end) EndOfInput = true;
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
  std::string Note() const override { return Input ? Input->Note() : std::string(); }
  std::size_t BufferBytes() const override
  {
    return (In.capacity() + Out.capacity()) * sizeof(float) + Pcm.capacity() * sizeof(short) + Input->BufferBytes();
  }

private:
  std::string Failure(const std::string& what, int err) const
  {
    return Input->Name() + ": " + what + " (" + std::to_string(Rate) + " Hz to " + std::to_string(SampleRate) +
           " Hz): " + src_strerror(err);
  }

  std::unique_ptr<TFloatFrames> Input;
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

// Raw PCM at 44100 Hz: one block's frames at a time, spread to stereo; 16-bit
// samples pass through unchanged.
class TRawSource final : public TBlockSource {
public:
  TRawSource(std::FILE* stream, bool owned, std::string name, const TRawFormat& format)
      : In(stream, owned, std::move(name), format, FramesPerBlock, true, *this),
        Pcm(static_cast<std::size_t>(FramesPerBlock) * format.Channels)
  {
  }

  bool ReadBlock(TBlock& block) override
  {
    if (Done) return false;
    const long got = In.ReadShort(Pcm.data(), FramesPerBlock, Err);
    if (got < FramesPerBlock) Done = true;
    if (got == 0) return false;
    SpreadToStereo(Pcm.data(), got, In.ChannelCount(), block);
    return true;
  }
  const std::string& Error() const override { return Err; }
  std::string Note() const override { return In.Note(); }
  std::size_t BufferBytes() const override { return Pcm.capacity() * sizeof(short) + In.BufferBytes(); }

private:
  TRawFrames In;
  std::vector<short> Pcm;
  bool Done = false;
  std::string Err;
};

// A raw source of a checked format on `stream`, closed with it when `owned`.
std::unique_ptr<TBlockSource> OpenRaw(std::FILE* stream, bool owned, const std::string& name,
                                      const TRawFormat& format, std::string& error)
{
  if (format.Rate == SampleRate) return std::make_unique<TRawSource>(stream, owned, name, format);
  auto src = std::make_unique<TResamplingSource>(format.Channels, format.Rate);
  if (!src->Start(std::make_unique<TRawFrames>(stream, owned, name, format, InFrames, false, *src))) {
    error = src->Error();
    return nullptr;
  }
  return src;
}

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
  auto src = std::make_unique<TResamplingSource>(info.channels, info.samplerate);
  if (!src->Start(std::make_unique<TSndFileFrames>(path, file, info))) {
    error = src->Error();
    return nullptr;
  }
  return src;
}

std::string CheckRawFormat(const TRawFormat& format)
{
  if (format.Rate < MinRawRate || format.Rate > MaxRawRate)
    return "raw sample rate " + std::to_string(format.Rate) + " Hz is out of range (" + std::to_string(MinRawRate) +
           " to " + std::to_string(MaxRawRate) + " Hz)";
  if (format.Channels != 1 && format.Channels != 2)
    return "raw input with " + std::to_string(format.Channels) + " channels; only 1 (mono) or 2 (stereo) can be read";
  if (format.Sample != TRawFormat::TSample::S16 && format.Sample != TRawFormat::TSample::F32)
    return "unknown raw sample format (only s16 and f32 can be read)";
  return {};
}

std::unique_ptr<TBlockSource> OpenRawStream(std::FILE* stream)
{
  return std::make_unique<TRawSource>(stream, false, StandardInput, TRawFormat{});
}

std::unique_ptr<TBlockSource> OpenRawStream(std::FILE* stream, const TRawFormat& format, std::string& error)
{
  error = CheckRawFormat(format);
  if (!error.empty()) return nullptr;
  if (!stream) {
    error = "no stream to read raw audio from";
    return nullptr;
  }
  return OpenRaw(stream, false, StandardInput, format, error);
}

std::unique_ptr<TBlockSource> OpenRawInput(const std::string& name, const TRawFormat& format, std::string& error)
{
  if (name == "-") return OpenRawStream(stdin, format, error);
  error = CheckRawFormat(format);
  if (!error.empty()) return nullptr;
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = name + ": is a directory, not raw audio";
    return nullptr;
  }
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) {
    error = name + ": cannot be opened: " + std::strerror(errno);
    return nullptr;
  }
  return OpenRaw(file, true, name, format, error);
}

std::unique_ptr<TBlockSource> OpenInput(const std::string& name, std::string& error)
{
  if (name == "-") return OpenRawStream(stdin);
  return OpenAudioFile(name, error);
}

}  // namespace brontel
