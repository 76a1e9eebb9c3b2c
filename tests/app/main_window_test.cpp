// The main window driven as the user drives it: start-up with and without a
// settings file, the centre-frequency arrows, save, copy, the display
// switches, received text, and the order of shut-down. Fake sound input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QClipboard>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <limits>
#include <cerrno>
#include <system_error>

#include "app/atomic_file.h"
#include "app/banner.h"
#include "app/settings.h"
#include "app/widgets.h"
#include "app_test_util.h"
#include "app/qt_capture.h"
#include "decoder/cp932.h"
#include "decoder/text_output.h"
#include "display/displays.h"
#include "messages/store.h"

namespace brontel {
namespace {

using test::ReadBytes;
using test::TAppFixture;

std::string Utf8(const QString& s) { return s.toStdString(); }

std::string Cp932(const char* utf8)
{
  std::string out;
  Utf8ToCp932(utf8, out);
  return out;
}

// The banner as the memo shows it (line breaks as "\n").
QString BannerShown()
{
  QString s = QString::fromStdString(Cp932ToUtf8(MemoBanner()));
  return s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

int CountColour(const QImage& image, QRect area, QRgb colour)
{
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++n;
  return n;
}

TEST(Banner, TwentyFourLinesEveryFramedOneFiftyColumnsWide)
{
  const std::string& banner = MemoBanner();
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t crlf; (crlf = banner.find("\r\n", start)) != std::string::npos; start = crlf + 2)
    lines.push_back(banner.substr(start, crlf - start));
  EXPECT_EQ(start, banner.size()) << "every line ends in CR LF";
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(BannerLineCount));
  // In code page 932 a full-width character is two bytes: bytes are columns.
  for (int i = 0; i < 23; ++i) {
    EXPECT_EQ(lines[i].size(), static_cast<std::size_t>(BannerColumns)) << "line " << i + 1;
    EXPECT_EQ(lines[i].substr(0, 2), "//");
    EXPECT_EQ(lines[i].substr(48), "//");
  }
  EXPECT_EQ(lines[0], std::string(50, '/'));
  EXPECT_EQ(lines[1], "//  Brontel ver.1.0.0 build001                  //");
  EXPECT_EQ(lines[22], std::string(50, '/'));
  EXPECT_EQ(lines[23], "");
  EXPECT_EQ(lines[3], Cp932("//  ナブテックス放送スケジュール                //"));
  EXPECT_EQ(lines[6], Cp932("//         那覇  門司  横浜  小樽  釧路         //"));
  EXPECT_EQ(lines[20], "//         1700  1717  1734  1751  1708         //");
}

TEST(MainWindow, FirstStartWithoutSettingsFile)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  app.Windows->Show();
  EXPECT_EQ(f.pos(), QPoint(0, 0));
  EXPECT_EQ(f.size(), QSize(458, 563));
  EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "fixed size";
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Brontel"));
  EXPECT_EQ(f.Label2->text(), QStringLiteral("800Hz"));
  EXPECT_EQ(f.UpDown1->Position(), 80);
  EXPECT_EQ(f.Rx().CentF, 800.0);
  EXPECT_TRUE(f.Rx().DispSpectrum);
  EXPECT_TRUE(f.Rx().DispEyepattern);
  EXPECT_EQ(f.InputIndex, 0);
  EXPECT_EQ(app.Fake.LastDeviceId, WaveMapper) << "the standard input device";
  EXPECT_TRUE(f.Capture()->Engine().IsRecording());
  EXPECT_TRUE(app.CaptureErrors.Shown.empty());
  EXPECT_EQ(f.Memo1->toPlainText(), BannerShown());
  EXPECT_EQ(f.MemoBytes(), MemoBanner());
  EXPECT_TRUE(f.Edit2->text().isEmpty());
  EXPECT_EQ(f.Rx().Displays, f.Displays());
  // Both start-up frames are on screen.
  EXPECT_EQ(f.Displays()->SpectrumFrames(), 1u);
  EXPECT_EQ(f.Displays()->EyeFrames(), 1u);
}

