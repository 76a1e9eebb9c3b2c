// brontel-decode as a receiver of messages: the robust path, both channels,
// messages printed, stored and sent to a chart plotter.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "nmea/nrx.h"
#include "signal/navtex_signal.h"
#include "support/cer.h"
#include "support/run_command.h"
#include "support/udp_listener.h"
#include "support/test_audio.h"

namespace {

namespace fs = std::filesystem;
using namespace brontel;

const std::string Bin = BRONTEL_BINARY_DIR "/tools/";

std::string Shell(const std::string& command, int* status = nullptr)
{
  const test::TCommandResult r = test::RunShell(command + " 2>/dev/null");
  if (status) *status = r.Status;
  return r.Out;
}

std::string Temp(const std::string& name)
{
  return (fs::temp_directory_path() / ("brontel-rx-" + std::to_string(::getpid()) + "-" + name)).string();
}

// An English emission of `text` at `snr` dB (amplitude 1000, so that the
// noise is not clipped) at centre `centF`.
std::vector<int16_t> Emission(const std::string& text, double snr, double centF = 800.0, uint32_t seed = 1)
{
  std::vector<uint8_t> codes;
  std::string error;
  EXPECT_TRUE(gen::EnglishCodes(text, codes, error)) << error;
  gen::TEmission e;
  e.PhasingSeconds = 3.0;
  gen::TFskParams fsk;
  fsk.CentF = centF;
  fsk.Amplitude = 1000.0;
  fsk.SnrDb = snr;
  fsk.Seed = seed;
  std::vector<int16_t> pcm = gen::NoiseOnly(0.5, fsk, seed + 10);
  const auto s = gen::ModulateFsk(gen::EmissionBits(codes, e), fsk);
  pcm.insert(pcm.end(), s.begin(), s.end());
  return pcm;
}

TEST(ReceiverTool, TheRobustPathReadsAWeakSignalTheExactPathLoses)
{
  const std::string sent = "ZCZC OA12\nGALE WARNING SEA AREA 062040 UTC NOV 21 WINDS NW 8\nNNNN\n";
  const std::string wav = Temp("weak.wav");
  test::WriteStereoWav(wav, Emission(sent, 2.0, 800.0, 7), false);
  const std::string exact = Shell(Bin + "brontel-decode " + wav);
  const std::string robust = Shell(Bin + "brontel-decode --decoder robust " + wav);
  fs::remove(wav);
  EXPECT_LE(test::CharErrorRate(robust, sent), 0.02) << robust;
  EXPECT_GT(test::CharErrorRate(exact, sent), 0.1) << exact;
}

TEST(ReceiverTool, BothChannelsAreTwoReceiversAtOnce)
{
  const auto left = Emission("ZCZC EA01\nLEFT RADIO\nNNNN\n", 20.0, 800.0, 1);
  const auto right = Emission("ZCZC EB02\nRIGHT RADIO\nNNNN\n", 20.0, 1000.0, 2);
  std::vector<int16_t> frames(2 * std::max(left.size(), right.size()), 0);
  for (std::size_t i = 0; i < left.size(); ++i) frames[2 * i] = left[i];
  for (std::size_t i = 0; i < right.size(); ++i) frames[2 * i + 1] = right[i];
  const std::string raw = Temp("both.raw");
  std::FILE* f = std::fopen(raw.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(frames.data(), 2, frames.size(), f);
  std::fclose(f);
  const std::string out = Shell(Bin + "brontel-decode --channel both --centf 800,1000 --json - < " + raw);
  fs::remove(raw);
  EXPECT_NE(out.find(R"("id":"EA01")"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("channel":"left")"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("id":"EB02")"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("channel":"right")"), std::string::npos) << out;
  EXPECT_NE(out.find("RIGHT RADIO"), std::string::npos) << out;
}

TEST(ReceiverTool, AMessageIsStoredAndSentToAChartPlotter)
{
  test::TUdpListener plotter;
  ASSERT_TRUE(plotter.Ok());

  const std::string wav = Temp("store.wav"), store = Temp("store.sqlite");
  test::WriteStereoWav(wav, Emission("ZCZC KD07\nMAYDAY RELAY, POSITION 51-24N 002-40E\nNNNN\n", 20.0), false);
  int status = -1;
  const std::string out = Shell(Bin + "brontel-decode --messages --store " + store + " --nmea-udp " +
                                  plotter.Address() + " --start-time 2026-12-07T10:00:00Z " + wav,
                              &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("KD07  station K  subject D"), std::string::npos) << out;
  EXPECT_NE(Shell(Bin + "brontel-messages --store " + store + " list").find("KD07"), std::string::npos);

  // The sentences: the identity, the time of receipt, the text with its comma
  // escaped, and a checksum over everything between '$' and '*'.
  std::string text;
  for (int n = 1;; ++n) {
    const std::string s = plotter.Receive();
    ASSERT_GE(s.size(), 9u) << "sentence " << n;
    EXPECT_EQ(s.substr(0, 7), "$CRNRX,");
    EXPECT_EQ(s.substr(s.size() - 2), "\r\n");
    const std::size_t star = s.rfind('*');
    char sum[3];
    std::snprintf(sum, sizeof sum, "%02X", NmeaChecksum(s.substr(1, star - 1)));
    EXPECT_EQ(s.substr(star + 1, 2), sum);
    EXPECT_EQ(s.find(",KD07,") != std::string::npos, n == 1) << "the message code in the first sentence only: " << s;
    if (n == 1) {
      EXPECT_NE(s.find(",2,10"), std::string::npos) << "518 kHz, received after 10:00 UTC: " << s;
    }
    text += s.substr(s.rfind(',', star) + 1, star - s.rfind(',', star) - 1);
    const int total = std::stoi(s.substr(7, 3));
    if (n == total) break;
  }
  EXPECT_NE(text.find("MAYDAY RELAY^2C POSITION"), std::string::npos) << text;

  // A port out of range is refused before decoding; a plotter that cannot be
  // reached (a link-local address on no interface) leaves the message printed,
  // the failure said and the status 1.
  EXPECT_EQ(Shell(Bin + "brontel-decode --nmea-udp 127.0.0.1:70000 " + wav, &status), "");
  EXPECT_EQ(status, 2);
  const test::TCommandResult unreachable =
      test::RunShell(Bin + "brontel-decode --messages --nmea-udp '[fe80::1%4242]:10110' " + wav + " 2>&1");
  if (unreachable.Out.find("cannot open a socket") == std::string::npos) {
    EXPECT_EQ(unreachable.Status, 1) << unreachable.Out;
    EXPECT_NE(unreachable.Out.find("KD07  station K"), std::string::npos) << unreachable.Out;
    EXPECT_NE(unreachable.Out.find("NRX sentences of message KD07 not sent"), std::string::npos) << unreachable.Out;
  }
  fs::remove(wav);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store + suffix);
}

}  // namespace

namespace {

TEST(ReceiverTool, TheItalianReceptionIsOneForecastFromStationE)
{
  const std::string wav = BRONTEL_TESTDATA_DIR "/mondolfo-518khz-11025hz.wav";
  ASSERT_TRUE(fs::exists(wav)) << wav;
  const std::string out = Shell(Bin + "brontel-decode --decoder robust --centf 1000 --json " + wav);
  std::size_t messages = 0;
  for (std::size_t at = out.find('\n'); at != std::string::npos; at = out.find('\n', at + 1)) ++messages;
  EXPECT_EQ(messages, 1u) << out;
  for (const char* field : {R"("id":"EE39")", R"("station":"E")", R"("subject":"E")", R"("decoder":"robust")", R"("confidence":[)",
                            "MONDOLFO RADIO", "PREVISIONI METEOROLOGICHE PER IL MEDITERRANEO"})
    EXPECT_NE(out.find(field), std::string::npos) << field;
}

}  // namespace

namespace {

// Stations restricted to K and subjects to the ones that cannot be left out:
// a message from X and a forecast (E) from K are stored but not printed, a
// forecast numbered 00 and a warning from K are. Letters the options cannot
// read are refused before decoding.
TEST(ReceiverTool, MessagesOutsideTheSelectionAreStoredButNotPrinted)
{
  std::vector<int16_t> pcm;
  uint32_t seed = 30;
  for (const char* id : {"XA01", "KE02", "KE00", "KA03"}) {
    const auto one = Emission(std::string("ZCZC ") + id + "\nTEST MESSAGE " + id + "\nNNNN\n", 20.0, 800.0, ++seed);
    pcm.insert(pcm.end(), one.begin(), one.end());
  }
  const std::string wav = Temp("selection.wav"), store = Temp("selection.sqlite");
  test::WriteStereoWav(wav, pcm, false);
  int status = -1;
  const std::string out =
      Shell(Bin + "brontel-decode --json --stations k --subjects A,B,D,L --position I --store " + store + " " + wav,
            &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find(R"("station":"K","station_name":"Niton")"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("positions":[])"), std::string::npos) << out;
  const std::string listed = Shell(Bin + "brontel-messages --store " + store + " list");
  for (const char* id : {"XA01", "KE02", "KE00", "KA03"}) {
    const bool inside = id[0] == 'K' && (id[1] == 'A' || std::string(id) == "KE00");
    EXPECT_EQ(out.find(std::string("\"") + id + "\"") != std::string::npos, inside) << id << "\n" << out;
    EXPECT_NE(listed.find(id), std::string::npos) << id << " is stored\n" << listed;
  }
  for (const char* bad : {"--stations K1", "--subjects E?", "--stations", "--position 95N"}) {
    EXPECT_EQ(Shell(Bin + "brontel-decode --json " + bad + " " + wav, &status), "") << bad;
    EXPECT_EQ(status, 2) << bad;
  }
  fs::remove(wav);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store + suffix);
}

}  // namespace
