// The whole application on the private sound server: a generated NAVTEX
// emission played into the server reaches the window through the standard
// input device (the monitor of the server's output) and is decoded live; the
// device dialog switches to a device of the server. Skipped without a server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/device_dialog.h"
#include "app/qt_capture.h"
#include "app/status_line.h"
#include "app/translations.h"
#include "app/widgets.h"
#include "app_test_util.h"
#include "display/displays.h"
#include "display/spectrum_display.h"

namespace brontel {
namespace {

bool ServerAnswers()
{
  const char* server = std::getenv("PULSE_SERVER");
  std::vector<std::string> names;
  return server && *server && MakePulseWaveInDriver()->ListDevices(names) == TWaveResult::Ok && !names.empty();
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

// A newcomer's first signal: played at 1200 Hz while the window listens at
// 800 Hz, it is found by the pointer over the spectrum, tuned by a
// double-click and decoded; the status line shows the level, the SNR and
// offset the robust path measures and the path shown. With the sound server
// gone the status line says so, and recording comes back with the server.
TEST(EndToEnd, ASignalFoundByThePointerTunedByADoubleClickDecodedAndTheStatusFollowsTheServer)
{
  if (!ServerAnswers()) GTEST_SKIP() << "no PulseAudio server (PULSE_SERVER unset or silent)";
  TTranslations translations;
  ASSERT_TRUE(translations.Install(TLanguage::English));
  auto driver = MakePulseWaveInDriver();
  test::TAppFixture app({}, driver.get());
  TForm1& f = app.Form1();
  app.Windows->Show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));

  const double snrDb = 15.0;
  std::vector<uint8_t> codes;
  std::string error;
  const std::string line = "WIND NW 6 SEA 3M VIS GOOD";
  ASSERT_TRUE(gen::EnglishCodes("ZCZC OE12\n" + line + "\n" + line + "\nNNNN\n", codes, error));
  gen::TEmission emission;
  emission.PhasingSeconds = 8.0;
  emission.IdleSeconds = 1.0;
  gen::TFskParams fsk;
  fsk.CentF = 1200.0;
  fsk.Amplitude = 6000.0;
  fsk.SnrDb = snrDb;
  const std::string wav = app.Path("at1200.wav");
  test::WriteWav(wav, gen::ModulateFsk(gen::EmissionBits(codes, emission), fsk));
  QProcess player;
  player.start(QStringLiteral("paplay"), {QString::fromStdString(wav)});
  ASSERT_TRUE(player.waitForStarted(5000));