TEST(MainWindow, ControlsStandWhereTheLayoutPutsThem)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  EXPECT_EQ(f.Image1->geometry(), QRect(8, 8, 256, 145));
  EXPECT_EQ(f.Image2->geometry(), QRect(270, 8, 180, 145));
  EXPECT_EQ(f.Edit2->geometry(), QRect(8, 158, 293, 20));
  EXPECT_EQ(f.Label2->geometry(), QRect(308, 160, 54, 17));
  EXPECT_EQ(f.UpDown1->geometry(), QRect(361, 160, 17, 17));
  EXPECT_EQ(f.SpeedButton2->geometry(), QRect(383, 157, 21, 21));
  EXPECT_EQ(f.SpeedButton3->geometry(), QRect(406, 157, 21, 21));
  EXPECT_EQ(f.SpeedButton1->geometry(), QRect(429, 157, 21, 21));
  EXPECT_EQ(f.Memo1->geometry(), QRect(8, 184, 442, 371));
  EXPECT_TRUE(f.Edit2->isReadOnly());
  EXPECT_TRUE(f.Memo1->isReadOnly());
  EXPECT_EQ(f.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f.Label2->alignment(), Qt::AlignCenter);
  EXPECT_EQ(f.Label2->palette().color(QPalette::Window), QColor(192, 192, 192));
  for (QToolButton* b : {f.SpeedButton1, f.SpeedButton2, f.SpeedButton3}) {
    EXPECT_TRUE(b->text().isEmpty());
    EXPECT_FALSE(b->toolTip().isEmpty()) << "each icon button says what it does";
    EXPECT_TRUE(b->autoRaise());
  }
  // Tab order: memo, edit, arrows.
  auto next = [](QWidget* w) {
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
  };
  EXPECT_EQ(next(f.Memo1), f.Edit2);
  EXPECT_EQ(next(f.Edit2), f.UpDown1);
}

TEST(MainWindow, GlyphsAreBlackOnTransparentGrey)
{
  for (const TGlyph* g : {&SaveGlyph, &CopyGlyph, &InputGlyph}) {
    const QImage image = GlyphImage(*g);
    ASSERT_EQ(image.size(), QSize(16, 16));
    int black = 0, clear = 0;
    for (int y = 0; y < 16; ++y) {
      ASSERT_EQ((*g)[y].size(), 16u);
      for (int x = 0; x < 16; ++x) {
        const QRgb p = image.pixel(x, y);
        if (qAlpha(p) == 255 && (p & 0xFFFFFF) == 0) ++black;
        if (qAlpha(p) == 0) ++clear;
      }
    }
    EXPECT_GT(black, 20);
    EXPECT_EQ(black + clear, 256);
  }
}

TEST(MainWindow, TheMemoShowsAboutTwentyEightLinesAndTheBannerFrameStaysFiftyColumnsWide)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  app.Windows->Show();
  EXPECT_EQ(QFontInfo(f.Memo1->font()).pixelSize(), 12);
  EXPECT_EQ(QFontInfo(f.Label2->font()).pixelSize(), 16);

  // Lines of text the memo's view holds at the window's fixed size.
  const QRectF line = f.Memo1->document()->documentLayout()->blockBoundingRect(f.Memo1->document()->firstBlock());
  ASSERT_GT(line.height(), 0.0);
  const double shown = f.Memo1->viewport()->height() / line.height();
  EXPECT_GE(shown, 27.0);
  EXPECT_LT(shown, 30.0);

  // Every framed banner line is 50 half-width columns, in whole pixels, with
  // each full-width character exactly two of them.
  const QFontMetrics m(f.Memo1->font());
  const int column = m.horizontalAdvance(QLatin1Char('/'));
  ASSERT_GT(column, 0);
  for (const QString& text : BannerShown().split(QLatin1Char('\n')))
    if (!text.isEmpty()) {
      EXPECT_EQ(m.horizontalAdvance(text), 50 * column) << Utf8(text);
    }
}

TEST(MainWindow, StoredSettingsAreApplied)
{
  TAppFixture app("[Form]\nMainTop=100\nMainLeft=50\n[Disp]\nSpectrum=0\nEyepattern=2\n"
                  "[Wave]\nInput=0x2\nCentF=45\n");
  TForm1& f = app.Form1();
  app.Windows->Show();
  EXPECT_EQ(f.pos(), QPoint(50, 100));
  EXPECT_FALSE(f.Rx().DispSpectrum);
  EXPECT_TRUE(f.Rx().DispEyepattern);
  EXPECT_EQ(f.InputIndex, 2);
  EXPECT_EQ(app.Fake.LastDeviceId, 1);
  EXPECT_EQ(f.Label2->text(), QStringLiteral("450Hz"));
  EXPECT_EQ(f.Rx().CentF, 450.0);
}

