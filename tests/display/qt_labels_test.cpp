// The Qt text renderer: QImage over the raster's memory, the label font, and
// the status labels and "OFF" texts as pixels.
#include <gtest/gtest.h>

#include <memory>

#include <QFontInfo>
#include <QGuiApplication>
#include <QPainter>

#include "core/receiver.h"
#include "display/displays.h"
#include "display/eye_pattern.h"
#include "display/qt/qt_text_renderer.h"
#include "display/status_labels.h"

namespace brontel {
namespace {

class QtLabels : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_NE(EnsureGuiApplication(), nullptr); }
  static void TearDownTestSuite() { ReleaseGuiApplication(); }
};

// Tools and test programs may start and release the application more than once.
TEST(GuiApplication, StartsAgainOffscreenAfterARelease)
{
  const bool ownedBefore = QCoreApplication::instance() == nullptr;
  for (int i = 0; i < 2; ++i) {
    QGuiApplication* app = EnsureGuiApplication();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    if (ownedBefore) ReleaseGuiApplication();
  }
}

struct TBox {
  int Left = 1 << 30, Top = 1 << 30, Right = -1, Bottom = -1, Count = 0;
};

TBox BoxOf(const TRaster& r, TColor c, TRect within = {0, 0, 1 << 30, 1 << 30})
{
  TBox b;
  for (int y = std::max(0, within.Top); y < std::min(r.Height(), within.Bottom); ++y)
    for (int x = std::max(0, within.Left); x < std::min(r.Width(), within.Right); ++x)
      if (r.Pixel(x, y) == c) {
        b.Left = std::min(b.Left, x);
        b.Top = std::min(b.Top, y);
        b.Right = std::max(b.Right, x + 1);
        b.Bottom = std::max(b.Bottom, y + 1);
        ++b.Count;
      }
  return b;
}

std::vector<uint8_t> Bytes(const TRaster& r) { return {r.Bits(), r.Bits() + r.Stride() * r.Height()}; }

TEST_F(QtLabels, Bgr888IsBlueGreenRedInMemory)
{
  TRaster r(4, 2);
  QImage image = RasterImage(r);
  EXPECT_EQ(image.format(), QImage::Format_BGR888);
  EXPECT_EQ(image.constBits(), r.Bits());  // shares the memory: no copy
  {
    QPainter p(&image);
    p.fillRect(0, 0, 1, 1, QColor(200, 100, 50));
    p.fillRect(3, 1, 1, 1, QColor(255, 0, 0));
  }
  EXPECT_EQ(image.constBits(), r.Bits());  // painting did not detach
  EXPECT_EQ(r.Bits()[0], 50);   // blue
  EXPECT_EQ(r.Bits()[1], 100);  // green
  EXPECT_EQ(r.Bits()[2], 200);  // red
  EXPECT_EQ(r.Pixel(3, 1), Red);
  PutPixel(1, 0, r, TColor{1, 2, 3});
  EXPECT_EQ(image.pixelColor(1, 0), QColor(1, 2, 3));
}

TEST_F(QtLabels, LabelFontIsLiberationSansBold13Pixels)
{
  TQtTextRenderer text;
  EXPECT_EQ(text.LabelFontResolvedFamily().toStdString(), LabelFontFamily);
  const QFontInfo info(text.LabelFont());
  EXPECT_TRUE(info.bold());
  EXPECT_EQ(info.pixelSize(), 13);
}

TEST_F(QtLabels, TextCellIsNotFilledAndOnlyTheColourIsPainted)
{
  TQtTextRenderer text;
  TRaster r(60, 30);
  FillRect(r, {0, 0, 60, 30}, Grey);
  r.Text = &text;
  SetLabelFont(r);
  text.DrawText(r, 5, 5, "POS", Green);
  const TBox g = BoxOf(r, Green);
  EXPECT_GT(g.Count, 25);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) ASSERT_TRUE(r.Pixel(x, y) == Grey || r.Pixel(x, y) == Green) << x << "," << y;
  // (5, 5) is the top-left corner of the text cell: capitals start a row or
  // two below it, and the 13-pixel font keeps them within the cell.
  EXPECT_GE(g.Left, 5);
  EXPECT_LE(g.Left, 7);
  EXPECT_GE(g.Top, 5);
  EXPECT_LE(g.Top, 8);
  EXPECT_LE(g.Bottom, 5 + 13);
  EXPECT_GE(g.Right - g.Left, 20);  // three bold capitals
}

TEST_F(QtLabels, OutlinedTextHasABlackOutline)
{
  TQtTextRenderer text;
  TRaster r(60, 30);
  FillRect(r, {0, 0, 60, 30}, White);
  r.Text = &text;
  SetLabelFont(r);
  DrawOutlinedText(r, 10, 8, "NEG", Green);
  const TBox g = BoxOf(r, Green), k = BoxOf(r, Black);
  EXPECT_GT(g.Count, 25);
  EXPECT_GT(k.Count, 0);
  EXPECT_EQ(k.Left, g.Left - 1);
  EXPECT_EQ(k.Top, g.Top - 1);
  EXPECT_EQ(k.Right, g.Right + 1);
  EXPECT_EQ(k.Bottom, g.Bottom + 1);
}

