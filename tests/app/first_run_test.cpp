// What a newcomer meets: the interface in their language, the status line,
// tuning from the displays, the input remembered by name, and a start
// without a sound server that waits honestly.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <cmath>
#include <ctime>
#include <optional>

#include "app/alarm.h"
#include "app/device_dialog.h"
#include "app/language.h"
#include "app/message_model.h"
#include "app/message_window.h"
#include "app/notice_window.h"
#include "app/qt_capture.h"
#include "app/status_line.h"
#include "app/translations.h"
#include "app/widgets.h"
#include "app_test_util.h"
#include "decoder/cp932.h"
#include "display/spectrum_display.h"
#include "signal/navtex_signal.h"

namespace brontel {
namespace {

bool HasJapanese(const QString& text)
{
  for (const QChar c : text)
    if ((c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF) || (c.unicode() >= 0xFF00 && c.unicode() <= 0xFFEF))
      return true;
  return false;
}

// Every text a user reads on a window and its children: titles, labels,
// buttons, column headers, tooltips, the hints in empty boxes, the choices of
// a list box. The memo, the edit line and the device list carry received
// text and device names, not the interface's.
QStringList InterfaceTexts(const QWidget& window)
{
  QStringList texts{window.windowTitle(), window.toolTip()};
  for (const QWidget* w : window.findChildren<QWidget*>()) {
    texts << w->toolTip() << w->windowTitle();
    if (const auto* label = qobject_cast<const QLabel*>(w)) texts << label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) texts << button->text();
    if (const auto* edit = qobject_cast<const QLineEdit*>(w)) texts << edit->placeholderText();
    if (const auto* box = qobject_cast<const QComboBox*>(w))
      for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    if (const auto* table = qobject_cast<const QTableView*>(w))
      for (int c = 0; c < table->model()->columnCount(); ++c)
        texts << table->model()->headerData(c, Qt::Horizontal).toString();
  }
  texts.removeAll(QString());
  return texts;
}

TEST(Language, TheSettingThenTheFirstSetLocaleVariableDecides)
{
  const struct {
    const char* Setting;
    const char *Language, *LcAll, *Lang;
    TLanguage Expected;
  } cases[] = {
      {"", nullptr, nullptr, "ja_JP.UTF-8", TLanguage::Japanese},
      {"", nullptr, nullptr, "en_US.UTF-8", TLanguage::English},
      {"", nullptr, nullptr, "C", TLanguage::English},
      {"", nullptr, nullptr, nullptr, TLanguage::English},
      {"", "", "", "ja_JP.UTF-8", TLanguage::Japanese},         // empty variables do not count
      {"", "en:ja", nullptr, "ja_JP.UTF-8", TLanguage::English},  // LANGUAGE first, its first entry
      {"", nullptr, "JA_jp", "en_GB.UTF-8", TLanguage::Japanese},
      {"", nullptr, "de_DE.UTF-8", "ja_JP.UTF-8", TLanguage::English},  // the first set one decides
      {" ja", nullptr, nullptr, "en_US.UTF-8", TLanguage::Japanese},
      {"EN", "ja", nullptr, "ja_JP.UTF-8", TLanguage::English},
      {"fr", nullptr, nullptr, "ja_JP.UTF-8", TLanguage::Japanese},  // an unknown setting falls through
  };
  for (const auto& c : cases) {
    const auto env = [&](const char* name) -> const char* {
      if (std::string_view(name) == "LANGUAGE") return c.Language;
      if (std::string_view(name) == "LC_ALL") return c.LcAll;
      if (std::string_view(name) == "LANG") return c.Lang;
      return nullptr;
    };
    EXPECT_EQ(ChooseLanguage(c.Setting, env), c.Expected)
        << "setting '" << c.Setting << "' LANGUAGE " << (c.Language ? c.Language : "-") << " LC_ALL "
        << (c.LcAll ? c.LcAll : "-") << " LANG " << (c.Lang ? c.Lang : "-");
  }
}

TEST(Language, EveryWindowSpeaksEnglishUnderEnglishAndTheJapaneseTextsStayUnderJapanese)
{
  for (const TLanguage language : {TLanguage::English, TLanguage::Japanese}) {
    TTranslations translations;
    ASSERT_TRUE(translations.Install(language)) << LanguageCode(language);
    test::TAppFixture app;
    TForm1& f = app.Form1();
    f.SpeedButton2Click();  // the save dialog's title and filter (cancelled: no name)
    f.RefreshStatus();
    QStringList texts = InterfaceTexts(f) + InterfaceTexts(*app.Windows->DeviceDialog) +
                        InterfaceTexts(*app.Windows->NoticeWindow) + InterfaceTexts(*f.StatusLine());
    texts << app.DialogTitle << app.DialogFilter;
    ASSERT_GT(texts.size(), 20);
    TDeviceDialog& d = *app.Windows->DeviceDialog;
    if (language == TLanguage::English) {
      for (const QString& t : texts) EXPECT_FALSE(HasJapanese(t)) << t.toStdString();
      EXPECT_EQ(d.ListView1->item(0, 0)->text(), QStringLiteral("Standard input device"));
      EXPECT_EQ(app.Windows->NoticeWindow->windowTitle(), QStringLiteral("Changing the Input Device"));
    } else {
      // The texts the window always had, as they were; the new ones translated.
      EXPECT_EQ(d.windowTitle(), QStringLiteral("入力デバイス＆デコーダ動作の選択"));
      EXPECT_EQ(d.Button2->text(), QStringLiteral("キャンセル"));
      EXPECT_EQ(app.DialogTitle, QStringLiteral("受信文の保存"));
      EXPECT_EQ(app.Windows->NoticeWindow->windowTitle(), QStringLiteral("Recoding Device Change"));
      EXPECT_TRUE(HasJapanese(f.StatusLine()->PathButton->text()));
      EXPECT_TRUE(HasJapanese(f.SpeedButton2->toolTip()));
    }
  }
  EXPECT_EQ(InterfaceLanguage(), TLanguage::Japanese);
}

// The message window with what a user meets in it: a message outside the
// selection, without its end, at a position, listed and opened with its
// copies; the alarm banner; the selection dialog with a mistake in it; the
// status line. Every subject and state a message can have is named too.
TEST(Language, TheMessageWindowSpeaksEnglishUnderEnglishAndJapaneseUnderJapanese)
{
  for (const TLanguage language : {TLanguage::English, TLanguage::Japanese}) {
    SCOPED_TRACE(LanguageCode(language));
    TTranslations translations;
    ASSERT_TRUE(translations.Install(language));
    test::TAppFixture app({}, nullptr, [](TForm1Options& options) { options.AlarmSound = [] {}; });
    TForm1& f = app.Form1();
    TMessageWindow& w = *f.MessageWindow();
    msg::TMessage m;
    m.Id = "XB07";
    m.HasHeader = m.HeaderOk = true;
    m.Station = 'X', m.Subject = 'B', m.Serial = 7;
    m.Selected = false;
    m.Text = "GALE WARNING 34-10N 139-02E\n";
    m.Start = static_cast<double>(std::time(nullptr)) - 60.0;
    msg::Measure(m);
    w.MessageReceived(m);
    f.Alarm().Raise(m);
    w.ShowAllBox()->setChecked(true);
    w.List()->selectRow(0);
    w.CopiesButton()->click();
    w.EditSelection();
    auto* dialog = w.findChild<QDialog*>(QStringLiteral("SelectionDialog"));
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QLineEdit*>(QStringLiteral("SelectionStations"))->setText(QStringLiteral("K1"));
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    f.RefreshStatus();

    QStringList texts = InterfaceTexts(w);
    const QAbstractItemModel* list = w.List()->model();
    ASSERT_EQ(list->rowCount(), 1);
    for (const int column : {TMessageListModel::Subject, TMessageListModel::Status, TMessageListModel::New})
      texts << list->index(0, column).data().toString();
    for (char b2 = 'A'; b2 <= 'Z'; ++b2) texts << SubjectText(b2);
    for (const auto status : {msg::TStatus::Complete, msg::TStatus::NoTrailer, msg::TStatus::HeaderErrors,
                              msg::TStatus::NoHeader})
      texts << StatusText(status);
    // The pane's own words below the identity and station and around the
    // received text (which is English).
    QStringList pane = w.TextPane()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(pane.size(), 4);
    pane.removeFirst();
    pane.removeIf([](const QString& line) { return line.contains(QStringLiteral("GALE")); });
    texts << pane;
    texts.removeAll(QString());
    ASSERT_GT(texts.size(), 40);
    for (const QString& t : texts) {
      // Letters, identities, figures and the program's name are no words.
      static const QRegularExpression plain(QStringLiteral("^[-A-Z0-9 ,.:+()]*$|^Brontel$"));
      if (plain.match(t).hasMatch()) continue;
      EXPECT_EQ(HasJapanese(t), language == TLanguage::Japanese) << t.toStdString();
    }
  }
}

TEST(StatusLine, LevelMeterHoldsPeaksAndClipsAndTheInputStateFollowsTheCapture)
{
  TLevelMeter meter;
  std::vector<int16_t> block(2 * 4410);
  const auto fill = [&](double amplitude) {
    for (std::size_t i = 0; i < block.size(); i += 2)
      block[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(0.05 * static_cast<double>(i))));
    block[1] = 32767;  // the right channel is not measured
  };
  fill(3276.8);  // a sine at −20 dB: peak −20, RMS −23
  meter.Add(block, 0.1);
  EXPECT_NEAR(meter.Level().PeakDb, -20.0, 0.1);
  EXPECT_NEAR(meter.Level().AverageDb, -23.0, 0.1);
  EXPECT_FALSE(meter.Level().Clipping);
  fill(32767.0);
  meter.Add(block, 0.1);
  EXPECT_TRUE(meter.Level().Clipping);
  fill(32.768);  // −60 dB: the clip and the peak are held, then fall back
  for (int i = 0; i < 19; ++i) meter.Add(block, 0.1);
  EXPECT_TRUE(meter.Level().Clipping);
  EXPECT_GT(meter.Level().PeakDb, -1.0);
  meter.Add(block, 0.1);
  EXPECT_FALSE(meter.Level().Clipping);
  EXPECT_NEAR(meter.Level().PeakDb, -60.0, 0.2);
  std::fill(block.begin(), block.end(), 0);
  meter.Add(block, 0.1);
  EXPECT_EQ(meter.Level().AverageDb, SilentDb);