TEST(MainWindow, ReadingEdgeCasesAndACentreFrequencyOutsideTheRange)
{
  {
    TAppFixture app("[Wave]\nInput=$A\nCentF=\n");
    EXPECT_EQ(app.Form1().Label2->text(), QStringLiteral("800Hz"));
    // Row 10 (read as hexadecimal) is gone: the standard input device is used
    // instead, with a notice rather than an error.
    ASSERT_EQ(app.Notices.size(), 1u);
    EXPECT_TRUE(app.Notices[0].contains(QStringLiteral("10"))) << Utf8(app.Notices[0]);
    EXPECT_TRUE(app.CaptureErrors.Shown.empty());
    EXPECT_EQ(app.Form1().InputIndex, 0);
    EXPECT_EQ(app.Fake.LastDeviceId, WaveMapper);
    EXPECT_TRUE(app.Form1().Capture()->Engine().IsRecording());
  }
  {
    TAppFixture app("[Wave]\nInput=abc\nCentF=250\n");
    EXPECT_EQ(app.Form1().InputIndex, 0);
    // The arrows keep their range; the position read back from them is used.
    EXPECT_EQ(app.Form1().UpDown1->Position(), 200);
    EXPECT_EQ(app.Form1().Label2->text(), QStringLiteral("2000Hz"));
    EXPECT_EQ(app.Form1().Rx().CentF, 2000.0);
  }
  {
    // A position on no screen at all comes back to the first screen.
    TAppFixture app("[Form]\nMainTop=-20000\nMainLeft=90000\n");
    app.Windows->Show();
    EXPECT_EQ(app.Form1().pos(), QGuiApplication::primaryScreen()->geometry().topLeft());
    EXPECT_EQ(app.Form1().MainLeft, 90000);
  }
}

TEST(MainWindow, APositionAtTheEndsOfTheNumberRangeComesBackToTheFirstScreen)
{
  const QList<QRect> screens{QRect(0, 0, 1280, 1024)};
  const int big = std::numeric_limits<int>::max(), small = std::numeric_limits<int>::min();
  for (const QPoint stored : {QPoint(big, big), QPoint(small, small), QPoint(big, 0), QPoint(0, big - 10),
                              QPoint(big - 100, 0)})
    EXPECT_EQ(VisiblePosition(stored, QSize(458, 563), screens), QPoint(0, 0)) << stored.x() << "," << stored.y();

  TAppFixture app("[Form]\nMainTop=2147483647\nMainLeft=-2147483648\n");
  app.Windows->Show();
  EXPECT_EQ(app.Form1().pos(), QGuiApplication::primaryScreen()->geometry().topLeft());
}

TEST(MainWindow, WithoutASoundServerAtStartRecordingBeginsWhenItComes)
{
  test::TFakeDriver driver;
  driver.FailOpen = TWaveResult::NoDriver;
  TAppFixture app("[Wave]\nInput=2\n", &driver, [](TForm1Options& options) { options.CaptureRetryMs = 5; });
  TForm1& f = app.Form1();
  ASSERT_EQ(app.CaptureErrors.Shown.size(), 1u) << "the failure is shown once";
  EXPECT_FALSE(f.Capture()->Engine().IsOpen());
  EXPECT_TRUE(f.RetryingCapture());
  ASSERT_TRUE(test::PumpUntil([&] { return driver.Log.size() >= 3; }, 5000)) << "tried again";

  // The server is back, but with one device fewer: the stored row is gone.
  driver.Names = {"Line In"};
  driver.FailOpen = TWaveResult::Ok;
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->Engine().IsRecording(); }, 5000));
  EXPECT_EQ(driver.LastDeviceId, WaveMapper);
  EXPECT_EQ(f.InputIndex, 0);
  EXPECT_EQ(app.Notices.size(), 1u);
  EXPECT_EQ(app.CaptureErrors.Shown.size(), 1u) << "nothing more shown while trying";
  EXPECT_FALSE(f.RetryingCapture());
  EXPECT_EQ(app.Windows->DeviceDialog->MarkedRow(), 0);

  // Blocks arrive as usual.
  ASSERT_TRUE(driver.Device->FillNext(100));
  EXPECT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == 1; }, 5000));

  // A device closed on purpose is not tried again.
  driver.FailOpen = TWaveResult::NoDriver;
  EXPECT_FALSE(f.OpenCapture());
  EXPECT_TRUE(f.RetryingCapture());
  f.CloseCapture();
  EXPECT_FALSE(f.RetryingCapture());
}

