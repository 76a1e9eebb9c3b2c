// A screenshot of the real window on an X display (scripts/xvfb-test-display.sh
// starts a virtual one): the window on screen has its client size, and its
// image is written as a PNG file (BRONTEL_SCREENSHOT, or brontel-screenshot.png
// in the build folder). Skipped without an X display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <QTableView>

#include <array>
#include <cstdlib>
#include <ctime>

#include "app/alarm.h"
#include "app/device_dialog.h"
#include "app/message_model.h"
#include "app/message_window.h"
#include "app/notice_window.h"
#include "app/qt_capture.h"
#include "app/status_line.h"
#include "app/translations.h"
#include "app_test_util.h"
#include "core/receiver.h"
#include "display/displays.h"
#include "messages/store.h"
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

// Plays a generated emission at 1212 Hz, 18 dB SNR, into the windows' fake
// input, each block processed before the next: the status line then has a
// level, a signal and an offset to show.
void PlayAt1212(test::TAppFixture& app)
{
  TForm1& f = app.Form1();
  std::vector<uint8_t> codes;
  std::string error;
  ASSERT_TRUE(gen::EnglishCodes("ZCZC OA01\nSECURITE.\nNAVAREA XI WARNING 123/26.\n"
                                "BUOY OFF STATION 35-12N 139-45E.\nNNNN\nZCZC OB02\nGALE WARNING",
                                codes, error));
  gen::TEmission emission;
  emission.PhasingSeconds = 3.0;
  emission.IdleSeconds = 0.0;
  gen::TFskParams fsk;
  fsk.CentF = 1212.0;
  fsk.Amplitude = 3000.0;
  fsk.SnrDb = 18.0;
  const std::vector<int16_t> pcm = gen::ModulateFsk(gen::EmissionBits(codes, emission), fsk);
  std::vector<int16_t> block(BlockSamples);
  for (std::size_t start = 0; start + FramesPerBlock <= pcm.size(); start += FramesPerBlock) {
    for (int j = 0; j < FramesPerBlock; ++j) block[2 * static_cast<std::size_t>(j)] = pcm[start + static_cast<std::size_t>(j)];
    const uint64_t before = f.Capture()->BlocksProcessed();
    ASSERT_TRUE(app.Fake.Device->FillNextWith(block));
    ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() > before; }, 5000));
  }
  f.RefreshStatus();
}