  const struct {
    bool Open, Retrying;
    TWaveResult Last;
    double Since;
    TInputState Expected;
  } states[] = {
      {true, false, TWaveResult::Ok, 0.2, TInputState::Recording},
      {true, false, TWaveResult::Ok, 3.0, TInputState::Lost},  // blocks stopped coming
      {false, true, TWaveResult::NoDriver, 1e9, TInputState::WaitingForServer},
      {false, true, TWaveResult::BadDeviceId, 1e9, TInputState::Lost},
      {false, false, TWaveResult::BadFormat, 1e9, TInputState::Stopped},
  };
  for (const auto& s : states)
    EXPECT_EQ(InputStateOf(s.Open, s.Retrying, s.Last, s.Since), s.Expected) << static_cast<int>(s.Last);
}

TEST(StatusLine, TheTextsAndTheOfferToMoveTheCentre)
{
  TTranslations translations;
  ASSERT_TRUE(translations.Install(TLanguage::English));
  TStatusLineModel m;
  m.SetInput(TInputState::Recording, QStringLiteral("Line In"));
  m.SetLevel({-12.4, -30.6, false});
  m.SetCentF(1200);
  EXPECT_EQ(m.InputText(), QStringLiteral("Line In: recording"));
  EXPECT_EQ(m.LevelText(), QStringLiteral("Level -31 dB (peak -12 dB)"));
  EXPECT_TRUE(m.LevelHint().isEmpty());
  m.SetLevel({-50, -75, false});
  EXPECT_TRUE(m.LevelHint().contains(QStringLiteral("too quiet")));
  m.SetLevel({0, -3, true});
  EXPECT_TRUE(m.LevelHint().contains(QStringLiteral("clips")));
  m.SetInput(TInputState::WaitingForServer, QStringLiteral("Line In"));
  EXPECT_EQ(m.InputText(), QStringLiteral("Waiting for the sound server"));
  EXPECT_TRUE(m.LevelHint().isEmpty()) << "no advice about a level that is not measured";

  const struct {
    bool Signal;
    double Snr, Offset;
    const char* Text;
    std::optional<int> Offer;
  } cases[] = {
      {false, 0, 0, "No signal", std::nullopt},
      {true, 12.4, 3.4, "Signal: SNR 12 dB, offset +3 Hz", std::nullopt},  // close enough
      {true, -2.6, -27.0, "Signal: SNR -3 dB, offset -27 Hz", 1170},
      {true, 30.0, 44.0, "Signal: SNR 30 dB, offset +44 Hz", 1240},
      {true, 8.0, 900.0, "Signal: SNR 8 dB, offset +900 Hz", 2000},  // within the range
      {true, 8.0, NAN, "Signal: SNR 8 dB, offset 0 Hz", std::nullopt},
  };
  for (const auto& c : cases) {
    TReceiverStatus s;
    s.Robust = true;
    s.Signal = c.Signal;
    s.SnrDb = c.Snr;
    s.OffsetHz = c.Offset;
    m.SetStatus(s);
    if (std::isfinite(c.Offset)) {
      EXPECT_EQ(m.SignalText(), QString::fromUtf8(c.Text));
    }
    EXPECT_EQ(m.SuggestedCentF(200, 2000), c.Offer) << c.Offset;
  }
  TReceiverStatus synced;
  synced.Decoder.InSync = true;
  synced.Decoder.EngMode = true;
  m.SetStatus(synced);
  EXPECT_EQ(m.ServiceText(), QStringLiteral("English NAVTEX"));
  EXPECT_EQ(m.SyncText(), QStringLiteral("Synchronised"));
  m.SetStatus({});
  EXPECT_TRUE(m.ServiceText().isEmpty()) << "no service claimed before the decoder locks on one";
}

