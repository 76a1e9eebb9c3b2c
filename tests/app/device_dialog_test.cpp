// The device dialog and the notice window: the list, the mark, OK / キャンセル
// and the pause behind "Changing Device...", the sound-settings button; on the
// fake sound input and (where one runs) on the private sound server.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QTimer>


#include "app/device_dialog.h"
#include "app/notice_window.h"
#include "app/qt_capture.h"
#include "app_test_util.h"
#include "audio/capture_engine.h"

namespace brontel {
namespace {

using test::TAppFixture;

QString Caption(const TDeviceDialog& d, int row) { return d.ListView1->item(row, 0)->text(); }
QString MarkOf(const TDeviceDialog& d, int row) { return d.ListView1->item(row, 1)->text(); }
int Count(const std::vector<std::string>& log, const std::string& what)
{
  return static_cast<int>(std::count(log.begin(), log.end(), what));
}

// Runs `inside` once the modal dialog is up, then shows it through the main
// window's device button; returns when the dialog has closed.
void WithDialog(TAppFixture& app, const std::function<void(TDeviceDialog&)>& inside)
{
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  QTimer::singleShot(0, &d, [&] {
    EXPECT_TRUE(d.isVisible() && d.isModal());
    inside(d);
  });
  QTest::mouseClick(app.Form1().SpeedButton1, Qt::LeftButton);
  EXPECT_FALSE(d.isVisible());
}

TEST(DeviceDialog, LayoutTextsAndTheListOfDevices)
{
  TAppFixture app;
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  TNoticeWindow& n = *app.Windows->NoticeWindow;
  EXPECT_EQ(d.windowTitle(), QStringLiteral("入力デバイス＆デコーダ動作の選択"));
  EXPECT_EQ(d.size(), QSize(331, 168));
  EXPECT_EQ(d.ListView1->geometry(), QRect(8, 8, 313, 121));
  EXPECT_EQ(d.Button3->geometry(), QRect(8, 135, 146, 25));
  EXPECT_EQ(d.Button1->geometry(), QRect(160, 135, 78, 25));
  EXPECT_EQ(d.Button2->geometry(), QRect(244, 135, 77, 25));
  EXPECT_EQ(d.Button1->text(), QStringLiteral("OK"));
  EXPECT_TRUE(d.Button1->isDefault());
  EXPECT_EQ(d.Button2->text(), QStringLiteral("キャンセル"));
  EXPECT_EQ(d.Button3->text(), QStringLiteral("サウンド設定"));
  EXPECT_EQ(d.ListView1->horizontalHeaderItem(0)->text(), QStringLiteral("入力デバイス名"));
  EXPECT_EQ(d.ListView1->horizontalHeaderItem(1)->text(), QStringLiteral("選択"));
  EXPECT_EQ(d.ListView1->columnWidth(0), 240);
  EXPECT_EQ(d.ListView1->columnWidth(1), 40);
  EXPECT_FALSE(d.ListView1->horizontalHeader()->sectionsClickable());
  EXPECT_TRUE(d.ListView1->showGrid());

  // Row 0 the standard input device, then the fake's two devices by id.
  ASSERT_EQ(d.ListView1->rowCount(), 3);
  EXPECT_EQ(Caption(d, 0), QStringLiteral("標準の入力デバイス"));
  EXPECT_EQ(Caption(d, 1), QStringLiteral("Line In"));
  EXPECT_EQ(Caption(d, 2), QStringLiteral("Microphone"));
  EXPECT_EQ(MarkOf(d, 0), QStringLiteral(" ○"));
  EXPECT_EQ(MarkOf(d, 1), QStringLiteral(" "));
  EXPECT_FALSE(d.SelectionChanged());

  EXPECT_EQ(n.windowTitle(), QStringLiteral("Recoding Device Change"));
  EXPECT_EQ(n.size(), QSize(230, 41));
  EXPECT_EQ(n.Label1->text(), QStringLiteral("Changing Device..."));
  EXPECT_EQ(n.Label1->pos(), QPoint(72, 16));
  EXPECT_TRUE(n.windowFlags() & Qt::Tool);
  EXPECT_FALSE(n.isVisible());
}

TEST(DeviceDialog, OkOpensTheChosenDeviceBehindTheNoticeAfterAPause)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  app.Windows->Show();
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  // During the pause the notice is up and the old device is closed, the new
  // one not yet opened.
  bool noticeShown = false, closedNotReopened = false;
  app.OnPause = [&] {
    noticeShown = app.Windows->NoticeWindow->isVisible();
    closedNotReopened = app.Fake.Log.back() == "close";
  };
  WithDialog(app, [&](TDeviceDialog& dialog) {
    dialog.ListView1->selectRow(2);
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(app.Pauses, std::vector<int>{1000});
  EXPECT_TRUE(noticeShown);
  EXPECT_TRUE(closedNotReopened);
  EXPECT_FALSE(app.Windows->NoticeWindow->isVisible());
  EXPECT_EQ(f.InputIndex, 2);
  EXPECT_EQ(app.Fake.LastDeviceId, 1) << "row 2 is device id 1";
  EXPECT_EQ(Count(app.Fake.Log, "close"), 1);
  EXPECT_EQ(d.MarkedRow(), 2);
  EXPECT_EQ(MarkOf(d, 0), QStringLiteral(" "));
  EXPECT_FALSE(d.SelectionChanged());
  EXPECT_TRUE(f.Capture()->Engine().IsRecording());
}

TEST(DeviceDialog, ChoosingTheDeviceInUseLeavesItRunning)
{
  TAppFixture app("[Wave]\nInput=2\n");
  TForm1& f = app.Form1();
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  const std::size_t calls = app.Fake.Log.size();
  // Away from the device in use and back to it: a real change of selection
  // that ends on the row already open.
  WithDialog(app, [&](TDeviceDialog& dialog) {
    dialog.ListView1->selectRow(1);
    dialog.ListView1->selectRow(2);
    EXPECT_TRUE(dialog.SelectionChanged());
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(app.Fake.Log.size(), calls) << "the device was closed or reopened";
  EXPECT_TRUE(app.Pauses.empty());
  EXPECT_EQ(f.InputIndex, 2);
  EXPECT_EQ(d.MarkedRow(), 2);
  EXPECT_TRUE(f.Capture()->Engine().IsRecording());
}

TEST(DeviceDialog, OkWithoutAChangeAndCancelChangeNothingUntilALaterOk)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  const std::size_t opens = app.Fake.Log.size();

  WithDialog(app, [&](TDeviceDialog& dialog) { QTest::mouseClick(dialog.Button1, Qt::LeftButton); });
  EXPECT_EQ(app.Fake.Log.size(), opens);

  // A change that ends with no row selected applies nothing either.
  WithDialog(app, [&](TDeviceDialog& dialog) {
    dialog.ListView1->selectRow(1);
    dialog.ListView1->clearSelection();
    EXPECT_TRUE(dialog.SelectionChanged());
    dialog.Button1Click();
  });
  EXPECT_EQ(app.Fake.Log.size(), opens);

  WithDialog(app, [&](TDeviceDialog& dialog) {
    dialog.ListView1->selectRow(1);
    QTest::mouseClick(dialog.Button2, Qt::LeftButton);
  });
  EXPECT_EQ(app.Fake.Log.size(), opens);
  EXPECT_EQ(f.InputIndex, 0);
  EXPECT_TRUE(d.SelectionChanged());
  EXPECT_EQ(d.MarkedRow(), 0);

  // Escape does not close the dialog; the row chosen before キャンセル is applied by OK.
  WithDialog(app, [&](TDeviceDialog& dialog) {
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    dialog.Button1Click();
  });
  EXPECT_EQ(f.InputIndex, 1);
  EXPECT_EQ(app.Fake.LastDeviceId, 0);
  EXPECT_EQ(d.MarkedRow(), 1);
}

TEST(DeviceDialog, AFailedOpenKeepsTheRowButNotTheMark)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  TDeviceDialog& d = *app.Windows->DeviceDialog;
  app.Fake.FailPrepareAt = 0;  // the next open cannot set up its blocks
  d.ListView1->selectRow(2);
  d.Button1Click();
  EXPECT_EQ(f.InputIndex, 2) << "saved as chosen";
  EXPECT_EQ(d.MarkedRow(), 0) << "the mark stays on the last device that opened";
  ASSERT_EQ(app.CaptureErrors.Shown.size(), 1u);
  EXPECT_EQ(app.CaptureErrors.Shown[0].substr(0, 15), std::string(BufferFailedLine1).substr(0, 15));
  EXPECT_FALSE(app.Windows->NoticeWindow->isVisible());
}

TEST(DeviceDialog, AStoredRowBeyondTheListMarksTheStandardDeviceAndTheListComesFromOneLook)
{
  TAppFixture app("[Wave]\nInput=7\n");
  EXPECT_EQ(app.Windows->DeviceDialog->MarkedRow(), 0) << "the standard input device took its place";
  EXPECT_EQ(app.Windows->DeviceDialog->ListView1->rowCount(), 3);
  EXPECT_EQ(app.Fake.ListCalls, 1) << "one look at the devices, not one per device";

  test::TFakeDriver driver;
  driver.Names = {"A", "B", "C"};
  driver.FailList = true;
  TAppFixture app2({}, &driver);
  TDeviceDialog& d = *app2.Windows->DeviceDialog;
  ASSERT_EQ(d.ListView1->rowCount(), 1) << "only the standard input device";
  EXPECT_EQ(Caption(d, 0), QStringLiteral("標準の入力デバイス"));
}

TEST(DeviceDialog, TheSoundSettingsButtonStartsTheMixerFoundOrNothing)
{
  auto withProgram = [](TSoundSettingsProgram program) {
    return [program](TForm1Options& options) { options.DeviceDialog.SoundSettings = program; };
  };
  TAppFixture app({}, nullptr, withProgram({QStringLiteral("/usr/bin/pavucontrol"), {QStringLiteral("--tab=4")}}));
  QTest::mouseClick(app.Windows->DeviceDialog->Button3, Qt::LeftButton);
  ASSERT_EQ(app.Started.size(), 1u);
  EXPECT_EQ(app.Started[0], (QStringList{QStringLiteral("/usr/bin/pavucontrol"), QStringLiteral("--tab=4")}));
  TAppFixture none({}, nullptr, withProgram({}));
  none.Windows->DeviceDialog->Button3Click();
  EXPECT_TRUE(none.Started.empty());

  // A mixer found on the path is the one used, pavucontrol first.
  QTemporaryDir bin;
  auto fakeProgram = [&](const char* name) {
    const QString path = bin.filePath(QString::fromLatin1(name));
    test::WriteBytes(path.toStdString(), "#!/bin/sh\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
    return path;
  };
  const QByteArray oldPath = qgetenv("PATH");
  fakeProgram("gnome-control-center");
  qputenv("PATH", bin.path().toLocal8Bit());
  EXPECT_EQ(FindSoundSettingsProgram().Arguments, QStringList{QStringLiteral("sound")});
  const QString pavu = fakeProgram("pavucontrol");
  const TSoundSettingsProgram found = FindSoundSettingsProgram();
  qputenv("PATH", oldPath);
  EXPECT_EQ(found.Program, pavu);
  EXPECT_EQ(found.Arguments, QStringList{QStringLiteral("--tab=4")});
}

}  // namespace
}  // namespace brontel
