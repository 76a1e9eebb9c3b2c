// brontel-decode and navtex-gen as a user runs them.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string Bin = BRONTEL_BINARY_DIR "/tools/";
const std::string Testdata = BRONTEL_TESTDATA_DIR;

struct TRun {
  int Status;
  std::string Out;
};

TRun RunCommand(const std::string& command)
{
  TRun r{-1, {}};
  std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.Out.append(buf.data(), n);
  const int st = ::pclose(p);
  r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Temp(const std::string& name)
{
  return (fs::temp_directory_path() / ("brontel-tool-" + std::to_string(::getpid()) + "-" + name)).string();
}

TEST(DecodeTool, EnglishSampleRecordingDecodesToItsLine)
{
  const std::string wav = Testdata + "/english-sample-11025hz.wav";
  if (!fs::exists(wav)) GTEST_SKIP() << "recording not available";
  const TRun r = RunCommand(Bin + "brontel-decode --centf 1000 " + wav);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "NOW IS THE TIME FOR ALL GOOD MEN TO COME TO THE AID OF THEIR COUNTRY.\n");
}

TEST(DecodeTool, BitsOfTheSampleRecordingComeTenPerBlock)
{
  const std::string wav = Testdata + "/english-sample-11025hz.wav";
  if (!fs::exists(wav)) GTEST_SKIP() << "recording not available";
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
}

}  // namespace
