// GoogleTest with a QApplication on the offscreen platform: the windows are
// real but need no display. Built with BRONTEL_TEST_ON_X, the windows go on
// the X display when one is set (scripts/xvfb-test-display.sh starts one), as
// a user's would.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv)
{
#ifdef BRONTEL_TEST_ON_X
  const char* display = std::getenv("DISPLAY");
  qputenv("QT_QPA_PLATFORM", display && *display ? "xcb;offscreen" : "offscreen");
#else
  qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