TEST(MainWindow, ArrowsStepTenHertzAndStopAtBothEnds)
{
  // The range reaches 2000 Hz, where receivers in USB mode put the tones.
  TAppFixture app("[Wave]\nCentF=199\n");
  TForm1& f = app.Form1();
  app.Windows->Show();
  QTest::mouseClick(f.UpDown1->UpButton(), Qt::LeftButton);
  EXPECT_EQ(f.Label2->text(), QStringLiteral("2000Hz"));
  EXPECT_EQ(f.Rx().CentF, 2000.0);
  int calls = 0;
  f.UpDown1->OnClick = [&] { ++calls; f.UpDown1Click(); };
  QTest::mouseClick(f.UpDown1->UpButton(), Qt::LeftButton);
  EXPECT_EQ(calls, 0) << "a press at the end calls nothing";
  EXPECT_EQ(f.UpDown1->Position(), 200);
  EXPECT_EQ(f.Rx().CentF, 2000.0);

  QTest::mouseClick(f.UpDown1->DownButton(), Qt::LeftButton);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(f.Label2->text(), QStringLiteral("1990Hz"));
  EXPECT_EQ(f.Rx().CentF, 1990.0);

  for (int i = 0; i < 200; ++i) f.UpDown1->StepDown();
  EXPECT_EQ(f.UpDown1->Position(), 20);
  EXPECT_EQ(f.Label2->text(), QStringLiteral("200Hz"));
  EXPECT_EQ(calls, 1 + 179);
  f.UpDown1->setFocus();
  QTest::keyClick(f.UpDown1, Qt::Key_Up);
  EXPECT_EQ(f.Label2->text(), QStringLiteral("210Hz"));
  EXPECT_EQ(f.Rx().CentF, 210.0);
}

TEST(MainWindow, SaveAppendsTxtOnlyToANameWithoutDotAndWritesTheMemoBytes)
{
  TAppFixture app;
  TForm1& f = app.Form1();

  // Before any text: the banner and schedule, exactly.
  app.SaveAs = QString::fromStdString(app.Path("log"));
  QTest::mouseClick(f.SpeedButton2, Qt::LeftButton);
  EXPECT_EQ(app.DialogTitle, QStringLiteral("受信文の保存"));
  EXPECT_EQ(app.DialogFilter, QStringLiteral("テキスト (*.txt)"));
  EXPECT_EQ(ReadBytes(app.Path("log.txt")), MemoBanner());
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(app.Path("log"))));

  // Received text: lines each ended by CR LF, code page 932 bytes as received.
  const std::string nihon = Cp932("日本");
  AppendMemoLine(f.Rx().Text, "ZCZC OA01");
  AppendMemoLine(f.Rx().Text, nihon);
  const std::string expected = "ZCZC OA01\r\n" + nihon + "\r\n\r\n";
  EXPECT_EQ(f.MemoBytes(), expected);
  EXPECT_EQ(f.Memo1->toPlainText(), QStringLiteral("ZCZC OA01\n日本\n\n"));

  app.SaveAs = QString::fromStdString(app.Path("log.text"));
  f.SpeedButton2Click();
  EXPECT_EQ(ReadBytes(app.Path("log.text")), expected);
  app.SaveAs = QString::fromStdString(app.Path("log."));
  f.SpeedButton2Click();
  EXPECT_EQ(ReadBytes(app.Path("log.")), expected);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(app.Path("log..txt"))));
  // A dot in a folder name does not count.
  QDir(app.Dir.path()).mkdir(QStringLiteral("v1.0"));
  app.SaveAs = QString::fromStdString(app.Path("v1.0/log"));
  f.SpeedButton2Click();
  EXPECT_EQ(ReadBytes(app.Path("v1.0/log.txt")), expected);
  // An existing file is replaced.
  app.SaveAs = QString::fromStdString(app.Path("log.txt"));
  f.SpeedButton2Click();
  EXPECT_EQ(ReadBytes(app.Path("log.txt")), expected);
  EXPECT_TRUE(app.Errors.empty());

  // Cancelled: nothing happens.
  app.SaveAs.clear();
  f.SpeedButton2Click();
  EXPECT_TRUE(app.Errors.empty());
}

