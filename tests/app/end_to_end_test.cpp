// The whole application on the private sound server: a generated NAVTEX
// emission played into the server reaches the window through the standard
// input device (the monitor of the server's output) and is decoded live; the
// device dialog switches to a device of the server. Skipped without a server.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>

#include "app/device_dialog.h"
#include "app/qt_capture.h"
#include "app_test_util.h"

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