  // After two seconds of sound the pointer goes to the strongest column
  // (the spectrum of ten blocks summed, as an eye averages the waterfall).
  const uint64_t start = f.Capture()->BlocksProcessed();
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() >= start + 20; }, 10000));
  std::vector<double> summed(SpectrumWidth, 0.0);
  for (uint64_t seen = f.Capture()->BlocksProcessed(), until = seen + 10; seen < until;) {
    ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() > seen; }, 5000));
    seen = f.Capture()->BlocksProcessed();
    for (int x = 0; x < SpectrumWidth; ++x) summed[static_cast<std::size_t>(x)] += f.Displays()->Analyser().SpecLevel[FirstBin + x];
  }
  const int peak = static_cast<int>(std::max_element(summed.begin(), summed.end()) - summed.begin());
  // On a display the real pointer goes there (so that no crossing of it
  // takes the hover away), and the move is handed to the view itself: the
  // server reports no motion to a pointer that was there already.
  const QPointF at(peak, 60);
  QCursor::setPos(f.Image1->mapToGlobal(at.toPoint()));
  QString hover;
  ASSERT_TRUE(test::PumpUntil(
      [&] {
        QMouseEvent move(QEvent::MouseMove, at, f.Image1->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(f.Image1, &move);
        hover = f.HoverText();
        return !hover.isEmpty();
      },
      2000));
  const double hovered = hover.section(QLatin1Char(' '), 0, 0).toDouble();
  EXPECT_NEAR(hovered, 1200.0, 100.0) << "within the signal's band: " << hover.toStdString();
  // Between the two tones lies the centre: the double-click goes there.
  const QPoint centre(static_cast<int>(std::lround(SpectrumColumnOf(1200.0, f.Rx().CentF))), 60);
  QTest::mouseClick(f.Image1, Qt::LeftButton, {}, centre);
  QTest::mouseDClick(f.Image1, Qt::LeftButton, {}, centre);
  EXPECT_EQ(f.Rx().CentF, 1200.0);
  EXPECT_TRUE(f.Session().SpectrumOn());

  const bool decoded = test::PumpUntil([&] { return f.MemoBytes().find(line + "\r\n" + line) != std::string::npos; },
                                       60000);
  f.RefreshStatus();
  const TStatusLineModel& status = f.StatusModel();
  EXPECT_TRUE(decoded) << "memo: " << f.MemoBytes();
  EXPECT_EQ(status.Input(), TInputState::Recording);
  EXPECT_GT(status.InputLevel().AverageDb, -30.0);
  EXPECT_LT(status.InputLevel().PeakDb, 0.0);
  // The status line follows the robust path's figures within a reporting
  // step, and they are the generated ones: the silence the server delivered
  // before the sound began does not count as a quiet band.
  const TReceiverStatus now = f.Session().FullStatus();
  EXPECT_NEAR(status.ReceiverStatus().SnrDb, now.SnrDb, SnrReportStepDb);
  EXPECT_NEAR(status.ReceiverStatus().OffsetHz, now.OffsetHz, OffsetReportStepHz);
  EXPECT_NEAR(status.ReceiverStatus().SnrDb, snrDb, 1.0);
  EXPECT_NEAR(status.ReceiverStatus().OffsetHz, 0.0, 1.0);
  const QString signal = f.StatusLine()->SignalLabel->text();
  EXPECT_TRUE(signal.startsWith(QStringLiteral("Signal: SNR "))) << signal.toStdString();
  EXPECT_EQ(f.StatusLine()->PathButton->text(), QStringLiteral("Memo: exact path"));
  test::PumpUntil([&] { return player.state() == QProcess::NotRunning; }, 20000);

  // The server goes, and comes back on the same socket.
  const char* dir = std::getenv("BRONTEL_PULSE_DIR");
  if (!dir || !*dir) GTEST_SKIP() << "the server was not started by its script";
  ASSERT_EQ(QProcess::execute(QStringLiteral("bash"), {QStringLiteral(BRONTEL_PULSE_SCRIPT), QStringLiteral("stop"),
                                                      QString::fromUtf8(dir)}),
            0);
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        f.RefreshStatus();
        return status.Input() != TInputState::Recording;
      },
      10000));
  EXPECT_FALSE(f.StatusLine()->InputLabel->text().contains(QStringLiteral("recording")));
  QProcess restart;
  restart.start(QStringLiteral("bash"), {QStringLiteral(BRONTEL_PULSE_SCRIPT), QStringLiteral("start"),
                                         QString::fromUtf8(dir)});
  ASSERT_TRUE(restart.waitForFinished(30000));
  ASSERT_EQ(restart.exitCode(), 0) << restart.readAllStandardError().toStdString();
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        f.RefreshStatus();
        return status.Input() == TInputState::Recording;
      },
      20000));
  EXPECT_TRUE(f.StatusLine()->InputLabel->text().endsWith(QStringLiteral(": recording")));
}

QString Caption(const TDeviceDialog& d, int row) { return d.ListView1->item(row, 0)->text(); }

// Runs `inside` once the modal dialog is up, then shows it through the main
// window's device button; returns when the dialog has closed.
void WithDialog(test::TAppFixture& app, const std::function<void(TDeviceDialog&)>& inside)
{
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  QTimer::singleShot(0, &d, [&] { inside(d); });
  QTest::mouseClick(app.Form1().SpeedButton1, Qt::LeftButton);
  EXPECT_FALSE(d.isVisible());
}

TEST(DeviceDialogOnServer, ChoosingTheMonitorCancelReopenAndOk)
{
  if (!ServerAnswers()) GTEST_SKIP() << "no PulseAudio server (PULSE_SERVER unset or silent)";
  auto driver = MakePulseWaveInDriver();
  test::TAppFixture app({}, driver.get());
  TForm1& f = app.Form1();
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  ASSERT_TRUE(app.CaptureErrors.Shown.empty());
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() >= 3; }, 10000));

  int monitorRow = -1;
  for (int row = 1; row < d.ListView1->rowCount(); ++row)
    if (Caption(d, row).startsWith(QStringLiteral("Monitor of "))) monitorRow = row;
  ASSERT_GT(monitorRow, 0);
  EXPECT_EQ(d.MarkedRow(), 0);

  WithDialog(app, [&](TDeviceDialog& dialog) {
    dialog.ListView1->selectRow(monitorRow);
    dialog.Button2Click();
  });
  EXPECT_EQ(f.InputIndex, 0);
  const uint64_t generation = f.Capture()->Engine().Generation();

  WithDialog(app, [&](TDeviceDialog& dialog) { dialog.Button1Click(); });
  EXPECT_EQ(f.InputIndex, monitorRow);
  EXPECT_EQ(d.MarkedRow(), monitorRow);
  EXPECT_GT(f.Capture()->Engine().Generation(), generation);
  // Blocks flow from the new device; those of the closed one were dropped.
  const uint64_t before = f.Capture()->BlocksProcessed();
  EXPECT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() >= before + 5; }, 10000));
  EXPECT_TRUE(app.CaptureErrors.Shown.empty());
}

}  // namespace
}  // namespace brontel