TEST(MainWindow, AFailedSaveIsReportedWithThePathAndTheReasonAndWritesNothing)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  app.SaveAs = QString::fromStdString(app.Path("missing-folder/log"));
  f.SpeedButton2Click();
  ASSERT_EQ(app.Errors.size(), 1u);
  const QString path = QString::fromStdString(app.Path("missing-folder/log.txt"));
  EXPECT_TRUE(app.Errors[0].contains(path)) << Utf8(app.Errors[0]);
  EXPECT_GT(app.Errors[0].size(), path.size() + 15) << "the reason is given";
  EXPECT_FALSE(QFileInfo::exists(path));

  // A folder in the way of the file: the folder stays as it was.
  QDir(app.Dir.path()).mkdir(QStringLiteral("taken.txt"));
  app.SaveAs = QString::fromStdString(app.Path("taken.txt"));
  f.SpeedButton2Click();
  EXPECT_EQ(app.Errors.size(), 2u);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(app.Path("taken.txt"))).isDir());
  EXPECT_EQ(QDir(app.Dir.path()).entryList(QDir::Files).size(), 0) << "no temporary file left behind";
}

// A disk that fills up after a few bytes.
ssize_t WriteUntilFull(int, const void*, std::size_t size)
{
  if (size > 5) return 5;
  errno = ENOSPC;
  return -1;
}

TEST(MainWindow, AFullDiskIsReportedWithItsReasonAndTheOldFilesStayWhole)
{
  TAppFixture app("[Wave]\nCentF=90\n", nullptr, [](TForm1Options& options) {
    options.FileWrites.Write = &WriteUntilFull;
  });
  TForm1& f = app.Form1();
  app.Windows->Show();
  test::WriteBytes(app.Path("log.txt"), "yesterday\r\n");
  app.SaveAs = QString::fromStdString(app.Path("log.txt"));
  f.SpeedButton2Click();
  const QString full = QString::fromStdString(std::error_code(ENOSPC, std::generic_category()).message());
  ASSERT_EQ(app.Errors.size(), 1u);
  EXPECT_TRUE(app.Errors[0].contains(QString::fromStdString(app.Path("log.txt"))));
  EXPECT_TRUE(app.Errors[0].endsWith(full)) << Utf8(app.Errors[0]);
  EXPECT_EQ(ReadBytes(app.Path("log.txt")), "yesterday\r\n");

  EXPECT_TRUE(f.close());
  ASSERT_EQ(app.Errors.size(), 2u);
  EXPECT_TRUE(app.Errors[1].endsWith(full)) << Utf8(app.Errors[1]);
  EXPECT_EQ(ReadBytes(app.SettingsPath), "[Wave]\nCentF=90\n");
}

TEST(MainWindow, SavingToALinkWritesItsFileAndAnythingButAFileIsRefused)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  test::WriteBytes(app.Path("real.txt"), "old");
  ASSERT_EQ(::symlink(app.Path("real.txt").c_str(), app.Path("link.txt").c_str()), 0);
  app.SaveAs = QString::fromStdString(app.Path("link.txt"));
  f.SpeedButton2Click();
  EXPECT_TRUE(app.Errors.empty());
  EXPECT_EQ(ReadBytes(app.Path("real.txt")), MemoBanner());
  EXPECT_TRUE(QFileInfo(QString::fromStdString(app.Path("link.txt"))).isSymLink());

  ASSERT_EQ(::mkfifo(app.Path("pipe.txt").c_str(), 0600), 0);
  app.SaveAs = QString::fromStdString(app.Path("pipe.txt"));
  f.SpeedButton2Click();
  ASSERT_EQ(app.Errors.size(), 1u);
  EXPECT_TRUE(app.Errors[0].endsWith(QString::fromLatin1(NotRegularFileReason))) << Utf8(app.Errors[0]);
  struct stat st {};
  ASSERT_EQ(::stat(app.Path("pipe.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(MainWindow, CopyPutsTheWholeMemoOnTheClipboard)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  QGuiApplication::clipboard()->setText(QStringLiteral("old"));
  QTest::mouseClick(f.SpeedButton3, Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(Cp932ToUtf8(MemoBanner())));

  AppendMemoLine(f.Rx().Text, Cp932("ナブテックス"));
  f.SpeedButton3Click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("ナブテックス\r\n\r\n"));
}

TEST(MainWindow, ReceivedTextReplacesTheBannerAndTheEditShowsTheLineTail)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  ShowEditLine(f.Rx().Text, Cp932("ＮＡＶＴＥＸ"));
  EXPECT_EQ(f.Edit2->text(), QStringLiteral("ＮＡＶＴＥＸ"));
  EXPECT_EQ(f.Memo1->toPlainText(), BannerShown()) << "the banner stays until a line is finished";
  AppendMemoLine(f.Rx().Text, "FIRST");
  EXPECT_EQ(f.Memo1->toPlainText(), QStringLiteral("FIRST\n\n"));
  EXPECT_EQ(f.Memo1->textCursor().position(), f.Memo1->toPlainText().size()) << "the view follows the end";
  // A byte sequence that is not code page 932 shows as a replacement mark but
  // is saved as received.
  AppendMemoLine(f.Rx().Text, "A\x81");
  EXPECT_EQ(f.Memo1->toPlainText(), QStringLiteral("FIRST\nA\uFFFD\n\n"));
  EXPECT_EQ(f.MemoBytes(), "FIRST\r\nA\x81\r\n\r\n");
}

