// Reading recordings and pipes into 44100 Hz stereo blocks.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <thread>

#include <unistd.h>

#include "io/block_source.h"
#include "signal/navtex_signal.h"
#include "support/harness.h"

namespace brontel {
namespace {

namespace fs = std::filesystem;

class BlockSource : public ::testing::Test {
protected:
  void SetUp() override
  {
    Dir = fs::temp_directory_path() / ("brontel-source-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::string WriteWav(const std::string& name, int rate, int channels, const std::vector<short>& samples,
                       int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16)
  {
    const std::string path = (Dir / name).string();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (!f) return path;
    sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    return path;
  }

  fs::path Dir;
};

TEST_F(BlockSource, StereoAt44100IsPassedThroughUnchanged)
{
  std::vector<short> s(2 * (FramesPerBlock + 100));
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<short>(i * 7919 % 65536 - 32768);
  std::string err;
  auto src = OpenAudioFile(WriteWav("st.wav", 44100, 2, s), err);
  ASSERT_TRUE(src) << err;
  TBlock b;
  ASSERT_TRUE(src->ReadBlock(b));
  for (int i = 0; i < BlockSamples; ++i) ASSERT_EQ(b[i], s[i]) << i;
  ASSERT_TRUE(src->ReadBlock(b));  // the partial block, completed with zeros
  for (int i = 0; i < 200; ++i) ASSERT_EQ(b[i], s[BlockSamples + i]);
  for (int i = 200; i < BlockSamples; ++i) ASSERT_EQ(b[i], 0);
  EXPECT_FALSE(src->ReadBlock(b));
  EXPECT_TRUE(src->Error().empty());
}

TEST_F(BlockSource, MonoIsCopiedToBothChannels)
{
  std::vector<short> s(FramesPerBlock);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<short>(i);
  std::string err;
  auto src = OpenAudioFile(WriteWav("mono.flac", 44100, 1, s, SF_FORMAT_FLAC | SF_FORMAT_PCM_16), err);
  ASSERT_TRUE(src) << err;
  TBlock b;
  ASSERT_TRUE(src->ReadBlock(b));
  for (int j = 0; j < FramesPerBlock; ++j) {
    ASSERT_EQ(b[2 * j], s[j]);
    ASSERT_EQ(b[2 * j + 1], s[j]);
  }
  EXPECT_FALSE(src->ReadBlock(b));
}

TEST_F(BlockSource, OtherRatesAreResampledKeepingTheTone)
{
  // One second of 1000 Hz at 11025 Hz becomes one second at 44100 Hz.
  std::vector<short> s(11025);
  for (std::size_t n = 0; n < s.size(); ++n)
    s[n] = static_cast<short>(std::lround(10000 * std::sin(2 * std::numbers::pi * 1000 * n / 11025.0)));
  std::string err;
  auto src = OpenAudioFile(WriteWav("low.wav", 11025, 1, s), err);
  ASSERT_TRUE(src) << err;
  TBlock b;
  int blocks = 0;
  int crossings = 0;
  short prev = 0;
  while (src->ReadBlock(b)) {
    ++blocks;
    if (blocks >= 3 && blocks <= 7)  // 0.5 s away from the edges
      for (int j = 0; j < FramesPerBlock; ++j) {
        if (prev < 0 && b[2 * j] >= 0) ++crossings;
        prev = b[2 * j];
      }
  }
  EXPECT_EQ(blocks, 10);
  EXPECT_NEAR(crossings, 500, 2);
}

TEST_F(BlockSource, BadInputsGiveOneClearError)
{
  std::string err;
  EXPECT_FALSE(OpenAudioFile((Dir / "missing.wav").string(), err));
  EXPECT_NE(err.find("missing.wav"), std::string::npos);

  std::ofstream((Dir / "text.wav").string()) << "this is not audio at all\n";
  err.clear();
  EXPECT_FALSE(OpenAudioFile((Dir / "text.wav").string(), err));
  EXPECT_FALSE(err.empty());

  err.clear();
  EXPECT_FALSE(OpenAudioFile(WriteWav("empty.wav", 44100, 2, {}), err));
  EXPECT_NE(err.find("no audio"), std::string::npos);

  err.clear();
  EXPECT_FALSE(OpenAudioFile(WriteWav("four.wav", 44100, 4, std::vector<short>(400)), err));
  EXPECT_NE(err.find("4 channels"), std::string::npos);
}

TEST_F(BlockSource, AFolderIsNamedAsSuch)
{
  std::string err;
  EXPECT_FALSE(OpenAudioFile(Dir.string(), err));
  EXPECT_NE(err.find("is a directory"), std::string::npos) << err;
}

TEST_F(BlockSource, ResamplerFailuresNameTheFileAndTheRate)
{
  // 100 Hz is beyond what the converter can bring to 44100 Hz in one ratio.
  const std::string path = WriteWav("slow.wav", 100, 1, std::vector<short>(500, 1000));
  std::string err;
  auto src = OpenAudioFile(path, err);
  ASSERT_TRUE(src) << err;
  TBlock b;
  EXPECT_FALSE(src->ReadBlock(b));
  EXPECT_NE(src->Error().find("slow.wav"), std::string::npos) << src->Error();
  EXPECT_NE(src->Error().find("100 Hz"), std::string::npos) << src->Error();
}

TEST_F(BlockSource, AFileCutShortWhileBeingReadIsReported)
{
  // At the capture rate and at another one (the resampling reader).
  for (int rate : {44100, 22050}) {
    const std::string path = WriteWav("cut.wav", rate, 2, std::vector<short>(2 * 5 * rate / 10, 100));
    std::string err;
    auto src = OpenAudioFile(path, err);
    ASSERT_TRUE(src) << err;
    fs::resize_file(path, 44 + 4 * rate / 10);  // the header and 0.1 s are left
    TBlock b;
    int blocks = 0;
    while (src->ReadBlock(b)) ++blocks;
    EXPECT_LT(blocks, 5) << rate;
    EXPECT_NE(src->Error().find("cut.wav"), std::string::npos) << rate << ": " << src->Error();
  }
}

TEST_F(BlockSource, RawStreamIsCutIntoWholeBlocksWhateverTheReads)
{
  // A pipe delivers the bytes in odd pieces; the blocks must not depend on it,
  // and the default raw format passes them through unchanged.
  for (bool formatGiven : {false, true}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::size_t total = BlockBytes * 2 + 1000;
    std::vector<unsigned char> bytes(total);
    for (std::size_t i = 0; i < total; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + 7);
    std::thread writer([&] {
      std::size_t pos = 0, piece = 257;
      while (pos < total) {
        const std::size_t n = std::min(piece, total - pos);
        ssize_t w = ::write(fds[1], bytes.data() + pos, n);
        if (w <= 0) break;
        pos += static_cast<std::size_t>(w);
        piece = piece == 257 ? 1021 : 257;
      }
      ::close(fds[1]);
    });
    std::FILE* in = ::fdopen(fds[0], "rb");
    std::string err;
    auto src = formatGiven ? OpenRawStream(in, TRawFormat{}, err) : OpenRawStream(in);
    ASSERT_TRUE(src) << err;
    TBlock b;
    for (int blk = 0; blk < 2; ++blk) {
      ASSERT_TRUE(src->ReadBlock(b));
      for (int i = 0; i < BlockSamples; ++i) {
        const std::size_t at = blk * BlockBytes + 2 * i;
        ASSERT_EQ(static_cast<uint16_t>(b[i]), bytes[at] | (bytes[at + 1] << 8));
      }
    }
    ASSERT_TRUE(src->ReadBlock(b));
    EXPECT_EQ(b[499], static_cast<int16_t>(bytes[2 * BlockBytes + 998] | (bytes[2 * BlockBytes + 999] << 8)));
    EXPECT_EQ(b[500], 0);
    EXPECT_FALSE(src->ReadBlock(b));
    EXPECT_EQ(src->Error(), "");
    writer.join();
    std::fclose(in);
  }
}

// --- Raw streams of other rates, channels and sample formats -----------------

// Raw little-endian bytes of `channels` (one or two, all the same length) in `format`.
std::string RawBytes(const std::vector<std::vector<int16_t>>& channels, TRawFormat::TSample sample)
{
  std::string out;
  for (std::size_t i = 0; i < channels[0].size(); ++i)
    for (const auto& c : channels) {
      const uint32_t v = sample == TRawFormat::TSample::S16 ? static_cast<uint16_t>(c[i])
                                                             : std::bit_cast<uint32_t>(c[i] / 32768.0f);
      for (int k = 0; k < (sample == TRawFormat::TSample::S16 ? 2 : 4); ++k) out += static_cast<char>(v >> (8 * k));
    }
  return out;
}

// One English emission at `rate` Hz (25 dB SNR) with noise before it.
std::vector<int16_t> EmissionAt(int rate, const std::string& text)
{
  std::vector<uint8_t> codes;
  std::string err;
  EXPECT_TRUE(gen::EnglishCodes(text, codes, err)) << err;
  gen::TEmission e;
  e.PhasingSeconds = 3.0;
  e.IdleSeconds = 1.0;
  gen::TFskParams fsk;
  fsk.SnrDb = 25.0;
  fsk.SampleRate = rate;
  std::vector<int16_t> pcm = gen::NoiseOnly(0.3, fsk, 3);
  const auto signal = gen::ModulateFsk(gen::EmissionBits(codes, e), fsk);
  pcm.insert(pcm.end(), signal.begin(), signal.end());
  return pcm;
}

// The text a receiver decodes from `src` (its left channel); `mono` checks
// that both channels came out the same.
std::string DecodeAll(TBlockSource& src, bool mono)
{
  test::THarness h;
  TBlock b;
  int unequal = 0;
  while (src.ReadBlock(b)) {
    for (int j = 0; mono && j < FramesPerBlock; ++j) unequal += b[2 * j] != b[2 * j + 1];
    h.Session.ProcessBlock(b);
  }
  EXPECT_EQ(src.Error(), "");
  EXPECT_EQ(unequal, 0);
  return h.Text();
}

// Writes `bytes` into a pipe, in odd pieces, from a thread of its own; `In`
// is the reading end. What a failed test leaves unread is drained at the end.
struct TPipeWriter {
  explicit TPipeWriter(std::string bytes) : Bytes(std::move(bytes))
  {
    int fds[2];
    if (::pipe(fds) != 0) return;
    In = ::fdopen(fds[0], "rb");
    Writer = std::thread([this, out = fds[1]] {
      std::size_t pos = 0, piece = 509;
      while (pos < Bytes.size()) {
        const ssize_t w = ::write(out, Bytes.data() + pos, std::min(piece, Bytes.size() - pos));
        if (w <= 0) break;
        pos += static_cast<std::size_t>(w);
        piece = piece == 509 ? 2039 : 509;
      }
      ::close(out);
    });
  }
  ~TPipeWriter()
  {
    char rest[4096];
    while (In && std::fread(rest, 1, sizeof rest, In) > 0) {
    }
    if (Writer.joinable()) Writer.join();
    if (In) std::fclose(In);
  }
  std::string Bytes;
  std::FILE* In = nullptr;
  std::thread Writer;
};

TEST_F(BlockSource, RawStreamsFromSdrProgramsDecodeToTheSentText)
{
  using S = TRawFormat::TSample;
  struct TCase {
    TRawFormat Format;
    bool Pipe;
  };
  const std::string text = "ZCZC OA01\nRAW INPUT 0123\nNNNN\n";
  for (const TCase& c : {TCase{{12000, 1, S::S16}, false}, TCase{{48000, 1, S::F32}, false},
                         TCase{{22050, 2, S::S16}, false}, TCase{{12000, 1, S::S16}, true}}) {
    const std::string what = std::to_string(c.Format.Rate) + " Hz, " + std::to_string(c.Format.Channels) +
                             " channels" + (c.Pipe ? ", pipe" : ", file");
    const std::vector<int16_t> left = EmissionAt(c.Format.Rate, text);
    // The right channel carries nothing: decoding it instead would find no text.
    std::vector<std::vector<int16_t>> channels{left};
    if (c.Format.Channels == 2) channels.emplace_back(left.size(), 0);
    const std::string bytes = RawBytes(channels, c.Format.Sample);
    std::string err;
    if (c.Pipe) {
      TPipeWriter pipe(bytes);
      ASSERT_NE(pipe.In, nullptr);
      auto src = OpenRawStream(pipe.In, c.Format, err);
      ASSERT_TRUE(src) << err;
      EXPECT_EQ(DecodeAll(*src, true), text) << what;
    } else {
      const std::string path = (Dir / "sdr.raw").string();
      std::ofstream(path, std::ios::binary) << bytes;
      auto src = OpenRawInput(path, c.Format, err);
      ASSERT_TRUE(src) << err;
      EXPECT_EQ(DecodeAll(*src, c.Format.Channels == 1), text) << what;
    }
  }
}

TEST_F(BlockSource, RawSamplesComeOutAsTheSameSamplesInAFile)
{
  using S = TRawFormat::TSample;
  std::vector<short> tone(30000);
  for (std::size_t n = 0; n < tone.size(); ++n)
    tone[n] = static_cast<short>(std::lround(30000 * std::sin(0.05 * n) * std::cos(0.0013 * n)));
  for (const TRawFormat f :
       {TRawFormat{22050, 1, S::S16}, TRawFormat{22050, 2, S::F32}, TRawFormat{44100, 1, S::F32}}) {
    std::vector<short> interleaved;
    std::vector<std::vector<int16_t>> channels(f.Channels);
    for (std::size_t n = 0; n < tone.size() / 2; ++n)
      for (int c = 0; c < f.Channels; ++c) {
        const short v = tone[(n + 7000 * c) % tone.size()];
        interleaved.push_back(v);
        channels[c].push_back(v);
      }
    std::string wav = (Dir / "same.wav").string();
    if (f.Sample == S::S16) {
      wav = WriteWav("same.wav", f.Rate, f.Channels, interleaved);
    } else {
      SF_INFO info{};
      info.samplerate = f.Rate;
      info.channels = f.Channels;
      info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
      SNDFILE* out = sf_open(wav.c_str(), SFM_WRITE, &info);
      ASSERT_NE(out, nullptr) << sf_strerror(nullptr);
      std::vector<float> floats;
      for (short v : interleaved) floats.push_back(v / 32768.0f);
      sf_write_float(out, floats.data(), static_cast<sf_count_t>(floats.size()));
      sf_close(out);
    }
    std::string err;
    auto file = OpenAudioFile(wav, err);
    ASSERT_TRUE(file) << err;
    const std::string rawPath = (Dir / "same.raw").string();
    std::ofstream(rawPath, std::ios::binary) << RawBytes(channels, f.Sample);
    auto raw = OpenRawInput(rawPath, f, err);
    ASSERT_TRUE(raw) << err;
    TBlock a, b;
    int blocks = 0;
    while (file->ReadBlock(a)) {
      ASSERT_TRUE(raw->ReadBlock(b)) << f.Rate << " block " << blocks;
      ASSERT_EQ(a, b) << f.Rate << " block " << blocks;
      ++blocks;
    }
    EXPECT_FALSE(raw->ReadBlock(b));
    EXPECT_GT(blocks, 1);
    EXPECT_EQ(raw->Error(), "");
  }
}

TEST_F(BlockSource, ALongRawStreamIsConvertedInConstantMemory)
{
  // Two minutes of 16-bit mono at 12 kHz (2.9 MB) through a pipe.
  constexpr int Rate = 12000, Seconds = 120;
  std::vector<int16_t> tone(static_cast<std::size_t>(Rate) * Seconds);
  for (std::size_t n = 0; n < tone.size(); ++n)
    tone[n] = static_cast<int16_t>(std::lround(8000 * std::sin(2 * std::numbers::pi * 800 * n / Rate)));
  TPipeWriter pipe(RawBytes({tone}, TRawFormat::TSample::S16));
  ASSERT_NE(pipe.In, nullptr);
  std::string err;
  auto src = OpenRawStream(pipe.In, TRawFormat{Rate, 1, TRawFormat::TSample::S16}, err);
  ASSERT_TRUE(src) << err;
  const std::size_t buffers = src->BufferBytes();
  EXPECT_GT(buffers, 0u);
  EXPECT_LT(buffers, 256u * 1024);
  TBlock b;
  long blocks = 0;
  std::size_t most = buffers;
  while (src->ReadBlock(b)) {
    ++blocks;
    most = std::max(most, src->BufferBytes());
  }
  EXPECT_EQ(most, buffers);
  EXPECT_NEAR(blocks, 10L * Seconds, 1);
  EXPECT_EQ(src->Error(), "");
}

TEST_F(BlockSource, BadRawFormatsAndInputsAreRefusedWithAMessage)
{
  using S = TRawFormat::TSample;
  EXPECT_EQ(CheckRawFormat({MinRawRate, 1, S::S16}), "");
  EXPECT_EQ(CheckRawFormat({MaxRawRate, 2, S::F32}), "");
  for (const TRawFormat f : {TRawFormat{999, 1, S::S16}, TRawFormat{1000001, 1, S::S16}, TRawFormat{0, 2, S::S16},
                             TRawFormat{12000, 0, S::S16}, TRawFormat{12000, 3, S::F32},
                             TRawFormat{12000, 1, static_cast<S>(7)}}) {
    const std::string why = CheckRawFormat(f);
    EXPECT_NE(why, "") << f.Rate << " Hz, " << f.Channels << " channels";
    std::string err;
    EXPECT_FALSE(OpenRawStream(stdin, f, err));
    EXPECT_EQ(err, why);
    err.clear();
    EXPECT_FALSE(OpenRawInput("-", f, err));
    EXPECT_EQ(err, why);
  }
  EXPECT_NE(CheckRawFormat({999, 1, S::S16}).find("999 Hz"), std::string::npos);
  EXPECT_NE(CheckRawFormat({12000, 3, S::S16}).find("3 channels"), std::string::npos);

  std::string err;
  EXPECT_FALSE(OpenRawInput((Dir / "missing.raw").string(), TRawFormat{}, err));
  EXPECT_NE(err.find("missing.raw: cannot be opened"), std::string::npos) << err;
  err.clear();
  EXPECT_FALSE(OpenRawInput(Dir.string(), TRawFormat{}, err));
  EXPECT_NE(err.find("is a directory"), std::string::npos) << err;
}

TEST_F(BlockSource, WhatARawStreamLosesAtItsEndIsReported)
{
  using S = TRawFormat::TSample;
  const std::string path = (Dir / "end.raw").string();
  std::string failure;  // Error() of the last read: what counts as lost input
  // Everything the source reports at the end: its error and its note.
  auto read = [&](const std::string& bytes, const TRawFormat& f, std::vector<TBlock>& blocks) {
    std::ofstream(path, std::ios::binary) << bytes;
    std::string err;
    auto src = OpenRawInput(path, f, err);
    EXPECT_TRUE(src) << err;
    blocks.clear();
    if (!src) return err;
    TBlock b;
    while (src->ReadBlock(b)) blocks.push_back(b);
    failure = src->Error();
    return src->Error() + src->Note();
  };
  auto f32 = [](float v) {
    std::string s(4, '\0');
    for (int k = 0; k < 4; ++k) s[k] = static_cast<char>(std::bit_cast<uint32_t>(v) >> (8 * k));
    return s;
  };
  std::vector<TBlock> blocks;

  // A frame cut short: directly and through the converter.
  std::string why = read(std::string(4 * FramesPerBlock + 6, '\1'), TRawFormat{}, blocks);
  EXPECT_EQ(blocks.size(), 2u);
  EXPECT_NE(why.find("end.raw: the input ended 2 bytes into a frame of 4 bytes"), std::string::npos) << why;
  why = read(std::string(4 * 5000 + 3, '\0'), TRawFormat{12000, 1, S::F32}, blocks);
  EXPECT_EQ(blocks.size(), 5u);
  EXPECT_NE(why.find("3 bytes into a frame of 4 bytes"), std::string::npos) << why;

  // NaN is silence and beyond ±1.0 is clipped, and both are counted.
  why = read(f32(std::numeric_limits<float>::quiet_NaN()) + f32(2.0f) + f32(-INFINITY) + f32(0.5f),
             TRawFormat{44100, 1, S::F32}, blocks);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0][0], 0);
  EXPECT_EQ(blocks[0][2], 32767);
  EXPECT_EQ(blocks[0][4], -32768);
  EXPECT_EQ(blocks[0][6], 16384);
  EXPECT_NE(why.find("1 float samples were NaN"), std::string::npos) << why;
  EXPECT_NE(why.find("2 float samples beyond full scale"), std::string::npos) << why;
  EXPECT_EQ(failure, "") << "mended samples are a note, not a failure of the input";

