// Reading recordings and pipes into 44100 Hz stereo blocks.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>

#include <unistd.h>

#include "io/block_source.h"

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
  // A pipe delivers the bytes in odd pieces; the blocks must not depend on it.
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
  auto src = OpenRawStream(in);
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
  writer.join();
  std::fclose(in);
}

}  // namespace
}  // namespace brontel