TEST(MainWindow, EachBlockEventRunsOneBlockThroughTheChainAndTheDisplays)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  test::TFakeWaveIn* device = app.Fake.Device;
  ASSERT_NE(device, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(device->FillNext(1000));
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == 3; }, 5000));
  EXPECT_EQ(f.Displays()->SpectrumFrames(), 1u + 3u);
  EXPECT_EQ(f.Displays()->EyeFrames(), 1u + 3u);
}

TEST(MainWindow, SoundLostEndsTheLineBeingReceivedAndIsMarkedInTheMemo)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  test::TFakeWaveIn* device = app.Fake.Device;
  ASSERT_NE(device, nullptr);
  AppendMemoLine(f.Rx().Text, "ZCZC OA01");
  f.Rx().Channels[0].LineText = "GALE WARN";  // a line half received
  for (int i = 0; i < HeaderCount; ++i) ASSERT_TRUE(device->FillNext(0));
  device->Drop(520 * BlockBytes);  // 52 s while the window was busy
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == HeaderCount; }, 5000));
  EXPECT_EQ(f.MemoBytes(), "ZCZC OA01\r\n\r\n") << "nothing before the block after the gap";
  ASSERT_TRUE(device->FillNext(0));
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == HeaderCount + 1; }, 5000));
  EXPECT_EQ(f.MemoBytes(), "ZCZC OA01\r\nGALE WARN\r\n--- 52.0 s of audio lost ---\r\n\r\n");
  EXPECT_TRUE(f.Rx().Channels[0].LineText.empty());
  EXPECT_EQ(f.Capture()->Engine().BlocksLost(), 520u);
}

TEST(MainWindow, ClickingADisplaySwitchesItOffWithItsOffFrameAndOnAgain)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  app.Windows->Show();
  const QRgb red = qRgb(255, 0, 0);

  QTest::mouseClick(f.Image1, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_FALSE(f.Rx().DispSpectrum);
  EXPECT_GT(CountColour(f.Image1->Frame(), QRect(226, 130, 30, 15), red), 10) << "OFF shown";
  EXPECT_EQ(CountColour(f.Image1->Frame(), QRect(0, 30, 220, 100), qRgb(0, 0, 0)), 220 * 100)
      << "the waterfall is erased";
  QTest::mouseClick(f.Image1, Qt::LeftButton);
  EXPECT_TRUE(f.Rx().DispSpectrum);

  QTest::mouseClick(f.Image2, Qt::LeftButton);
  EXPECT_FALSE(f.Rx().DispEyepattern);
  EXPECT_GT(CountColour(f.Image2->Frame(), QRect(150, 130, 30, 15), red), 10);
  const uint64_t frames = f.Displays()->EyeFrames();
  ASSERT_TRUE(app.Fake.Device->FillNext(0));
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == 1; }, 5000));
  EXPECT_EQ(f.Displays()->EyeFrames(), frames) << "an eye pattern switched off stays frozen";
  QTest::mouseClick(f.Image2, Qt::LeftButton);
  EXPECT_TRUE(f.Rx().DispEyepattern);
}

