// Generated emissions through the receiver into the message store.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "decoder/cp932.h"
#include "messages/reception.h"
#include "session/receiver_session.h"
#include "signal/navtex_signal.h"

namespace brontel::msg {
namespace {

namespace fs = std::filesystem;

// One emission of `text` at `snrDb`, followed by `pause` seconds of noise.
std::vector<int16_t> Emission(const std::string& text, double snrDb, uint32_t seed, double pause,
                              gen::TService service = gen::TService::English, double amplitude = 8000.0)
{
  std::vector<uint8_t> codes;
  std::string err;
  EXPECT_TRUE(service == gen::TService::English ? gen::EnglishCodes(text, codes, err)
                                                : gen::JapaneseCodes(text, codes, err))
      << err;
  gen::TFskParams p;
  p.SnrDb = snrDb;
  p.Seed = seed;
  p.Amplitude = amplitude;
  gen::TEmission e;
  e.Service = service;
  e.PhasingSeconds = 3.0;
  std::vector<int16_t> pcm = gen::NoiseOnly(0.5, p, seed * 3 + 1);
  const auto signal = gen::ModulateFsk(gen::EmissionBits(codes, e), p);
  pcm.insert(pcm.end(), signal.begin(), signal.end());
  const auto tail = gen::NoiseOnly(pause, p, seed * 3 + 2);
  pcm.insert(pcm.end(), tail.begin(), tail.end());
  return pcm;
}

// Runs `pcm` through a receiver whose messages go to `reception`.
void Receive(TMessageReception& reception, const std::vector<int16_t>& pcm, TDecoderPath path = TDecoderPath::Exact)
{
  TSessionOptions o;
  o.Sink = &reception.Sink();
  o.Decoder = path;
  TReceiverSession session(o);
  std::array<int16_t, BlockSamples> block;
  double t = 0.0;
  for (std::size_t start = 0; start < pcm.size(); start += FramesPerBlock) {
    block.fill(0);
    const std::size_t n = std::min<std::size_t>(FramesPerBlock, pcm.size() - start);
    for (std::size_t j = 0; j < n; ++j) block[2 * j] = pcm[start + j];
    session.ProcessBlock(block);
    t += 0.1;
    const TDecoderStatus status = session.Status();
    reception.AfterBlock(t, status.InSync, status.EngMode);
  }
  session.Finish();
  reception.Finish(t, session.LineText());
}

TEST(ReceivedMessages, MessageSentTwiceWithNoiseIsStoredOnceAndWhole)
{
  std::string body;
  for (int i = 1; i <= 6; ++i) body += "LINE " + std::to_string(i) + " GALE WARNING SEA AREA FISHER WIND NW 8\n";
  const std::string text = "ZCZC OB07\n" + body + "NNNN\n";
  const std::string store = (fs::temp_directory_path() / ("brontel-e2e-" + std::to_string(::getpid()) + ".sqlite")).string();
  fs::remove(store);

  // Two noisy receptions, each losing a few characters in different places.
  std::vector<TMessage> seen;
  TReceptionOptions opt;
  opt.StorePath = store;
  opt.Assembler.Recording = true;
  std::string error;
  auto reception = TMessageReception::Open(opt, error);
  ASSERT_TRUE(reception) << error;
  reception->OnMessage = [&](const TMessage& m) { seen.push_back(m); };
  std::vector<int16_t> pcm = Emission(text, 10.0, 8, 15.0);
  const auto second = Emission(text, 10.0, 9, 2.0);
  pcm.insert(pcm.end(), second.begin(), second.end());
  Receive(*reception, pcm);
  reception.reset();

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FALSE(seen[0].Repeat);
  EXPECT_TRUE(seen[1].Repeat);
  auto s = TMessageStore::Open(store, TMessageStore::TMode::Existing, error);
  ASSERT_TRUE(s) << error;
  std::vector<TMessage> stored;
  ASSERT_TRUE(s->List({}, stored, error)) << error;
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].Id, "OB07");
  EXPECT_EQ(stored[0].Copies, 2);
  EXPECT_EQ(stored[0].Text + "\n", body);
  EXPECT_EQ(stored[0].Cer, 0.0);
  std::vector<TMessage> copies;
  ASSERT_TRUE(s->Copies(stored[0].StoreId, copies, error)) << error;
  ASSERT_EQ(copies.size(), 2u);
  for (const TMessage& c : copies) EXPECT_NE(c.Text + "\n", body) << "each copy alone lost something";
  fs::remove(store);
  fs::remove(store + "-wal");
  fs::remove(store + "-shm");
}

