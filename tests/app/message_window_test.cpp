// The message window driven as the user drives it: opened from the main
// window, its place and columns kept in the settings file, the status line's
// place. Fake sound input, offscreen.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include "app/message_window.h"
#include "app/message_window_settings.h"
#include "app_test_util.h"

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

}  // namespace
}  // namespace brontel