TEST(MainWindow, ClosingWritesTheSettingsBeforeTheDeviceIsClosed)
{
  auto app = std::make_unique<TAppFixture>("[Mine]\nKeep=1\n[Form]\nMainTop=30\n");
  TForm1& f = app->Form1();
  app->Windows->Show();
  f.move(120, 70);
  f.UpDown1->SetPosition(94);
  f.UpDown1->StepUp();
  f.Image1Click();
  f.InputIndex = 1;

  std::vector<std::string> seen;
  app->OnStage = [&](const char* stage) {
    const bool written = QFileInfo::exists(QString::fromStdString(app->SettingsPath)) &&
                         ReadBytes(app->SettingsPath).find("CentF=95") != std::string::npos;
    const bool closed = std::find(app->Fake.Log.begin(), app->Fake.Log.end(), "close") != app->Fake.Log.end();
    seen.push_back(std::string(stage) + (written ? " written" : " unwritten") + (closed ? " closed" : " open"));
  };
  EXPECT_TRUE(f.close());
  app->Windows.reset();
  EXPECT_EQ(seen, (std::vector<std::string>{"close unwritten open", "destroy written open"}));
  EXPECT_NE(std::find(app->Fake.Log.begin(), app->Fake.Log.end(), "close"), app->Fake.Log.end());

  EXPECT_EQ(ReadBytes(app->SettingsPath),
            "[Mine]\nKeep=1\n[Form]\nMainTop=70\nMainLeft=120\n\n[Disp]\nSpectrum=0\nEyepattern=1\n\n"
            "[Wave]\nInput=1\nCentF=95\n");
}

TEST(MainWindow, ASettingsFileThatCannotBeWrittenIsReportedAndTheWindowStillCloses)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  app.Windows->Show();
  const std::string folder = app.SettingsPath;  // a folder stands where the file should be
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
  EXPECT_TRUE(f.close());
  EXPECT_FALSE(f.isVisible());
  ASSERT_EQ(app.Errors.size(), 1u);
  EXPECT_EQ(app.Errors[0], QString::fromStdString(folder) + QStringLiteral(" に書き込めません\n") +
                               QString::fromStdString(std::error_code(EISDIR, std::generic_category()).message()));
}

}  // namespace
}  // namespace brontel

namespace brontel {
namespace {

using test::TAppFixture;

// A weak emission (2 dB, which the exact path cannot read) sent twice, fed
// to the window block by block as the sound input would.
// `each` runs before every block with the block's index.
// The stored messages of `id` in the window's store (their number).
std::size_t StoredCopies(TAppFixture& app, const std::string& id, std::vector<msg::TMessage>& found)
{
  std::string error;
  auto store = msg::TMessageStore::Open(app.Path("store/messages.sqlite"), msg::TMessageStore::TMode::Existing, error);
  EXPECT_TRUE(store) << error;
  found.clear();
  if (store) {
    EXPECT_TRUE(store->Find(id, found, error)) << error;
  }
  return found.size();
}

void FeedTwice(TAppFixture& app, const std::string& text, int copies = 2, double snrDb = 2.0,
               const std::function<void(std::size_t)>& each = {})
{
  test::PlayEnglish(app, text, copies, snrDb, 20, each);
}

TEST(MainWindow, TheRobustPathIsChosenKeptAndAlertsOnceForASearchAndRescueMessage)
{
  auto app = std::make_unique<TAppFixture>();
  TForm1& f = app->Form1();
  EXPECT_EQ(f.DecoderPath(), TDecoderPath::Exact);
  f.SetDecoderPath(TDecoderPath::Robust);
  FeedTwice(*app, "ZCZC KD01\nMAYDAY RELAY VESSEL ON FIRE\nNNNN\n");
  EXPECT_NE(f.MemoBytes().find("MAYDAY RELAY VESSEL ON FIRE"), std::string::npos) << f.MemoBytes();
  EXPECT_EQ(app->Alerts, std::vector<std::string>{"KD01"}) << "the second copy is a repeat";

  // Back to the exact path: the memo shows what that path made of it.
  f.SetDecoderPath(TDecoderPath::Exact);
  EXPECT_EQ(f.MemoBytes().find("MAYDAY RELAY VESSEL ON FIRE"), std::string::npos);
  f.SetDecoderPath(TDecoderPath::Robust);
  EXPECT_TRUE(f.close());
  EXPECT_NE(test::ReadBytes(app->SettingsPath).find("Decoder=1"), std::string::npos);

  // The store kept the message once, with both copies, from the robust path.
  std::vector<msg::TMessage> kept;
  EXPECT_EQ(StoredCopies(*app, "KD01", kept), 1u);
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept[0].Copies, 2);
  EXPECT_EQ(kept[0].Decoder, "robust");
  EXPECT_EQ(kept[0].Text, "MAYDAY RELAY VESSEL ON FIRE");
  EXPECT_EQ(f.StoreFailures(), 0);