// Where a picture in `language` goes: BRONTEL_SCREENSHOT_DIR (the README's
// pictures: docs), else the build folder.
QString ShotPath(const char* name, TLanguage language)
{
  const char* dir = std::getenv("BRONTEL_SCREENSHOT_DIR");
  return (dir && *dir ? QString::fromLocal8Bit(dir) : QStringLiteral(BRONTEL_BINARY_DIR)) + QLatin1Char('/') +
         QString::fromLatin1(name) + QLatin1Char('-') + QString::fromLatin1(LanguageCode(language)) +
         QStringLiteral(".png");
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

// The message window in each language with a day's messages, one selected,
// the alarm of a search-and-rescue message waiting and the status line at its
// foot showing a signal heard 12 Hz off the centre: message-window-en.png and
// -ja.png (see ShotPath).
TEST(Screenshot, TheMessageWindowInBothLanguages)
{
  if (!OnX()) GTEST_SKIP() << "no X display (DISPLAY unset or not answering)";
  for (const TLanguage language : {TLanguage::English, TLanguage::Japanese}) {
    TTranslations translations;
    ASSERT_TRUE(translations.Install(language));
    // A listener on the Solent: the stations' names are known.
    test::TAppFixture app("[Wave]\nCentF=120\n[Station]\nPosition=50-45N 001-18W\n", nullptr,
                          [](TForm1Options& options) { options.AlarmSound = [] {}; });
    const std::string path = app.Path("store/messages.sqlite");
    std::string error;
    std::vector<msg::TMessage> alarms;
    {
      auto store = msg::TMessageStore::Open(path, msg::TMessageStore::TMode::Create, error);
      ASSERT_TRUE(store) << error;
      const double now = static_cast<double>(std::time(nullptr));
      const struct {
        const char* Id;
        const char* Text;
        double HoursAgo;
        double Cer;
      } sample[] = {
          {"EA12", "NAVAREA I 231/26\nDOVER STRAIT. LIGHT BUOY\n51-06.2N 001-38.9E UNLIT.", 20.0, 0.0},
          {"EE40", "GALE WARNING DOVER WIGHT PORTLAND\nSOUTHWEST 7 TO SEVERE GALE 9", 14.0, 0.004},
          {"KA07", "WIGHTNAV 034\nDRILLING RIG TRANSITING FROM\n50-32N 001-10W TO 50-20N 000-45W", 6.0, 0.012},
          {"EB41", "STORM WARNING\nPLYMOUTH FITZROY SOLE\nWEST 9 TO STORM 10", 3.0, 0.02},
          {"KD02", "MAYDAY RELAY\nFISHING VESSEL TAKING WATER\nIN POSITION 50-12N 001-30W\nVESSELS IN AREA KEEP SHARP LOOKOUT", 0.3, 0.031},
      };
      for (const auto& m : sample) {
        msg::TMessage received;
        received.Id = m.Id;
        received.HasHeader = received.HeaderOk = received.Trailer = true;
        received.Station = m.Id[0];
        received.Subject = m.Id[1];
        received.Serial = std::stoi(std::string(m.Id + 2));
        received.Text = m.Text;
        received.Start = now - m.HoursAgo * 3600.0;
        received.End = received.Start + 40.0;
        received.Frequency = 518.0;
        msg::Measure(received);
        received.Cer = m.Cer;
        msg::TMessage shown;
        ASSERT_TRUE(store->Add(received, shown, error)) << error;
        if (received.Subject == 'D') alarms.push_back(shown);
      }
    }
    app.Windows->Show();
    TForm1& f = app.Form1();
    f.OpenMessageWindow();
    TMessageWindow& w = *f.MessageWindow();
    w.setGeometry(0, 0, 860, 600);
    w.SetStore(path);
    PlayAt1212(app);
    for (const msg::TMessage& m : alarms) f.Alarm().Raise(m);
    const QModelIndex opened = w.List()->model()->match(w.List()->model()->index(0, TMessageListModel::Ident),
                                                        Qt::DisplayRole, QStringLiteral("KA07")).value(0);
    ASSERT_TRUE(opened.isValid());
    w.List()->selectRow(opened.row());
    for (int c = 0; c < TMessageListModel::ColumnCount; ++c)
      if (c != TMessageListModel::Subject) w.List()->resizeColumnToContents(c);
    w.List()->setColumnWidth(TMessageListModel::Subject, 170);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    test::PumpUntil([] { return false; }, 300);
    ASSERT_TRUE(w.isAncestorOf(f.StatusLine()));
    EXPECT_TRUE(f.StatusLine()->isVisible());
    const QPixmap shot = w.screen()->grabWindow(w.winId());
    const QString file = ShotPath("message-window", language);
    EXPECT_TRUE(shot.save(file, "PNG")) << file.toStdString();
    f.Alarm().Acknowledge();
  }
}

// The window, the device dialog and the status line in each language, drawn
// into one picture: screenshot-en.png and -ja.png (see ShotPath). Widgets
// draw themselves, so no X display is needed.
TEST(Screenshot, TheWindowsInBothLanguages)
{
  for (const TLanguage language : {TLanguage::English, TLanguage::Japanese}) {
    TTranslations translations;
    ASSERT_TRUE(translations.Install(language));
    test::TAppFixture app("[Wave]\nCentF=120\n");
    TForm1& f = app.Form1();
    PlayAt1212(app);
    TStatusLine& status = *f.StatusLine();
    status.resize(status.sizeHint().expandedTo(QSize(458 + 8 + 331, 0)));
    TDeviceDialog& dialog = *app.Windows->DeviceDialog;
    const QPixmap main = f.grab(), device = dialog.grab(), line = status.grab();
    QImage picture(QSize(std::max(main.width() + 8 + device.width(), line.width()), main.height() + 8 + line.height()),
                   QImage::Format_RGB32);
    picture.fill(QColor(0xE0, 0xE0, 0xE0));
    QPainter painter(&picture);
    painter.drawPixmap(0, 0, main);
    painter.drawPixmap(main.width() + 8, 0, device);
    painter.drawPixmap(0, main.height() + 8, line);
    painter.end();
    const QString path = ShotPath("screenshot", language);
    EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
    EXPECT_NE(f.MemoBytes().find("BUOY OFF STATION"), std::string::npos);
  }
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
