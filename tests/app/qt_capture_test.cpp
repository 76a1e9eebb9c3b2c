// The capture engine on the Qt event loop, and the error box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <thread>

#include "audio/fake_wave_in.h"
#include "app/qt_capture.h"
#include "core/receiver.h"

namespace brontel {
namespace {

QApplication& App()
{
  static int argc = 1;
  static char name[] = "brontel_audio_qt_tests";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

struct TNoBox final : TErrorReporter {
  void ShowError(std::string_view, std::string_view) override { ++Shown; }
  int Shown = 0;
};

// Runs the event loop until nothing is waiting.
void Drain()
{
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

struct TQtCaptureTest : ::testing::Test {
  TQtCaptureTest() { App(); }
  test::TFakeDriver Driver;
  TNoBox Errors;
  std::unique_ptr<TReceiver> Rx = std::make_unique<TReceiver>();
  TQtCapture Capture{Driver, Errors, [this](std::span<const int16_t, BlockSamples> b) { ProcessBlock(*Rx, b); }};
};

TEST_F(TQtCaptureTest, EachCompletionFromTheAudioThreadIsOneBlockStepOnTheUiThreadInRingOrder)
{
  ASSERT_TRUE(Capture.Engine().OpenCapture(0));
  std::vector<int> ringSlots;
  bool offThread = false;
  const auto ui = std::this_thread::get_id();
  Capture.SetAfterBlock([&] {
    ringSlots.push_back(Capture.Engine().NextHeader());
    if (std::this_thread::get_id() != ui) offThread = true;
  });

  // The device reports from a thread of its own; the user-interface thread
  // does not run its loop meanwhile, so the messages pile up.
  std::thread audio([&] {
    for (int k = 0; k < 20; ++k) Driver.Device->FillNext(static_cast<int16_t>(k));
  });
  audio.join();
  EXPECT_EQ(Capture.BlocksProcessed(), 0u);
  Drain();
  EXPECT_EQ(Capture.BlocksProcessed(), 20u);
  EXPECT_FALSE(offThread);
  std::vector<int> expected;
  for (int k = 1; k <= 20; ++k) expected.push_back(k % HeaderCount);
  EXPECT_EQ(ringSlots, expected);
}

TEST_F(TQtCaptureTest, EventsOfAClosedDeviceAreDroppedEvenAfterTheNextOpen)
{
  ASSERT_TRUE(Capture.Engine().OpenCapture(0));
  for (int k = 0; k < 4; ++k) Driver.Device->FillNext(1);
  Capture.Engine().CloseCapture();       // four waiting, 28 more from the reset
  ASSERT_TRUE(Capture.Engine().OpenCapture(0));
  Driver.Device->FillNext(2);            // the new open's first block
  Drain();
  EXPECT_EQ(Capture.BlocksDropped(), static_cast<uint64_t>(HeaderCount));
  EXPECT_EQ(Capture.BlocksProcessed(), 1u);
  EXPECT_EQ(Capture.Engine().NextHeader(), 1);
}

TEST(QtCaptureOnPulse, LiveBlocksReachTheUiThreadThroughTheEventLoop)
{
  App();
  const char* server = std::getenv("PULSE_SERVER");
  auto driver = MakePulseWaveInDriver();
  std::vector<std::string> names;
  if (!server || !*server || driver->ListDevices(names) != TWaveResult::Ok || names.empty())
    GTEST_SKIP() << "no PulseAudio server";
  TNoBox errors;
  auto rx = std::make_unique<TReceiver>();

  TQtCapture capture(*driver, errors, [&](std::span<const int16_t, BlockSamples> b) { ProcessBlock(*rx, b); });
  const auto ui = std::this_thread::get_id();
  bool offThread = false;
  capture.SetAfterBlock([&] {
    if (std::this_thread::get_id() != ui) offThread = true;
    if (capture.BlocksProcessed() >= 10) QCoreApplication::exit(0);
  });
  ASSERT_TRUE(capture.Engine().OpenCapture(0));
  QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0) << "ten blocks did not arrive";
  EXPECT_FALSE(offThread);
  EXPECT_EQ(capture.Engine().NextHeader(), 10);
  capture.Engine().CloseCapture();
  Drain();
  EXPECT_EQ(capture.BlocksProcessed(), 10u);
  EXPECT_EQ(errors.Shown, 0);
}

TEST(MessageBoxReporter, ShowsTheModalErrorBoxWithBothLines)
{
  App();
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool wasModal = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    wasModal = box->isModal();
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
  TMessageBoxReporter reporter;
  reporter.ShowError(OpenFailedLine1, OpenFailedLine2);
  EXPECT_TRUE(wasModal);
  EXPECT_EQ(title.toStdString(), "エラー");
  std::string expected(OpenFailedLine1);
  expected += "\n";
  expected += OpenFailedLine2;
  EXPECT_EQ(text.toStdString(), expected);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

}  // namespace
}  // namespace brontel
