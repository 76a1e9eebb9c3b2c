// brontel-decode and navtex-gen as a user runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <poll.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dsp/rates.h"
#include "support/harness.h"
#include "support/run_command.h"
#include "support/test_audio.h"

namespace {

namespace fs = std::filesystem;

const std::string Bin = BRONTEL_BINARY_DIR "/tools/";
const std::string Testdata = BRONTEL_TESTDATA_DIR;

using TRun = brontel::test::TCommandResult;

// Runs a shell command; standard error is dropped unless the command redirects it.
TRun RunCommand(const std::string& command)
{
  const bool ownStderr = command.find("2>") != std::string::npos;
  return brontel::test::RunShell(ownStderr ? command : command + " 2>/dev/null");
}

std::string Temp(const std::string& name)
{
  return (fs::temp_directory_path() / ("brontel-tool-" + std::to_string(::getpid()) + "-" + name)).string();
}

TEST(DecodeTool, EnglishSampleRecordingDecodesToItsLine)
{
  const std::string wav = Testdata + "/english-sample-11025hz.wav";
  ASSERT_TRUE(fs::exists(wav)) << wav;
  const TRun r = RunCommand(Bin + "brontel-decode --centf 1000 " + wav);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "NOW IS THE TIME FOR ALL GOOD MEN TO COME TO THE AID OF THEIR COUNTRY.\n");
}

TEST(DecodeTool, BitsOfTheSampleRecordingComeTenPerBlock)
{
  const std::string wav = Testdata + "/english-sample-11025hz.wav";
  ASSERT_TRUE(fs::exists(wav)) << wav;
  const TRun r = RunCommand(Bin + "brontel-decode --bits --centf 1000 " + wav);
  ASSERT_EQ(r.Status, 0);
  std::istringstream in(r.Out);
  std::string line;
  int blocks = 0, total = 0;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    int index, count;
    std::string bits;
    f >> index >> count >> bits;
    EXPECT_EQ(index, blocks);
    EXPECT_EQ(static_cast<int>(bits.size()), count);
    EXPECT_EQ(bits.find_first_not_of("01"), std::string::npos);
    if (blocks > 0 && blocks < 160) {
      EXPECT_GE(count, 9) << line;
      EXPECT_LE(count, 11) << line;
    }
    total += count;
    ++blocks;
  }
  EXPECT_EQ(blocks, 171);  // 17.1 s
  EXPECT_NEAR(total, 1710, 30);
}

TEST(DecodeTool, GeneratedMessagesComeBackThroughAPipe)
{
  const std::string wav = Temp("pipe.wav");
  ASSERT_EQ(RunCommand(Bin + "navtex-gen --phasing 3 --text 'ZCZC AB12\nGALE WARNING 8\nNNNN' " + wav).Status, 0);
  // Raw PCM on standard input: strip the 44-byte WAV header.
  const TRun r = RunCommand("tail -c +45 " + wav + " | " + Bin + "brontel-decode -");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "ZCZC AB12\nGALE WARNING 8\nNNNN\n");
  fs::remove(wav);
}

TEST(DecodeTool, JapaneseComesOutAsUtf8OrRawCodePage932)
{
  const std::string wav = Temp("jpn.wav");
  ASSERT_EQ(RunCommand(Bin + "navtex-gen --service jpn --phasing 3 --text '航行警報' " + wav).Status, 0);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode " + wav).Out, "航行警報\n");
  EXPECT_EQ(RunCommand(Bin + "brontel-decode --encoding cp932 " + wav).Out, "\x8D\x71\x8D\x73\x8C\x78\x95\xF1\n");
  fs::remove(wav);
}