  // The next start follows the stored choice.
  const std::string ini = test::ReadBytes(app->SettingsPath);
  app.reset();
  TAppFixture again(ini);
  EXPECT_EQ(again.Form1().DecoderPath(), TDecoderPath::Robust);
}

TEST(MainWindow, AWeakMessageIsStoredWholeFromTheRobustPathWhileTheExactPathIsShownAndSwitched)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  ASSERT_EQ(f.DecoderPath(), TDecoderPath::Exact);
  // The memo is switched back and forth while the message comes in.
  FeedTwice(app, "ZCZC KD02\nVESSEL ADRIFT NEAR THE HARBOUR ENTRANCE\nNNNN\n", 1, 2.0, [&](std::size_t block) {
    if (block > 0 && block % 37 == 0)
      f.SetDecoderPath(f.DecoderPath() == TDecoderPath::Exact ? TDecoderPath::Robust : TDecoderPath::Exact);
  });
  std::vector<msg::TMessage> kept;
  ASSERT_TRUE(test::PumpUntil([&] { return !app.Alerts.empty(); }, 5000)) << "the message was handed on once stored";
  ASSERT_EQ(StoredCopies(app, "KD02", kept), 1u);
  EXPECT_EQ(kept[0].Decoder, "robust");
  EXPECT_EQ(kept[0].Text, "VESSEL ADRIFT NEAR THE HARBOUR ENTRANCE");
  EXPECT_EQ(msg::StatusOf(kept[0]), msg::TStatus::Complete);
  EXPECT_EQ(app.Alerts, std::vector<std::string>{"KD02"});
}

TEST(MainWindow, LostSoundIsMarkedInTheRobustMemoToo)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  f.SetDecoderPath(TDecoderPath::Robust);
  test::TFakeWaveIn* device = app.Fake.Device;
  ASSERT_NE(device, nullptr);
  for (int i = 0; i < HeaderCount; ++i) ASSERT_TRUE(device->FillNext(0));
  device->Drop(52 * BlockBytes);
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == HeaderCount; }, 5000));
  ASSERT_TRUE(device->FillNext(0));
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == HeaderCount + 1; }, 5000));
  EXPECT_NE(f.MemoBytes().find("--- 5.2 s of audio lost ---\r\n"), std::string::npos) << f.MemoBytes();
  f.SetDecoderPath(TDecoderPath::Exact);
  EXPECT_NE(f.MemoBytes().find("--- 5.2 s of audio lost ---\r\n"), std::string::npos) << f.MemoBytes();
}

// Any write to the store fails (a file size limit of one byte, as a full
// disk would): the window says so once, with the reason, and counts.
TEST(MainWindow, AStoreThatCannotBeWrittenIsShownOnceAndCounted)
{
  std::vector<QString> shown;
  TAppFixture app({}, nullptr, [&](TForm1Options& o) {
    o.ShowStoreTrouble = [&](QWidget*, const QString& text) { shown.push_back(text); };
  });
  TForm1& f = app.Form1();
  struct sigaction ignore {}, saved{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &saved), 0);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit tiny = old;
  tiny.rlim_cur = 1;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  FeedTwice(app, "ZCZC KA03\nBUOY OFF STATION\nNNNN\n", 2, 20.0);
  // The store is written on a thread of its own: its outcomes may come later.
  EXPECT_TRUE(test::PumpUntil([&] { return f.StoreFailures() == 2; }, 5000)) << f.StoreFailures();
  setrlimit(RLIMIT_FSIZE, &old);
  sigaction(SIGXFSZ, &saved, nullptr);

  ASSERT_TRUE(test::PumpUntil([&] { return !shown.empty(); }, 2000));
  test::PumpUntil([] { return false; }, 100);
  ASSERT_EQ(shown.size(), 1u) << "said once while the trouble lasts";
  EXPECT_TRUE(shown[0].contains(QStringLiteral("KA03"))) << Utf8(shown[0]);
  EXPECT_TRUE(shown[0].contains(QStringLiteral("disk I/O error")) || shown[0].contains(QStringLiteral("full")))
      << Utf8(shown[0]);
  std::vector<msg::TMessage> kept;
  EXPECT_EQ(StoredCopies(app, "KA03", kept), 0u) << "nothing is stored that was not";
}

}  // namespace
}  // namespace brontel