TEST(Tuning, HoverReadsTheFrequencyADoubleClickTunesWithoutSwitchingAndTheWheelSteps)
{
  test::TAppFixture app;
  TForm1& f = app.Form1();
  app.Windows->Show();
  ASSERT_TRUE(f.Session().SpectrumOn());
  const QPoint at(static_cast<int>(std::lround(SpectrumColumnOf(1200.0, 800.0))), 60);
  QTest::mouseMove(f.Image1, at);
  EXPECT_TRUE(test::PumpUntil([&] { return !f.HoverText().isEmpty(); }, 2000));
  EXPECT_NEAR(f.HoverText().section(QLatin1Char(' '), 0, 0).toDouble(), 1200.0, 3.0) << f.HoverText().toStdString();

  // A double-click: click (off), double-click (back on, tuned), release.
  QTest::mouseClick(f.Image1, Qt::LeftButton, {}, at);
  EXPECT_FALSE(f.Session().SpectrumOn()) << "a single click still switches";
  QTest::mouseDClick(f.Image1, Qt::LeftButton, {}, at);
  EXPECT_TRUE(f.Session().SpectrumOn());
  EXPECT_EQ(f.Rx().CentF, 1200.0);
  EXPECT_EQ(f.Label2->text(), QStringLiteral("1200Hz"));

  // The wheel over the read-out steps 10 Hz a notch.
  for (const int delta : {120, 120, -120}) {
    QWheelEvent wheel(QPointF(5, 5), f.Label2->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.Label2, &wheel);
  }
  EXPECT_EQ(f.Rx().CentF, 1210.0);

  // The offer to move onto a signal heard off the centre.
  f.TuneTo(1995.0);
  EXPECT_EQ(f.Label2->text(), QStringLiteral("2000Hz"));
  f.TuneTo(90000.0);
  EXPECT_EQ(f.Rx().CentF, 2000.0);
}