// Reads from fd until `want` has arrived or `seconds` have passed.
std::string ReadUntil(int fd, const std::string& want, double seconds)
{
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (got.find(want) == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

TEST(DecodeTool, LinesAppearWhileTheInputIsStillOpen)
{
  const std::string wav = Temp("stream.wav");
  ASSERT_EQ(RunCommand(Bin + "navtex-gen --phasing 2 --idle 30 --text 'FIRST LINE\nSECOND' " + wav).Status, 0);
  std::FILE* f = std::fopen(wav.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<char> pcm;
  char buf[65536];
  std::size_t n;
  std::fseek(f, 44, SEEK_SET);
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) pcm.insert(pcm.end(), buf, buf + n);
  std::fclose(f);
  fs::remove(wav);

  int toChild[2], fromChild[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(fromChild), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(toChild[0], 0);
    ::dup2(fromChild[1], 1);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    const std::string exe = Bin + "brontel-decode";
    ::execl(exe.c_str(), exe.c_str(), "-", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  // Everything but the long idle at the end: both lines are complete and the
  // input stays open.
  const std::size_t part = pcm.size() - 25 * static_cast<std::size_t>(brontel::BlockBytes);
  std::size_t written = 0;
  while (written < part) {
    const ssize_t w = ::write(toChild[1], pcm.data() + written, part - written);
    if (w <= 0) break;
    written += static_cast<std::size_t>(w);
  }
  EXPECT_EQ(ReadUntil(fromChild[0], "SECOND\n", 20.0), "FIRST LINE\nSECOND\n");
  ::close(toChild[1]);
  EXPECT_EQ(ReadUntil(fromChild[0], "never", 20.0), "");
  ::close(fromChild[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DecodeTool, StatusReportsModePolarityAndSync)
{
  const std::string wav = Temp("status.wav");
  ASSERT_EQ(RunCommand(Bin + "navtex-gen --invert --phasing 3 --text 'NEG' " + wav).Status, 0);
  const TRun r = RunCommand(Bin + "brontel-decode --status " + wav + " 2>&1 >/dev/null");
  fs::remove(wav);
  EXPECT_NE(r.Out.find("mode ENG"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("polarity NEG"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("] sync"), std::string::npos) << r.Out;
}

TEST(DecodeTool, StatusIsStampedWithTheEndOfTheBlockThatBroughtIt)
{
  const std::vector<int16_t> pcm = brontel::test::EnglishEmission("STAMP\n");
  // The block in which the same receiver, fed the same samples, gets in step.
  brontel::test::THarness rx;
  long syncBlock = -1;
  for (std::size_t start = 0; start < pcm.size() && syncBlock < 0; start += brontel::FramesPerBlock) {
    const std::size_t end = std::min(pcm.size(), start + brontel::FramesPerBlock);
    rx.FeedPcm(std::vector<int16_t>(pcm.begin() + static_cast<long>(start), pcm.begin() + static_cast<long>(end)));
    if (rx.Ch().InSync()) syncBlock = static_cast<long>(start / brontel::FramesPerBlock);
  }
  ASSERT_GT(syncBlock, 0);

  const std::string wav = Temp("stamp.wav");
  brontel::test::WriteStereoWav(wav, pcm, false);
  const TRun r = RunCommand(Bin + "brontel-decode --status " + wav + " 2>&1 >/dev/null");
  fs::remove(wav);
  char want[64];
  std::snprintf(want, sizeof want, "[%9.1f s] sync\n", (syncBlock + 1) * 0.1);
  EXPECT_NE(r.Out.find(want), std::string::npos) << "expected " << want << "in\n" << r.Out;
  EXPECT_EQ(r.Out.rfind("[      0.0 s] mode JPN\n", 0), 0u) << r.Out;  // the state before any input
}

// A 32-bit float mono WAV of one emission at `rate`.
void WriteFloatWav(const std::string& path, int rate, const std::string& text)
{
  std::vector<uint8_t> codes;
  std::string error;
  ASSERT_TRUE(brontel::gen::EnglishCodes(text, codes, error)) << error;
  brontel::gen::TEmission emission;
  emission.PhasingSeconds = 3.0;
  emission.IdleSeconds = 1.0;
  brontel::gen::TFskParams fsk;
  fsk.SampleRate = rate;
  const std::vector<int16_t> pcm = brontel::gen::ModulateFsk(brontel::gen::EmissionBits(codes, emission), fsk);
  std::vector<float> samples(pcm.size());
  for (std::size_t i = 0; i < pcm.size(); ++i) samples[i] = static_cast<float>(pcm[i]) / 32768.0f;
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size())),
            static_cast<sf_count_t>(samples.size()));
  sf_close(f);
}

TEST(DecodeTool, FloatingPointRecordingsDecodeAtAnyRate)
{
  for (int rate : {44100, 48000}) {
    const std::string wav = Temp("float-" + std::to_string(rate) + ".wav");
    WriteFloatWav(wav, rate, "ZCZC FL01\nFLOAT SAMPLES\nNNNN\n");
    const TRun r = RunCommand(Bin + "brontel-decode " + wav);
    fs::remove(wav);
    EXPECT_EQ(r.Status, 0) << rate;
    EXPECT_EQ(r.Out, "ZCZC FL01\nFLOAT SAMPLES\nNNNN\n") << rate;
  }
}

TEST(DecodeTool, OutputThatCannotBeWrittenEndsTheRunWithStatus1)
{
  const std::string wav = Temp("full.wav");
  ASSERT_EQ(RunCommand(Bin + "navtex-gen --phasing 2 --text 'LOST LINE' " + wav).Status, 0);
  for (const std::string options : {"", "--bits "}) {
    const TRun r = RunCommand(Bin + "brontel-decode " + options + wav + " 2>&1 >/dev/full");
    EXPECT_EQ(r.Status, 1) << options;
    EXPECT_NE(r.Out.find("cannot write to standard output"), std::string::npos) << r.Out;
  }
  fs::remove(wav);

  const TRun gen = RunCommand(Bin + "navtex-gen --phasing 1 --text A /dev/full 2>&1");
  EXPECT_EQ(gen.Status, 1);
  EXPECT_NE(gen.Out.find("/dev/full"), std::string::npos) << gen.Out;
}

TEST(DecodeTool, AFailedWriteLeavesTheOldFileWhole)
{
  // A file size limit makes the write fail part-way, as a full disk would.
  const std::string wav = Temp("old.wav");
  std::FILE* f = std::fopen(wav.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("the old file", f);
  std::fclose(f);
  const TRun r = RunCommand("trap '' XFSZ; ulimit -f 64; " + Bin + "navtex-gen --phasing 5 --text A " + wav + " 2>&1");
  EXPECT_EQ(r.Status, 1) << r.Out;
  std::ifstream in(wav, std::ios::binary);
  const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "the old file");
  fs::remove(wav);
  for (const auto& e : fs::directory_iterator(fs::path(wav).parent_path()))
    EXPECT_EQ(e.path().filename().string().find(".brontel-tool-" + std::to_string(::getpid()) + "-old.wav."),
              std::string::npos)
        << "temporary file left behind: " << e.path();
}

TEST(DecodeTool, BadUsageAndBadInputAreReported)
{
  EXPECT_EQ(RunCommand(Bin + "brontel-decode").Status, 2);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode --centf 150 x.wav").Status, 2);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode --centf abc x.wav").Status, 2);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode --bogus x.wav").Status, 2);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode --encoding latin1 x.wav").Status, 2);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode /nonexistent/file.wav").Status, 1);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode - < /dev/null").Status, 1);
  EXPECT_EQ(RunCommand(Bin + "brontel-decode --help").Status, 0);
  EXPECT_EQ(RunCommand(Bin + "navtex-gen --text 'BAD #' " + Temp("x.wav")).Status, 1);
  EXPECT_EQ(RunCommand(Bin + "navtex-gen --service jpn --text '€' " + Temp("x.wav")).Status, 1);
  EXPECT_EQ(RunCommand(Bin + "navtex-gen").Status, 2);

  const TRun folder = RunCommand(Bin + "brontel-decode " + fs::temp_directory_path().string() + " 2>&1");
  EXPECT_EQ(folder.Status, 1);
  EXPECT_NE(folder.Out.find("is a directory"), std::string::npos) << folder.Out;
}

}  // namespace