TEST(ReceivedMessages, TheRobustPathHearsAWeakMessageTwiceAndStoresItOnce)
{
  // 1 dB: the exact path could not read it at all.
  const std::string body = "STRONG WINDS EXPECTED 062040 UTC NOV 21\nWIND NE 7 TO 8, SEA ROUGH\n";
  const std::string text = "ZCZC KB21\n" + body + "NNNN\n";
  const std::string store =
      (fs::temp_directory_path() / ("brontel-e2e-robust-" + std::to_string(::getpid()) + ".sqlite")).string();
  fs::remove(store);
  TReceptionOptions opt;
  opt.StorePath = store;
  opt.Assembler.Decoder = "robust";
  std::string error;
  auto reception = TMessageReception::Open(opt, error);
  ASSERT_TRUE(reception) << error;
  int announced = 0;
  reception->OnMessage = [&](const TMessage& m) { announced += m.HasHeader && !m.Repeat; };
  std::vector<int16_t> pcm = Emission(text, 1.0, 31, 12.0, gen::TService::English, 1000.0);
  const auto second = Emission(text, 1.0, 32, 2.0, gen::TService::English, 1000.0);
  pcm.insert(pcm.end(), second.begin(), second.end());
  Receive(*reception, pcm, TDecoderPath::Robust);
  reception.reset();

  EXPECT_EQ(announced, 1);
  auto s = TMessageStore::Open(store, TMessageStore::TMode::Existing, error);
  ASSERT_TRUE(s) << error;
  std::vector<TMessage> found;
  ASSERT_TRUE(s->Find("KB21", found, error)) << error;
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Copies, 2);
  EXPECT_EQ(found[0].Decoder, "robust");
  EXPECT_EQ(found[0].Text + "\n", body);
  s.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store + suffix);
}

TEST(ReceivedMessages, EachOutcomeSaysWhetherAndWhereTheMessageWasStored)
{
  // A message received twice: in memory both are stored but have no place
  // in a store to show; in a file the repeat shows the stored message's.
  const std::string file = (fs::temp_directory_path() / ("brontel-outcome-" + std::to_string(::getpid()) + ".sqlite")).string();
  for (const std::string& path : {std::string(), file}) {
    fs::remove(file);
    TReceptionOptions opt;
    opt.StorePath = path;
    std::string error;
    auto reception = TMessageReception::Open(opt, error);
    ASSERT_TRUE(reception) << error;
    EXPECT_EQ(reception->Persistent(), !path.empty());
    std::vector<TReceived> got;
    reception->OnReceived = [&](const TReceived& r) { got.push_back(r); };
    double t = 0.0;
    for (int copy = 0; copy < 2; ++copy) {
      for (const char* line : {"ZCZC OA12", "GALE WARNING", "NNNN"}) {
        reception->Sink().LineWritten(line, {});
        reception->AfterBlock(t += 1.0, true, true);
      }
      // The first outcome comes with a block, not only at the end.
      for (int wait = 0; copy == 0 && got.empty() && wait < 500; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        reception->AfterBlock(t, true, true);
      }
      if (copy == 0) {
        EXPECT_EQ(got.size(), 1u);
      }
    }
    reception->Finish(t);
    ASSERT_EQ(got.size(), 2u) << path;
    for (std::size_t i = 0; i < 2; ++i) {
      SCOPED_TRACE(path + " copy " + std::to_string(i));
      EXPECT_TRUE(got[i].Stored);
      EXPECT_EQ(got[i].Error, "");
      EXPECT_EQ(std::pair(got[i].Shown.Repeat, got[i].Shown.Copies), std::pair(i == 1, int(i) + 1));
      EXPECT_EQ(got[i].Shown.StoreId, path.empty() ? 0 : got[0].Shown.StoreId);
    }
    if (!path.empty()) {
      EXPECT_GT(got[0].Shown.StoreId, 0);
    }
    EXPECT_EQ(reception->StoreFailures(), 0);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file + suffix);
}

TEST(ReceivedMessages, ACopyPastTheRepeatWindowGivenIsNewsAgain)
{
  // The same message twice, three seconds apart, with a window of two.
  TReceptionOptions opt;
  opt.RepeatWindow = 2.0;
  std::string error;
  auto reception = TMessageReception::Open(opt, error);
  ASSERT_TRUE(reception) << error;
  std::vector<TMessage> seen;
  reception->OnMessage = [&](const TMessage& m) { seen.push_back(m); };
  double t = 0.0;
  for (int copy = 0; copy < 2; ++copy)
    for (const char* line : {"ZCZC OA12", "GALE WARNING", "NNNN"}) {
      reception->Sink().LineWritten(line, {});
      reception->AfterBlock(t += 1.0, true, true);
    }
  reception->Finish(t);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FALSE(seen[0].Repeat || seen[1].Repeat);
}