// The same path through the capture, without a sound server: an emission at
// 1200 Hz tuned by a double-click, its SNR and offset as the status line
// reports them, within 1 dB and 1 Hz of the generated ones, and the level.
TEST(StatusLine, ASignalTunedByADoubleClickShowsItsSnrOffsetAndLevel)
{
  for (const double snrDb : {3.0, 15.0}) {
    test::TAppFixture app;
    TForm1& f = app.Form1();
    std::vector<uint8_t> codes;
    std::string error;
    ASSERT_TRUE(gen::EnglishCodes("ZCZC OE12\nWIND NW 6 SEA 3M VIS GOOD\nNNNN\n", codes, error));
    gen::TEmission emission;
    emission.PhasingSeconds = 12.0;
    gen::TFskParams fsk;
    fsk.CentF = 1200.0;
    fsk.Amplitude = 6000.0;
    fsk.SnrDb = snrDb;
    const std::vector<int16_t> pcm = gen::ModulateFsk(gen::EmissionBits(codes, emission), fsk);
    std::vector<int16_t> block(BlockSamples);
    for (std::size_t start = 0, k = 0; start + FramesPerBlock <= pcm.size(); start += FramesPerBlock, ++k) {
      if (k == 10) QTest::mouseDClick(f.Image1, Qt::LeftButton, {}, QPoint(std::lround(SpectrumColumnOf(1200, 800)), 60));
      for (int j = 0; j < FramesPerBlock; ++j) block[2 * static_cast<std::size_t>(j)] = pcm[start + static_cast<std::size_t>(j)];
      ASSERT_TRUE(app.Fake.Device->FillNextWith(block));
      ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == k + 1; }, 5000));
    }
    EXPECT_EQ(f.Rx().CentF, 1200.0);
    f.RefreshStatus();
    const TReceiverStatus& heard = f.StatusModel().ReceiverStatus();
    EXPECT_TRUE(heard.Signal);
    EXPECT_NEAR(heard.SnrDb, snrDb, 1.0);
    EXPECT_NEAR(heard.OffsetHz, 0.0, 1.0);
    EXPECT_EQ(f.StatusModel().Input(), TInputState::Recording);
    double power = 0;  // of the last block, left channel
    for (std::size_t i = 0; i < block.size(); i += 2) power += static_cast<double>(block[i]) * block[i];
    EXPECT_NEAR(f.StatusModel().InputLevel().AverageDb, 10 * std::log10(power / FramesPerBlock) - 20 * std::log10(32768.0), 0.1);
    EXPECT_TRUE(f.StatusLine()->MoveButton->isHidden()) << "tuned: nothing to offer";
  }
}

