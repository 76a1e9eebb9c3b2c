// brontel-decode --snapshot DIR: the PNG files hold exactly the rasters the
// displays draw for the same input.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <QImage>

#include "core/receiver.h"
#include "display/displays.h"
#include "display/qt/qt_text_renderer.h"
#include "fsk_signal.h"

namespace brontel {
namespace {

namespace fs = std::filesystem;

int RunTool(const std::string& command)
{
  const int st = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Runs a shell command and collects its standard output.
int RunTool(const std::string& command, std::string& out)
{
  out.clear();
  std::FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string ReadWhole(const fs::path& path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string Tools = BRONTEL_BINARY_DIR "/tools/";

class SnapshotTool : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_NE(EnsureGuiApplication(), nullptr); }
  static void TearDownTestSuite() { ReleaseGuiApplication(); }
  void SetUp() override
  {
    Dir = fs::temp_directory_path() / ("brontel-snapshot-" + std::to_string(::getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  fs::path Dir;
};

void ExpectSameImage(const QImage& png, const TRaster& r)
{
  ASSERT_FALSE(png.isNull());
  ASSERT_EQ(png.width(), r.Width());
  ASSERT_EQ(png.height(), r.Height());
  for (int y = 0; y < r.Height(); ++y)
    for (int x = 0; x < r.Width(); ++x) {
      const QColor c = png.pixelColor(x, y);
      const TColor e = r.Pixel(x, y);
      ASSERT_TRUE(c.red() == e.R && c.green() == e.G && c.blue() == e.B) << x << "," << y;
    }
}

TEST_F(SnapshotTool, PngFilesHoldTheRasters)
{
  // 3 s of the test FSK as raw PCM on standard input.
  const fs::path pcm = Dir / "input.raw";
  constexpr int Blocks = 30;
  auto rx = std::make_unique<TReceiver>();
  rx->CentF = 800.0;
  TQtTextRenderer text;
  TDisplays displays(*rx, &text);
  rx->Displays = &displays;
  {
    std::FILE* f = std::fopen(pcm.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    test::TFskSource source;
    std::array<int16_t, BlockSamples> block;
    for (int b = 0; b < Blocks; ++b) {
      source.Next(block);
      ASSERT_EQ(std::fwrite(block.data(), sizeof(int16_t), block.size(), f), block.size());
      ProcessBlock(*rx, block);
    }
    std::fclose(f);
  }
  const fs::path out = Dir / "snap" / "deeper";  // created by the tool
  const std::string tool = BRONTEL_BINARY_DIR "/tools/brontel-decode";
  ASSERT_EQ(RunTool(tool + " --snapshot " + out.string() + " - < " + pcm.string()), 0);
  ExpectSameImage(QImage(QString::fromStdString((out / "spectrum.png").string())), displays.SpectrumBitmap());
  ExpectSameImage(QImage(QString::fromStdString((out / "eye.png").string())), displays.EyeBitmap());
}

TEST_F(SnapshotTool, NoSnapshotWithoutTheOption)
{
  const fs::path pcm = Dir / "silence.raw";
  {
    std::FILE* f = std::fopen(pcm.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::array<int16_t, BlockSamples> zero{};
    std::fwrite(zero.data(), sizeof(int16_t), zero.size(), f);
    std::fclose(f);
  }
  const std::string tool = BRONTEL_BINARY_DIR "/tools/brontel-decode";
  ASSERT_EQ(RunTool("cd " + Dir.string() + " && " + tool + " - < " + pcm.string()), 0);
  EXPECT_FALSE(fs::exists(Dir / "spectrum.png"));
  EXPECT_FALSE(fs::exists(Dir / "eye.png"));
  EXPECT_EQ(RunTool(tool + " --snapshot"), 2);  // needs a directory
}

TEST_F(SnapshotTool, AFolderThatCannotBeMadeStopsTheRunBeforeDecoding)
{
  const std::string wav = (Dir / "message.wav").string();
  ASSERT_EQ(RunTool(Tools + "navtex-gen --phasing 2 --text 'NOT DECODED' " + wav), 0);
  std::string out;
  EXPECT_EQ(RunTool(Tools + "brontel-decode --snapshot /dev/null/sub " + wav + " 2>/dev/null", out), 1);
  EXPECT_EQ(out, "");  // nothing decoded
  EXPECT_EQ(RunTool(Tools + "brontel-decode --snapshot /dev/null/sub " + wav + " 2>&1 >/dev/null", out), 1);
  EXPECT_NE(out.find("/dev/null/sub"), std::string::npos) << out;
}

TEST_F(SnapshotTool, AFailedWriteLeavesTheOldPngWhole)
{
  const std::string wav = (Dir / "message.wav").string();
  ASSERT_EQ(RunTool(Tools + "navtex-gen --phasing 2 --text 'SNAP' " + wav), 0);
  const fs::path snap = Dir / "snap";
  fs::create_directories(snap);
  std::ofstream(snap / "spectrum.png") << "the old picture";
  // A file size limit makes the write fail part-way, as a full disk would.
  std::string out;
  EXPECT_EQ(RunTool("trap '' XFSZ; ulimit -f 2; " + Tools + "brontel-decode --snapshot " + snap.string() + " " +
                        wav + " 2>&1 >/dev/null",
                    out),
            1);
  EXPECT_NE(out.find("spectrum.png"), std::string::npos) << out;
  EXPECT_EQ(ReadWhole(snap / "spectrum.png"), "the old picture");
  for (const auto& e : fs::directory_iterator(snap))
    EXPECT_TRUE(e.path().filename() == "spectrum.png" || e.path().filename() == "eye.png") << e.path();
}

}  // namespace
}  // namespace brontel
