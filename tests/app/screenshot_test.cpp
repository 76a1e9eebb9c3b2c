// A screenshot of the real window on an X display (scripts/xvfb-test-display.sh
// starts a virtual one): the window on screen has its client size, and its
// image is written as a PNG file (BRONTEL_SCREENSHOT, or brontel-screenshot.png
// in the build folder). Skipped without an X display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>

#include <array>
#include <cstdlib>

#include "app/device_dialog.h"
#include "app/notice_window.h"
#include "app_test_util.h"
#include "core/receiver.h"
#include "display/displays.h"
#include "signal/navtex_signal.h"

namespace brontel {
namespace {

bool HaveDisplay() { return std::getenv("DISPLAY") && *std::getenv("DISPLAY"); }
bool OnX() { return QGuiApplication::platformName() == QStringLiteral("xcb"); }

// Runs mono samples through the window's receiver, block by block, as the
// capture would.
void Feed(TForm1& f, const std::vector<int16_t>& left)
{
  std::array<int16_t, BlockSamples> block{};
  for (std::size_t start = 0; start + FramesPerBlock <= left.size(); start += FramesPerBlock) {
    for (int j = 0; j < FramesPerBlock; ++j) {
      block[2 * j] = left[start + static_cast<std::size_t>(j)];
      block[2 * j + 1] = 0;
    }
    ProcessBlock(f.Rx(), block);
  }
}

TEST(Screenshot, TheWindowOnTheDisplayHasItsSizeAndShowsReceivedText)
{
  if (!OnX()) GTEST_SKIP() << "no X display (DISPLAY unset or not answering)";
  test::TAppFixture app;
  TForm1& f = app.Form1();
  app.Windows->Show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  test::PumpUntil([] { return false; }, 200);
  // Before any text: the banner, kept beside the build for a look at its frame.
  const QPixmap banner = f.screen()->grabWindow(f.winId());
  EXPECT_EQ(banner.size(), QSize(458, 563) * f.devicePixelRatio());
  banner.save(QStringLiteral(BRONTEL_BINARY_DIR "/brontel-screenshot-banner.png"), "PNG");

  Feed(f, test::EnglishEmission("ZCZC OA01\nSECURITE.\nNAVAREA XI WARNING 123/26.\n"
                                "BUOY OFF STATION 35-12N 139-45E.\nNNNN\n"));
  std::vector<uint8_t> codes;
  std::string error;
  ASSERT_TRUE(gen::JapaneseCodes("ＺＣＺＣ　ＪＡ０１\n航行警報\n浦賀水道　工事作業中\nＮＮＮＮ\n", codes, error)) << error;
  gen::TEmission emission;
  emission.Service = gen::TService::Japanese;
  emission.PhasingSeconds = 3.0;
  gen::TFskParams fsk;
  fsk.SnrDb = 20.0;
  Feed(f, gen::ModulateFsk(gen::EmissionBits(codes, emission), fsk));
  // A line in progress for the edit.
  ASSERT_TRUE(gen::EnglishCodes("ZCZC OB02\nGALE WARNING", codes, error));
  emission = gen::TEmission{};
  emission.PhasingSeconds = 3.0;
  emission.IdleSeconds = 0.0;
  Feed(f, gen::ModulateFsk(gen::EmissionBits(codes, emission), fsk));
  EXPECT_NE(f.MemoBytes().find("BUOY OFF STATION"), std::string::npos);
  test::PumpUntil([] { return false; }, 300);

  const QPixmap shot = f.screen()->grabWindow(f.winId());
  EXPECT_EQ(shot.size(), QSize(458, 563) * f.devicePixelRatio());
  const QImage image = shot.toImage();
  // Label2's silver fill, in its corner.
  EXPECT_EQ(image.pixel(309, 161) & 0xFFFFFF, qRgb(192, 192, 192) & 0xFFFFFF);
  const char* out = std::getenv("BRONTEL_SCREENSHOT");
  const QString path = out && *out ? QString::fromLocal8Bit(out)
                                   : QStringLiteral(BRONTEL_BINARY_DIR "/brontel-screenshot.png");
  EXPECT_TRUE(shot.save(path, "PNG")) << path.toStdString();

  // The device dialog and the notice window, for a look beside the build.
  TDeviceDialog& dialog = *app.Windows->DeviceDialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  app.Windows->NoticeWindow->ShowOver(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(app.Windows->NoticeWindow));
  test::PumpUntil([] { return false; }, 200);
  const QPixmap dialogShot = dialog.screen()->grabWindow(dialog.winId());
  EXPECT_EQ(dialogShot.size(), QSize(331, 168) * dialog.devicePixelRatio());
  dialogShot.save(QStringLiteral(BRONTEL_BINARY_DIR "/brontel-screenshot-device.png"), "PNG");
  app.Windows->NoticeWindow->screen()->grabWindow(app.Windows->NoticeWindow->winId())
      .save(QStringLiteral(BRONTEL_BINARY_DIR "/brontel-screenshot-notice.png"), "PNG");
  app.Windows->NoticeWindow->hide();
  dialog.hide();
}

}  // namespace
}  // namespace brontel

int main(int argc, char** argv)
{
  // On X when a display answers, else offscreen (listing the tests needs no display).
  qputenv("QT_QPA_PLATFORM", brontel::HaveDisplay() ? "xcb;offscreen" : "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