TEST(StatusLine, TheCompanionWindowOpensBesideTheMainWindowOnItsScreen)
{
  const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
  const struct {
    QRect Main;
    QPoint Expected;
  } cases[] = {
      {QRect(100, 100, 460, 590), QPoint(560, 100)},     // right of it
      {QRect(1400, 100, 460, 590), QPoint(800, 100)},    // no room on the right: left of it
      {QRect(1950, 600, 460, 590), QPoint(2410, 434)},   // the second screen; kept on it
      {QRect(2600, 0, 460, 590), QPoint(2000, 0)},
      {QRect(0, 0, 1800, 590), QPoint(1320, 0)},         // no room either side: against the edge
  };
  for (const auto& c : cases)
    EXPECT_EQ(BesidePosition(c.Main, QSize(600, 590), screens), c.Expected) << c.Main.x() << "," << c.Main.y();
}

TEST(StatusLine, TheMessageWindowWithTheStatusLineOpensAtTheFirstStartAndStaysClosedOnceClosed)
{
  test::TAppFixture first;
  first.Windows->Show();
  TMessageWindow* w = first.Form1().MessageWindow();
  EXPECT_TRUE(w->isVisible()) << "a newcomer sees the status line";
  EXPECT_TRUE(w->isAncestorOf(first.Form1().StatusLine()));
  EXPECT_TRUE(w->close());
  test::TAppFixture next(test::ReadBytes(first.SettingsPath));
  next.Windows->Show();
  EXPECT_FALSE(next.Form1().MessageWindow()->isVisible());
}

TEST(Input, TheMixerButtonIsOffWithAHintWhenNoMixerIsInstalled)
{
  for (const bool installed : {false, true}) {
    test::TAppFixture app({}, nullptr, [&](TForm1Options& options) {
      options.DeviceDialog.SoundSettings =
          installed ? TSoundSettingsProgram{QStringLiteral("pavucontrol"), {}} : TSoundSettingsProgram{};
    });
    QPushButton* mixer = app.Windows->DeviceDialog->Button3;
    EXPECT_EQ(mixer->isEnabled(), installed);
    EXPECT_EQ(mixer->toolTip().contains(QStringLiteral("pavucontrol")), !installed);
  }
}

