// How brontel-decode ends: on a stop signal from any input, on an output that
// goes away or cannot be opened, on empty option values, and with float
// samples that had to be mended.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>

#include "signal/navtex_signal.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;
using namespace brontel;

const std::string Bin = BRONTEL_BINARY_DIR "/tools/";

struct TTemp {
  TTemp() { fs::create_directories(Dir); }
  ~TTemp() { fs::remove_all(Dir); }
  std::string Path(const std::string& name) const { return (Dir / name).string(); }
  fs::path Dir = fs::temp_directory_path() / ("brontel-ending-" + std::to_string(::getpid()));
};

// Mono 44100 Hz samples of an English emission; without `trailer` the
// emission stops in the middle of its text (the message stays open).
std::vector<int16_t> Emission(const std::string& text)
{
  std::vector<uint8_t> codes;
  std::string error;
  EXPECT_TRUE(gen::EnglishCodes(text, codes, error)) << error;
  gen::TEmission e;
  e.PhasingSeconds = 2.0;
  e.IdleSeconds = 0.5;
  gen::TFskParams fsk;
  fsk.SnrDb = 25.0;
  return gen::ModulateFsk(gen::EmissionBits(codes, e), fsk);
}

std::string RawBytes(const std::vector<int16_t>& mono)
{
  std::string bytes(mono.size() * 2, '\0');
  for (std::size_t i = 0; i < mono.size(); ++i) {
    bytes[2 * i] = static_cast<char>(mono[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>((mono[i] >> 8) & 0xFF);
  }
  return bytes;
}

std::string Listed(const std::string& store)
{
  return test::RunShell(Bin + "brontel-messages --store " + store + " list 2>&1").Out;
}

std::string ReadAll(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A receiver reading raw mono audio from a pipe or a FIFO, stopped by a
// signal while a message is open: it stores the message and exits 0.
TEST(DecodeEnding, EveryStopSignalEndsPipeAndFileInputWithTheOpenMessageStored)
{
  TTemp temp;
  // The emission ends without NNNN and the input then stays open.
  const std::string raw = RawBytes(Emission("ZCZC SG01\nOPEN WHEN THE SIGNAL COMES\n"));
  struct TCase {
    int Signal;
    bool Fifo;  // FILE is a named pipe (else standard input)
  };
  for (const TCase c : {TCase{SIGINT, false}, TCase{SIGTERM, false}, TCase{SIGHUP, false}, TCase{SIGTERM, true},
                        TCase{SIGHUP, true}}) {
    SCOPED_TRACE(std::string(strsignal(c.Signal)) + (c.Fifo ? " FIFO" : " pipe"));
    const std::string store = temp.Path("stop-" + std::to_string(c.Signal) + (c.Fifo ? "f" : "p") + ".sqlite");
    const std::string fifo = temp.Path("in.fifo");
    int toChild[2] = {-1, -1};
    if (c.Fifo) {
      fs::remove(fifo);
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    } else {
      ASSERT_EQ(::pipe(toChild), 0);
    }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (!c.Fifo) {
        ::dup2(toChild[0], 0);
        ::close(toChild[1]);
      }
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      const std::string exe = Bin + "brontel-decode";
      const std::string input = c.Fifo ? fifo : "-";
      ::execl(exe.c_str(), exe.c_str(), "--raw-channels", "1", "--store", store.c_str(), input.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int fd = toChild[1];
    if (c.Fifo) {
      fd = ::open(fifo.c_str(), O_WRONLY);
    } else {
      ::close(toChild[0]);
    }
    ASSERT_GE(fd, 0);
    std::size_t done = 0;
    while (done < raw.size()) {
      const ssize_t n = ::write(fd, raw.data() + done, raw.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
    // Decoding runs far faster than real time: the text is in by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(pid, c.Signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fd);
    EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    const std::string list = Listed(store);
    EXPECT_NE(list.find("SG01"), std::string::npos) << list;
  }
}

TEST(DecodeEnding, AReaderThatGoesAwayIsSaidAndTheOpenMessageIsStored)
{
  TTemp temp;
  const std::string raw = temp.Path("lines.raw"), store = temp.Path("pipe.sqlite"), err = temp.Path("err.txt");
  std::ofstream(raw, std::ios::binary) << RawBytes(Emission(
      "ZCZC PP01\nFIRST LINE\nSECOND LINE\nTHIRD LINE\nFOURTH LINE\nFIFTH LINE\nSIXTH LINE\nNNNN\n"));
  // head takes the first line and goes; the receiver's next line finds no reader.
  const test::TCommandResult r = test::RunShell("bash -c '" + Bin + "brontel-decode --raw-channels 1 --store " + store +
                                                " " + raw + " 2>" + err + " | head -1 >/dev/null; echo ${PIPESTATUS[0]}'");
  EXPECT_EQ(r.Out, "1\n") << "exit status; stderr: " << ReadAll(err);
  EXPECT_NE(ReadAll(err).find("cannot write to standard output: Broken pipe"), std::string::npos) << ReadAll(err);
  EXPECT_NE(Listed(store).find("PP01"), std::string::npos) << "the open message is stored";
}

TEST(DecodeEnding, BadOutputsAndEmptyValuesAreRefused)
{
  TTemp temp;
  const std::string wav = temp.Path("a.wav");
  ASSERT_EQ(test::RunShell(Bin + "navtex-gen --phasing 1 --text A " + wav).Status, 0);
  // A folder as --output: said, exit 1, no crash.
  const test::TCommandResult folder =
      test::RunShell(Bin + "brontel-decode --output " + temp.Dir.string() + " --json " + wav + " 2>&1");
  EXPECT_EQ(folder.Status, 1) << folder.Out;
  EXPECT_NE(folder.Out.find("cannot open " + temp.Dir.string() + ": Is a directory"), std::string::npos) << folder.Out;
  // An empty value would switch the feature off without a word.
  for (const char* option : {"--store", "--nmea-udp", "--output", "--receiver", "--spool"}) {
    const test::TCommandResult r = test::RunShell(Bin + "brontel-decode " + option + " '' " + wav + " 2>&1");
    EXPECT_EQ(r.Status, 2) << option << ": " << r.Out;
    EXPECT_NE(r.Out.find("not an empty value"), std::string::npos) << option << ": " << r.Out;
  }
}

// Float samples: NaN and beyond full scale are mended the same way in a raw
// f32 stream and in a float WAV file, said as a note, and the run succeeds.
TEST(DecodeEnding, MendedFloatSamplesAreANoteInRawStreamsAndFilesAlike)
{
  TTemp temp;
  const std::vector<int16_t> pcm = Emission("ZCZC FL02\nFLOATS\nNNNN\n");
  std::vector<float> f(pcm.size());
  for (std::size_t i = 0; i < pcm.size(); ++i) f[i] = static_cast<float>(pcm[i]) / 32768.0f;
  f[100] = std::numeric_limits<float>::quiet_NaN();
  f[200] = 3.0f;
  f[300] = -std::numeric_limits<float>::infinity();

  const std::string raw = temp.Path("in.f32"), wav = temp.Path("in.wav");
  {
    std::ofstream out(raw, std::ios::binary);
    for (float v : f) {
      const uint32_t bits = std::bit_cast<uint32_t>(v);
      for (int k = 0; k < 4; ++k) out.put(static_cast<char>(bits >> (8 * k)));
    }
  }
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(wav.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  sf_write_float(file, f.data(), static_cast<sf_count_t>(f.size()));
  sf_close(file);

  for (const std::string& args : {"--raw-format f32 --raw-channels 1 " + raw, wav}) {
    const std::string err = temp.Path("err.txt");
    const test::TCommandResult r = test::RunShell(Bin + "brontel-decode " + args + " 2>" + err);
    const std::string said = ReadAll(err);
    EXPECT_EQ(r.Status, 0) << args << ": " << said;
    EXPECT_EQ(r.Out, "ZCZC FL02\nFLOATS\nNNNN\n") << args;
    EXPECT_NE(said.find("1 float samples were NaN and were taken as silence"), std::string::npos) << args << said;
    EXPECT_NE(said.find("2 float samples beyond full scale"), std::string::npos) << args << said;
  }
}

}  // namespace
