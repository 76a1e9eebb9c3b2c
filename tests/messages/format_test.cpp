// The text and JSON forms of a message, the times they read and write, and
// what a receiver makes of a message besides: the alert, a recording's start.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "messages/format.h"
#include "messages/reception.h"
#include "store_support.h"

namespace brontel::msg {
namespace {

using test::Day0;

TEST(Format, TimesReadAndWritten)
{
  const struct {
    const char* Text;
    bool Ok;
    double Utc;
  } cases[] = {
      {"2026-12-07", true, 1796601600},
      {"2026-12-07Z", true, 1796601600},
      {"2026-12-07T10:42", true, 1796640120},
      {"2026-12-07 10:42:05", true, 1796640125},
      {"2026-12-07T10:42:05Z", true, 1796640125},
      {"2024-02-29", true, 1709164800},
      {"2026-12-07T23:59:60", true, 1796688000},
      {"2026-02-29", false, 0},
      {"2026-04-31", false, 0},
      {"2026-13-01", false, 0},
      {"2026-00-10", false, 0},
      {"2026-12-00", false, 0},
      {"2026-12-32", false, 0},
      {"2026-12-07T24:00", false, 0},
      {"2026-12-07T10:60", false, 0},
      {"2026-12-07T10:42:61", false, 0},
      {"2026-12-07T10", false, 0},
      {"2026-12-07T10:4", false, 0},
      {"2026-12-07T10:42:", false, 0},
      {"2026-12-07x", false, 0},
      {"2026-12-7", false, 0},
      {"2026/12/07", false, 0},
      {"26-12-07", false, 0},
      {"", false, 0},
  };
  for (const auto& c : cases) {
    double utc = -1.0;
    EXPECT_EQ(ParseIsoTime(c.Text, utc), c.Ok) << c.Text;
    if (c.Ok) {
      EXPECT_EQ(utc, c.Utc) << c.Text;
    }
  }
  EXPECT_EQ(IsoTime(Day0 + 0.999), "2026-12-07T09:00:00Z");
  EXPECT_EQ(IsoTime(-0.5), "1969-12-31T23:59:59Z");
  EXPECT_EQ(IsoTime(std::numeric_limits<double>::quiet_NaN()), "?");
}

TMessage Sample()
{
  TMessage m;
  m.Id = "OA09";
  m.HasHeader = m.HeaderOk = m.Trailer = true;
  m.Station = 'O';
  m.Subject = 'A';
  m.Serial = 9;
  m.Text = "GALE\nSEA \x93\x8C";  // 東
  m.Chars = 9;
  m.Erasures = 1;
  m.Suspicious = 2;
  m.Lost = 3;
  m.Cer = 0.01234;
  m.Start = Day0 + 0.9;
  m.End = Day0 + 61.0;
  m.Offset = 61.25;
  m.Channel = "right";
  m.Decoder = "robust";
  m.Repeat = true;
  m.Copies = 3;
  m.StoreId = 17;
  return m;
}

TEST(Format, TheTextAndJsonFormsOfAMessage)
{
  TMessage m = Sample();
  EXPECT_EQ(TMessageFormatter::Text(m, true, true),
            "2026-12-07T09:00:00Z  OA09  station O  subject A (navigational warning)  serial 09  errors 1.2 %  "
            "complete  repeat (3 copies)  right channel\nGALE\nSEA \xE6\x9D\xB1\n\n");
  EXPECT_EQ(TMessageFormatter::Text(m, false).substr(TMessageFormatter::Text(m, false).find('\n')),
            "\nGALE\nSEA \x93\x8C\n\n");
  EXPECT_EQ(TMessageFormatter::JsonLine(m),
            R"({"id":"OA09","station":"O","subject":"A","subject_name":"navigational warning","serial":9,)"
            R"("text":"GALE\nSEA 東","status":"complete","header_ok":true,"trailer":true,"chars":9,"erasures":1,)"
            R"("suspicious":2,"lost":3,"cer":0.0123,"start":"2026-12-07T09:00:00Z","end":"2026-12-07T09:01:01Z",)"
            R"("offset":61.3,"service":"english","decoder":"robust","channel":"right","repeat":true,"copies":3,)"
            R"("store_id":17})"
            "\n");

  // A header with errors, a subject without a name, a message not stored.
  m.Id = "OI1*";
  m.HeaderOk = m.Trailer = m.Repeat = false;
  m.Subject = 'I';
  m.Serial = -1;
  m.Copies = 1;
  m.StoreId = 0;
  m.Offset.reset();
  m.Receiver = "north";
  m.Frequency = 490.0;
  m.Text = "QX\n";
  EXPECT_EQ(TMessageFormatter::Text(m),
            "2026-12-07T09:00:00Z  OI1*  station O  subject I  serial ?  errors 1.2 %  header_errors\nQX\n\n");
  const std::string j = TMessageFormatter::JsonLine(m);
  EXPECT_NE(j.find(R"("serial":null,"text":"QX\n","status":"header_errors")"), std::string::npos) << j;
  EXPECT_NE(j.find(R"("channel":"right","receiver":"north","frequency":490.0,"repeat":false,"copies":1})"),
            std::string::npos)
      << j;
  EXPECT_EQ(j.find("offset"), std::string::npos) << j;

  // Text outside a message.
  TMessage f;
  f.Start = Day0;
  f.Text = "QX";
  EXPECT_EQ(TMessageFormatter::Text(f), "2026-12-07T09:00:00Z  text outside a message  errors 0.0 %  no_header\nQX\n\n");
  EXPECT_NE(TMessageFormatter::JsonLine(f).find(R"("id":"","station":null,"subject":null,"subject_name":"",)"),
            std::string::npos);
}

TEST(Reception, TheAlertAndTheStartOfARecording)
{
  const struct {
    bool Repeat, HasHeader;
    char Subject;
    const char* Subjects;
    bool Alert;
  } alerts[] = {
      {false, true, 'D', "D", true},  {false, true, 'D', "AD", true}, {true, true, 'D', "D", false},
      {false, false, 'D', "D", false}, {false, true, 'A', "D", false}, {false, true, 0, "D", false},
      {false, true, 'D', "", false},
  };
  for (const auto& c : alerts) {
    TMessage m;
    m.Repeat = c.Repeat;
    m.HasHeader = c.HasHeader;
    m.Subject = c.Subject;
    EXPECT_EQ(RaisesAlert(m, c.Subjects), c.Alert) << c.Repeat << c.HasHeader << c.Subject << c.Subjects;
  }

  double epoch = 0.0;
  std::string error;
  EXPECT_TRUE(RecordingEpoch("x.wav", "2026-12-07T10:42:05Z", epoch, error));
  EXPECT_EQ(epoch, 1796640125.0);
  EXPECT_FALSE(RecordingEpoch("x.wav", "yesterday", epoch, error));
  EXPECT_NE(error.find("'yesterday'"), std::string::npos) << error;

  // A file's modification time, else now.
  test::TTempDir dir("epoch");
  const std::string file = (dir.Dir / "r.wav").string();
  std::ofstream(file) << "RIFF";
  const auto mtime = std::filesystem::file_time_type::clock::now() - std::chrono::hours(30);
  std::filesystem::last_write_time(file, mtime);
  ASSERT_TRUE(RecordingEpoch(file, std::nullopt, epoch, error));
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(epoch, now - 30 * 3600.0, 5.0);
  const timespec times[2] = {{1796640125, 750000000}, {1796640125, 750000000}};  // to the nanosecond
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ASSERT_TRUE(RecordingEpoch(file, std::nullopt, epoch, error));
  EXPECT_NEAR(epoch, 1796640125.75, 1e-6);
  for (const std::string& path : {std::string("-"), (dir.Dir / "missing.wav").string()}) {
    ASSERT_TRUE(RecordingEpoch(path, std::nullopt, epoch, error));
    EXPECT_NEAR(epoch, now, 5.0) << path;
  }
}

}  // namespace
}  // namespace brontel::msg