  // A NaN must not reach the converter, which would smear it over its filter:
  // the stream comes out as if it had been 0.
  std::string tone;
  for (int n = 0; n < 3000; ++n) tone += f32(0.5f * std::sin(0.3f * static_cast<float>(n)));
  std::string withNan = tone;
  withNan.replace(4 * 1500, 4, f32(NAN));
  tone.replace(4 * 1500, 4, f32(0.0f));
  std::vector<TBlock> clean;
  EXPECT_EQ(read(tone, TRawFormat{22050, 1, S::F32}, clean), "");
  why = read(withNan, TRawFormat{22050, 1, S::F32}, blocks);
  EXPECT_EQ(blocks, clean);
  EXPECT_NE(why.find("1 float samples were NaN"), std::string::npos) << why;

  // Nothing at all, or less than a frame.
  EXPECT_NE(read("", TRawFormat{}, blocks).find("no audio"), std::string::npos);
  why = read("abc", TRawFormat{12000, 2, S::S16}, blocks);
  EXPECT_TRUE(blocks.empty());
  EXPECT_NE(why.find("no audio"), std::string::npos) << why;
  EXPECT_NE(why.find("3 bytes into a frame of 4 bytes"), std::string::npos) << why;
}

}  // namespace
}  // namespace brontel