TEST_F(QtLabels, NoRendererNoPixels)
{
  TRaster r(60, 30);
  SetLabelFont(r);
  DrawOutlinedText(r, 10, 8, "NEG", Green);
  EXPECT_EQ(BoxOf(r, Green).Count, 0);
  EXPECT_EQ(BoxOf(r, Black).Count, 60 * 30);
}

// The eye raster of one silent block with the given flags, labels rendered.
std::vector<uint8_t> EyeWithLabels(TQtTextRenderer& text, bool inverted, bool eng)
{
  auto rx = std::make_unique<TReceiver>();
  TDisplays d(*rx, &text);
  rx->Displays = &d;
  rx->Channels[0].Inverted = inverted;
  rx->Channels[0].EngMode = eng;
  const std::array<int16_t, BlockSamples> zero{};
  ProcessBlock(*rx, zero);
  return Bytes(d.EyeBitmap());
}

// The expected raster: the grid, then the two labels (no traces without bits).
std::vector<uint8_t> GridWith(TQtTextRenderer& text, const char* pol, const char* mode)
{
  TEyeDisplay e;
  InitEyeDisplay(e);
  e.EyeBitmap.Text = &text;
  SetLabelFont(e.EyeBitmap);
  DrawOutlinedText(e.EyeBitmap, 150, 115, pol, Green);
  DrawOutlinedText(e.EyeBitmap, 150, 130, mode, Green);
  return Bytes(e.EyeBitmap);
}

TEST_F(QtLabels, StatusLabelsFollowTheDecoder)
{
  TQtTextRenderer text;
  const auto posJpn = EyeWithLabels(text, false, false);
  EXPECT_EQ(posJpn, GridWith(text, "POS", "JPN"));
  EXPECT_EQ(EyeWithLabels(text, true, false), GridWith(text, "NEG", "JPN"));
  EXPECT_EQ(EyeWithLabels(text, false, true), GridWith(text, "POS", "ENG"));
  EXPECT_EQ(EyeWithLabels(text, true, true), GridWith(text, "NEG", "ENG"));
  EXPECT_NE(GridWith(text, "POS", "JPN"), GridWith(text, "NEG", "JPN"));
  EXPECT_NE(GridWith(text, "POS", "JPN"), GridWith(text, "POS", "ENG"));
  TEyeDisplay grid;
  InitEyeDisplay(grid);
  EXPECT_NE(posJpn, Bytes(grid.EyeBitmap));
}

TEST_F(QtLabels, LabelsLieInTheLowerRightCorner)
{
  TQtTextRenderer text;
  auto rx = std::make_unique<TReceiver>();
  TDisplays d(*rx, &text);
  rx->Displays = &d;
  d.DrawEyePattern(0, true, 0, 0);
  const TBox g = BoxOf(d.EyeBitmap(), Green);
  EXPECT_GT(g.Count, 50);
  EXPECT_GE(g.Left, 150);
  EXPECT_GE(g.Top, 115);
  EXPECT_LE(g.Right, 180);
  EXPECT_LE(g.Bottom, 145);
  // Two lines of text: green both in 115 … 129 and from 130 on.
  EXPECT_GT(BoxOf(d.EyeBitmap(), Green, {150, 115, 180, 130}).Count, 20);
  EXPECT_GT(BoxOf(d.EyeBitmap(), Green, {150, 130, 180, 145}).Count, 20);
}

TEST_F(QtLabels, OffLabels)
{
  TQtTextRenderer text;
  auto rx = std::make_unique<TReceiver>();
  TDisplays d(*rx, &text);
  d.Image1Click();
  const TBox s = BoxOf(d.SpectrumBitmap(), Red);
  EXPECT_GT(s.Count, 20);
  EXPECT_GE(s.Left, 226);
  EXPECT_GE(s.Top, 130);
  d.Image1Click();  // on: the label is removed
  EXPECT_EQ(BoxOf(d.SpectrumBitmap(), Red).Count, 0);

  d.Image2Click();
  const TBox e = BoxOf(d.EyeBitmap(), Red);
  EXPECT_GT(e.Count, 20);
  EXPECT_GE(e.Left, 150);
  EXPECT_GE(e.Top, 130);
  EXPECT_EQ(BoxOf(d.EyeBitmap(), Green).Count, 0);  // no status labels in the off frame
  d.Image2Click();
  d.DrawEyePattern(0, true, 0, 0);  // the next block
  EXPECT_EQ(BoxOf(d.EyeBitmap(), Red).Count, 0);
  EXPECT_GT(BoxOf(d.EyeBitmap(), Green).Count, 50);
}

}  // namespace
}  // namespace brontel
