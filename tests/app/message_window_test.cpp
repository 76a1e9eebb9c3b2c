// The message window driven as the user drives it: opened from the main
// window, its place and columns kept in the settings file, the status line's
// place. Fake sound input, offscreen.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>

#include <ctime>

#include "app/alarm.h"
#include "app/message_model.h"
#include "app/message_window.h"
#include "app/message_window_settings.h"
#include "app/qt_capture.h"
#include "app_test_util.h"
#include "messages/store.h"

namespace brontel {
namespace {

using test::TAppFixture;

TEST(MessageWindow, OpensHiddenKeepsItsPlaceAndComesBackOpenAsItWasLeft)
{
  TAppFixture app;
  TForm1& f = app.Form1();
  TMessageWindow* w = f.MessageWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(w->isVisible()) << "hidden until asked for";

  // The status line goes in at the bottom; a second one replaces the first.
  auto* first = new QLabel(QStringLiteral("first"));
  w->SetStatusLine(first);
  QPointer<QLabel> gone(first);
  w->SetStatusLine(new QLabel(QStringLiteral("second")));
  EXPECT_TRUE(gone.isNull());
  EXPECT_TRUE(w->isAncestorOf(w->StatusLine()));

  app.Windows->Show();
  f.OpenMessageWindow();
  ASSERT_TRUE(w->isVisible());
  w->setGeometry(40, 50, 640, 480);
  EXPECT_TRUE(f.close());
  EXPECT_FALSE(w->isVisible()) << "it goes with the main window";

  const TMessageWindowSettings kept = LoadMessageWindowSettings(app.SettingsPath);
  EXPECT_TRUE(kept.Open);
  EXPECT_EQ(kept.Width, 640);
  EXPECT_EQ(kept.Height, 480);

  // The next start opens it again where it was; closing it alone keeps it closed.
  const std::string ini = test::ReadBytes(app.SettingsPath);
  TAppFixture again(ini);
  again.Windows->Show();
  TMessageWindow* w2 = again.Form1().MessageWindow();
  ASSERT_TRUE(w2->isVisible());
  EXPECT_EQ(w2->size(), QSize(640, 480));
  EXPECT_TRUE(w2->close());
  EXPECT_FALSE(LoadMessageWindowSettings(again.SettingsPath).Open);
  EXPECT_TRUE(again.Form1().isVisible());
}

msg::TMessage Received(const std::string& id, const std::string& text, double age)
{
  msg::TMessage m;
  m.Id = id;
  m.HasHeader = m.HeaderOk = m.Trailer = true;
  m.Station = id[0];
  m.Subject = id[1];
  m.Serial = std::stoi(id.substr(2));
  m.Text = text;
  m.Start = static_cast<double>(std::time(nullptr)) - age;
  m.End = m.Start + 30.0;
  msg::Measure(m);
  return m;
}

std::vector<std::string> ListedIds(TMessageWindow& w)
{
  std::vector<std::string> ids;
  const QAbstractItemModel* m = w.List()->model();
  for (int row = 0; row < m->rowCount(); ++row)
    ids.push_back(m->index(row, TMessageListModel::Ident).data().toString().toStdString());
  return ids;
}

// The window over the store the receiver writes: listed newest first, found
// by the filters, a message opened is read (in the store too), tagged to
// keep, its copies shown, all marked read; what arrives is listed at once.
TEST(MessageWindow, ListsTheStoreFiltersShowsTheTextAndKeepsTheMarks)
{
  TAppFixture app;
  const std::string path = app.Path("store/messages.sqlite");
  std::string error;
  {
    auto store = msg::TMessageStore::Open(path, msg::TMessageStore::TMode::Create, error);
    ASSERT_TRUE(store) << error;
    msg::TMessage shown;
    for (const msg::TMessage& m : {Received("KA01", "GALE WARNING\nAREA 34-10N 139-02E", 3 * 3600.0),
                                   Received("KE02", "FORECAST FAIR", 2 * 3600.0),
                                   Received("KA01", "GALE WARNING\nAREA 34-10N 139-02E", 1 * 3600.0),
                                   Received("XD03", "MAYDAY RELAY", 30 * 3600.0)})
      ASSERT_TRUE(store->Add(m, shown, error)) << error;
  }
  app.Windows->Show();
  TForm1& f = app.Form1();
  f.OpenMessageWindow();
  TMessageWindow& w = *f.MessageWindow();
  w.SetStore(path);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(ListedIds(w), (std::vector<std::string>{"KE02", "KA01", "XD03"})) << "newest first";
  EXPECT_EQ(w.List()->model()->index(1, TMessageListModel::Copies).data().toString(), QStringLiteral("2"));

  QTest::keyClicks(w.SearchBox(), QStringLiteral("gale 34-10n"));
  EXPECT_EQ(ListedIds(w), std::vector<std::string>{"KA01"});
  w.SearchBox()->clear();
  w.NewOnlyBox()->setChecked(true);
  EXPECT_EQ(ListedIds(w), (std::vector<std::string>{"KE02", "KA01"})) << "a day old is no longer new";
  w.NewOnlyBox()->setChecked(false);
  w.SubjectsBox()->setText(QStringLiteral("d"));
  EXPECT_EQ(ListedIds(w), std::vector<std::string>{"XD03"});
  w.SubjectsBox()->clear();
  w.StationsBox()->setText(QStringLiteral("X,K"));
  EXPECT_EQ(ListedIds(w).size(), 3u);
  w.SinceBox()->setCurrentIndex(1);
  EXPECT_EQ(ListedIds(w).size(), 2u);
  w.SinceBox()->setCurrentIndex(0);

  // The list taking the focus opens nothing.
  w.activateWindow();
  w.List()->setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
  EXPECT_TRUE(w.List()->currentIndex().isValid()) << "the first row became current";
  EXPECT_EQ(w.Shown(), nullptr);
  EXPECT_EQ(w.List()->model()->index(0, TMessageListModel::New).data().toString(), QStringLiteral("new"));

  // Selecting a message shows its text and positions, and it is read.
  w.List()->selectRow(1);
  ASSERT_NE(w.Shown(), nullptr);
  EXPECT_EQ(w.Shown()->Id, "KA01");
  const QString text = w.TextPane()->toPlainText();
  EXPECT_TRUE(text.contains(QStringLiteral("GALE WARNING"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("34.1667, 139.0333"))) << text.toStdString();
  w.KeepBox()->click();
  w.CopiesButton()->click();
  EXPECT_EQ(w.TextPane()->toPlainText().count(QStringLiteral("Copy ")), 2);
  {
    auto store = msg::TMessageStore::Open(path, msg::TMessageStore::TMode::Read, error);
    ASSERT_TRUE(store) << error;
    std::vector<msg::TMessage> all;
    ASSERT_TRUE(store->List({}, all, error)) << error;
    ASSERT_EQ(all.size(), 3u);
    for (const msg::TMessage& m : all) EXPECT_EQ(m.Opened && m.Kept, m.Id == "KA01") << m.Id;
  }

  // What the receiver finishes now is listed at the top, new.
  msg::TMessage live = Received("KB04", "STORM WARNING", 0);
  live.StoreId = 0;
  w.MessageReceived(live);
  EXPECT_EQ(ListedIds(w).front(), "KB04");
  EXPECT_EQ(w.List()->model()->index(0, TMessageListModel::New).data().toString(), QStringLiteral("new"));

  QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("MarkAllRead")), Qt::LeftButton);
  w.NewOnlyBox()->setChecked(true);
  EXPECT_TRUE(ListedIds(w).empty());
  auto store = msg::TMessageStore::Open(path, msg::TMessageStore::TMode::Read, error);
  ASSERT_TRUE(store) << error;
  std::vector<msg::TMessage> all;
  ASSERT_TRUE(store->List({}, all, error)) << error;
  for (const msg::TMessage& m : all) EXPECT_TRUE(m.Opened) << m.Id;
  EXPECT_TRUE(w.close());
  EXPECT_NE(test::ReadBytes(app.SettingsPath).find("NewOnly=1"), std::string::npos);
}

// Plays `copies` copies of `text` at `snrDb` into the window's fake input.
void Play(TAppFixture& app, const std::string& text, int copies, double snrDb)
{
  test::PlayEnglish(app, text, copies, snrDb, 40);
}

// A weak search-and-rescue message, with the exact path shown: listed as new,
// the alarm in both windows sounding until it is acknowledged in the message
// window; its repeat adds a copy and no second alarm.
TEST(MessageWindow, ASearchAndRescueMessageIsListedAndItsAlarmWaitsForAcknowledgement)
{
  int sounds = 0;
  TAppFixture app({}, nullptr, [&](TForm1Options& o) {
    o.AlarmSound = [&] { ++sounds; };
    o.AlarmRepeatMs = 20;
  });
  app.Windows->Show();
  TForm1& f = app.Form1();
  ASSERT_EQ(f.DecoderPath(), TDecoderPath::Exact);
  f.OpenMessageWindow();
  TMessageWindow& w = *f.MessageWindow();
  auto* inWindow = w.BannerArea()->findChild<TAlarmBanner*>();
  ASSERT_NE(inWindow, nullptr);
  EXPECT_FALSE(f.AlarmBanner()->isVisible() || inWindow->isVisible());

  Play(app, "ZCZC KD05\nMAYDAY RELAY FISHING VESSEL TAKING WATER 5012N 00130W\nNNNN\n", 2, 2.0);
  ASSERT_TRUE(test::PumpUntil([&] { return ListedIds(w).size() == 1 && w.Proxy()->index(0, 0).isValid(); }, 5000));
  ASSERT_TRUE(test::PumpUntil([&] { return w.Model()->At(0).Copies == 2; }, 5000)) << "the repeat is a copy";
  EXPECT_EQ(ListedIds(w), std::vector<std::string>{"KD05"});
  EXPECT_EQ(f.MemoBytes().find("TAKING WATER"), std::string::npos) << "the exact path shown did not get it";
  EXPECT_EQ(w.List()->model()->index(0, TMessageListModel::New).data().toString(), QStringLiteral("new"));
  EXPECT_EQ(app.Alerts, std::vector<std::string>{"KD05"}) << "one alarm for both copies";
  EXPECT_TRUE(f.AlarmBanner()->isVisible() && inWindow->isVisible());
  EXPECT_TRUE(inWindow->Label()->text().contains(QStringLiteral("KD05")));
  EXPECT_EQ(f.size(), QSize(ClientWidth, ClientHeight)) << "the banner lies over the memo";

  // It keeps sounding until acknowledged, then stops in both windows.
  const int before = sounds;
  ASSERT_TRUE(test::PumpUntil([&] { return sounds >= before + 3; }, 2000));
  QTest::mouseClick(inWindow->AcknowledgeButton(), Qt::LeftButton);
  EXPECT_FALSE(f.Alarm().Active());
  EXPECT_FALSE(f.AlarmBanner()->isVisible() || inWindow->isVisible());
  const int after = sounds;
  QTest::qWait(100);
  EXPECT_EQ(sounds, after);
}

// Stations restricted to K and subjects to those that cannot be left out: a
// search-and-rescue message from X and a forecast from K are stored but
// neither listed nor announced; a forecast numbered 00 is listed.
TEST(MessageWindow, MessagesOutsideTheSelectionAreStoredButNeitherListedNorAnnounced)
{
  TAppFixture app("[Messages]\nStations=K\nSubjects=A,B,D,L\n");
  app.Windows->Show();
  TForm1& f = app.Form1();
  TMessageWindow& w = *f.MessageWindow();
  for (const char* id : {"XD06", "KE07", "KE00"})
    Play(app, std::string("ZCZC ") + id + "\nMESSAGE " + id + " FOR THE SELECTION\nNNNN\n", 1, 20.0);
  ASSERT_TRUE(test::PumpUntil([&] { return w.Model()->rowCount() == 3; }, 5000)) << w.Model()->rowCount();
  EXPECT_EQ(ListedIds(w), std::vector<std::string>{"KE00"});
  EXPECT_TRUE(app.Alerts.empty()) << app.Alerts.front();
  EXPECT_FALSE(f.Alarm().Active());
  w.ShowAllBox()->setChecked(true);
  EXPECT_EQ(ListedIds(w).size(), 3u);

  std::string error;
  auto store = msg::TMessageStore::Open(app.Path("store/messages.sqlite"), msg::TMessageStore::TMode::Read, error);
  ASSERT_TRUE(store) << error;
  std::vector<msg::TMessage> all;
  ASSERT_TRUE(store->List({}, all, error)) << error;
  ASSERT_EQ(all.size(), 3u);
  for (const msg::TMessage& m : all) EXPECT_EQ(m.Selected, m.Id == "KE00") << m.Id;

  // The dialog: letters it cannot read keep it open; what it takes is
  // written to the settings file and applies to the next message at once.
  w.ShowAllBox()->setChecked(false);
  w.EditSelection();
  auto* dialog = w.findChild<QDialog*>(QStringLiteral("SelectionDialog"));
  ASSERT_NE(dialog, nullptr);
  auto* stationsEdit = dialog->findChild<QLineEdit*>(QStringLiteral("SelectionStations"));
  auto* subjectsEdit = dialog->findChild<QLineEdit*>(QStringLiteral("SelectionSubjects"));
  EXPECT_EQ(stationsEdit->text(), QStringLiteral("K"));
  EXPECT_EQ(subjectsEdit->text(), QStringLiteral("A,B,D,L"));
  stationsEdit->setText(QStringLiteral("K1"));
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("SelectionProblem"))->isVisible());
  stationsEdit->setText(QStringLiteral("k x"));
  subjectsEdit->setText(QStringLiteral("e"));
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  ASSERT_TRUE(test::PumpUntil([&] { return !w.findChild<QDialog*>(QStringLiteral("SelectionDialog")); }, 2000));
  const TMessageWindowSettings kept = LoadMessageWindowSettings(app.SettingsPath);
  EXPECT_EQ(kept.Stations, "KX");
  EXPECT_EQ(kept.Subjects, "ABDEL");
  Play(app, "ZCZC XE09\nFORECAST FROM X\nNNNN\n", 1, 20.0);
  ASSERT_TRUE(test::PumpUntil([&] { return w.Model()->rowCount() == 4; }, 5000));
  EXPECT_EQ(ListedIds(w), (std::vector<std::string>{"XE09", "KE00"}));
}

}  // namespace
}  // namespace brontel