TEST(Save, TheReceivedTextIsSavedInTheEncodingChosenInTheDialog)
{
  for (const int chosen : {0, 1}) {
    QStringList offered;
    test::TAppFixture app({}, nullptr, [&](TForm1Options& options) {
      options.SaveFileAs = [&](QWidget*, const QString&, const QStringList& filters, int& choice) {
        offered = filters;
        choice = chosen;
        return QString::fromStdString(app.Path("saved"));
      };
    });
    app.Form1().SpeedButton2Click();
    ASSERT_EQ(offered.size(), 2);
    EXPECT_EQ(offered[0], QStringLiteral("テキスト (*.txt)")) << "code page 932 stays the first choice";
    const std::string& memo = app.Form1().MemoBytes();  // the banner, in code page 932
    ASSERT_NE(memo, Cp932ToUtf8(memo));
    EXPECT_EQ(test::ReadBytes(app.Path("saved.txt")), chosen == 1 ? Cp932ToUtf8(memo) : memo) << chosen;
  }
}

TEST(Input, TheDeviceIsFoundByItsNameWhenItsRowMovedAndTheNameIsKept)
{
  test::TFakeDriver driver;
  driver.Names = {"USB Audio", "Line In", "Microphone"};  // "Line In" was row 1, now row 2
  test::TAppFixture app("[Wave]\nInput=1\nInputName=Line In\n", &driver);
  EXPECT_EQ(app.Form1().InputIndex, 2);
  EXPECT_EQ(driver.LastDeviceId, 1);
  ASSERT_TRUE(app.Form1().SaveSettings());
  const std::string ini = test::ReadBytes(app.SettingsPath);
  EXPECT_NE(ini.find("Input=2"), std::string::npos) << ini;
  EXPECT_NE(ini.find("InputName=Line In"), std::string::npos) << ini;

  // Chosen in the dialog: the standard device has no name to keep.
  app.Windows->DeviceDialog->ListView1->selectRow(0);
  app.Windows->DeviceDialog->Button1Click();
  ASSERT_TRUE(app.Form1().SaveSettings());
  EXPECT_EQ(test::ReadBytes(app.SettingsPath).find("InputName=Line"), std::string::npos)
      << test::ReadBytes(app.SettingsPath);
}

TEST(Input, WithoutASoundServerNoBoxClaimsTheProgramCannotRunAndTheStatusWaits)
{
  TTranslations translations;
  ASSERT_TRUE(translations.Install(TLanguage::English));
  test::TFakeDriver driver;
  driver.FailOpen = TWaveResult::NoDriver;
  int boxes = 0;
  QTimer closer;  // a box would wait for a person: counted and closed
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      ++boxes;
      modal->close();
    }
  });
  closer.start(10);
  test::TAppFixture app({}, &driver, [](TForm1Options& options) {
    options.CaptureErrors = nullptr;  // the window's own error box
    options.CaptureRetryMs = 5;
  });
  TForm1& f = app.Form1();
  f.RefreshStatus();
  EXPECT_EQ(f.StatusLine()->InputLabel->text(), QStringLiteral("Waiting for the sound server"));
  driver.FailOpen = TWaveResult::Ok;
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->Engine().IsRecording(); }, 5000));
  ASSERT_TRUE(driver.Device->FillNext(1000));
  ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == 1; }, 5000));
  f.RefreshStatus();
  EXPECT_EQ(f.StatusLine()->InputLabel->text(), QStringLiteral("Standard input device: recording"));
  EXPECT_TRUE(f.StatusLine()->HintLabel->isHidden()) << "-30 dB is a fine level";
  EXPECT_EQ(boxes, 0);
  // Silence from the device: far too quiet, said on a line of its own.
  for (uint64_t k = 2; k <= 40; ++k) {
    ASSERT_TRUE(driver.Device->FillNext(0));
    ASSERT_TRUE(test::PumpUntil([&] { return f.Capture()->BlocksProcessed() == k; }, 5000));
  }
  f.RefreshStatus();
  EXPECT_FALSE(f.StatusLine()->HintLabel->isHidden());
  EXPECT_TRUE(f.StatusLine()->HintLabel->text().contains(QStringLiteral("too quiet")));
}

}  // namespace
}  // namespace brontel
