// The whole application on the private sound server: a generated NAVTEX
// emission played into the server reaches the window through the standard
// input device (the monitor of the server's output) and is decoded live.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>

#include <cstdlib>

#include "app_test_util.h"
#include "audio/qt_capture.h"

namespace brontel {
namespace {

bool ServerAnswers()
{
  const char* server = std::getenv("PULSE_SERVER");
  return server && *server && MakePulseWaveInDriver()->GetNumDevs() > 0;
}

TEST(EndToEnd, APlayedEmissionIsDecodedIntoTheMemoWhileTheEditShowsTheGrowingLine)
{
  if (!ServerAnswers()) GTEST_SKIP() << "no PulseAudio server (PULSE_SERVER unset or silent)";
  auto driver = MakePulseWaveInDriver();
  test::TAppFixture app({}, driver.get());
  TForm1& f = app.Form1();
  app.Windows->Show();
  ASSERT_TRUE(app.CaptureErrors.Shown.empty());

  const std::string line = "SECURITE NAVAREA XI 123";
  const std::string wav = app.Path("emission.wav");
  test::WriteWav(wav, test::EnglishEmission("ZCZC OA01\n" + line + "\nNNNN\n"));

  std::vector<QString> edits;
  QObject::connect(f.Edit2, &QLineEdit::textChanged, [&](const QString& t) { edits.push_back(t); });
  QProcess player;
  player.start(QStringLiteral("paplay"), {QString::fromStdString(wav)});
  ASSERT_TRUE(player.waitForStarted(5000));
  const std::string expected = "ZCZC OA01\r\n" + line + "\r\nNNNN\r\n\r\n";
  const bool decoded = test::PumpUntil([&] { return f.MemoBytes() == expected; }, 60000);
  test::PumpUntil([&] { return player.state() == QProcess::NotRunning; }, 10000);
  EXPECT_EQ(player.exitCode(), 0);
  ASSERT_TRUE(decoded) << "memo: " << f.MemoBytes();
  EXPECT_EQ(f.Memo1->toPlainText().toStdString(), "ZCZC OA01\n" + line + "\nNNNN\n\n");

  // The line grew character by character in the edit before it was finished.
  int prefixes = 0;
  for (const QString& e : edits)
    if (!e.isEmpty() && line.rfind(e.toStdString(), 0) == 0) ++prefixes;
  EXPECT_GE(prefixes, static_cast<int>(line.size()) - 2);
  EXPECT_TRUE(f.Edit2->text().isEmpty()) << "the finished line left the edit";
}

}  // namespace
}  // namespace brontel