TEST(ReceivedMessages, SoundLostForAWhileIsMarkedInTheOpenMessage)
{
  TReceptionOptions opt;
  std::string error;
  auto reception = TMessageReception::Open(opt, error);
  ASSERT_TRUE(reception) << error;
  std::vector<TMessage> seen;
  reception->OnMessage = [&](const TMessage& m) { seen.push_back(m); };
  double t = 0.0;
  auto line = [&](const char* text) {
    reception->Sink().LineWritten(text, {});
    reception->AfterBlock(t += 1.0, true, true);
  };
  line("ZCZC OA12");
  line("GALE WARNING");
  reception->Gap(5.0);  // 36 characters' time
  line("SEA ROUGH");
  line("NNNN");
  reception->Finish(t);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Text, "GALE WARNING\nSEA ROUGH");
  ASSERT_EQ(seen[0].Gaps.size(), 1u);
  EXPECT_EQ(std::pair(seen[0].Gaps[0].Offset, seen[0].Gaps[0].Lost), std::pair(std::size_t{13}, 36));
}

TEST(ReceivedMessages, JapaneseEmissionWithFullWidthHeader)
{
  std::vector<TMessage> seen;
  TReceptionOptions opt;
  opt.Assembler.Service = TService::English;  // the header tells
  std::string error;
  auto reception = TMessageReception::Open(opt, error);
  ASSERT_TRUE(reception) << error;
  reception->OnMessage = [&](const TMessage& m) { seen.push_back(m); };
  Receive(*reception, Emission("ＺＣＺＣ　ＪＡ０１\n東京湾　浮標消灯中\nＮＮＮＮ\n", 20.0, 5, 2.0, gen::TService::Japanese));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Id, "JA01");
  EXPECT_EQ(StatusOf(seen[0]), TStatus::Complete);
  EXPECT_EQ(seen[0].Service, TService::Japanese);
  EXPECT_EQ(Cp932ToUtf8(seen[0].Text), "東京湾　浮標消灯中");
  EXPECT_EQ(seen[0].Cer, 0.0);
}

// A receiver killed while decoding loses no message it reported as stored.
TEST(ReceivedMessages, KilledWhileDecodingLosesNothingReportedStored)
{
  const std::string store = (fs::temp_directory_path() / ("brontel-kill-" + std::to_string(::getpid()) + ".sqlite")).string();
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store + suffix);
  std::vector<int16_t> pcm;
  for (int serial = 1; serial <= 8; ++serial) {
    const std::string n = std::to_string(serial);
    const auto e = Emission("ZCZC SE0" + n + "\nFORECAST " + n + " WIND SW 5\nNNNN\n", 25.0, serial, 0.5);
    pcm.insert(pcm.end(), e.begin(), e.end());
  }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    TReceptionOptions opt;
    opt.StorePath = store;
    std::string error;
    auto reception = TMessageReception::Open(opt, error);
    if (!reception) ::_exit(3);
    reception->OnMessage = [&](const TMessage& m) {
      if (::write(fds[1], &m.Serial, sizeof m.Serial) != sizeof m.Serial) ::_exit(4);
    };
    Receive(*reception, pcm);
    for (;;) ::pause();  // wait to be killed
  }
  ::close(fds[1]);
  std::vector<int> reported;
  int serial;
  while (reported.size() < 3 && ::read(fds[0], &serial, sizeof serial) == sizeof serial) reported.push_back(serial);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  while (::read(fds[0], &serial, sizeof serial) == sizeof serial) reported.push_back(serial);
  ::close(fds[0]);
  ASSERT_TRUE(WIFSIGNALED(status)) << "ended on its own with status " << WEXITSTATUS(status);
  ASSERT_GE(reported.size(), 3u);

  std::string error;
  auto s = TMessageStore::Open(store, TMessageStore::TMode::Existing, error);
  ASSERT_TRUE(s) << error;
  std::vector<TMessage> stored;
  ASSERT_TRUE(s->List({}, stored, error)) << error;
  for (int r : reported)
    EXPECT_TRUE(std::any_of(stored.begin(), stored.end(), [&](const TMessage& m) { return m.Serial == r; })) << r;
  s.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store + suffix);
}

}  // namespace
}  // namespace brontel::msg
