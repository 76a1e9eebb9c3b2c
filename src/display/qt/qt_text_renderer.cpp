#include "display/qt/qt_text_renderer.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QString>

namespace brontel {

namespace {

QtMessageHandler PreviousHandler = nullptr;
QGuiApplication* OwnApp = nullptr;  // the application EnsureGuiApplication created

// Headless runs have no session: drop Qt's note about the missing runtime
// directory, pass everything else on.
void QuietHeadless(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
  if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  if (PreviousHandler) PreviousHandler(type, context, message);
}

}  // namespace

QGuiApplication* EnsureGuiApplication()
{
  if (QCoreApplication* app = QCoreApplication::instance()) return qobject_cast<QGuiApplication*>(app);
  // Installed once: installing it again would make it its own predecessor.
  static const bool handlerInstalled = [] {
    PreviousHandler = qInstallMessageHandler(QuietHeadless);
    return true;
  }();
  (void)handlerInstalled;
  // QGuiApplication takes the arguments it understands out of argv, so every
  // start (after a ReleaseGuiApplication too) gets them afresh.
  static int argc;
  static char arg0[] = "brontel", arg1[] = "-platform", arg2[] = "offscreen";
  static char* argv[4];
  argc = 3;
  argv[0] = arg0, argv[1] = arg1, argv[2] = arg2, argv[3] = nullptr;
  OwnApp = new QGuiApplication(argc, argv);
  return OwnApp;
}

void ReleaseGuiApplication()
{
  delete OwnApp;
  OwnApp = nullptr;
}

QImage RasterImage(TRaster& r)
{
  return QImage(r.Bits(), r.Width(), r.Height(), r.Stride(), QImage::Format_BGR888);
}

QImage RasterImage(const TRaster& r)
{
  return QImage(r.Bits(), r.Width(), r.Height(), r.Stride(), QImage::Format_BGR888);
}

bool SaveRasterPng(const TRaster& raster, const std::string& path)
{
  return RasterImage(raster).save(QString::fromStdString(path), "PNG");
}

namespace {

QFont MakeFont(bool bold, int pixels)
{
  QFont f;
  f.setFamilies({QString::fromLatin1(LabelFontFamily)});
  f.setStyleHint(QFont::SansSerif);
  f.setBold(bold);
  f.setPixelSize(pixels);
  f.setKerning(false);
  f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

}  // namespace

TQtTextRenderer::TQtTextRenderer() : Label(MakeFont(true, LabelFontPixels))
{
  LabelAscent = QFontMetrics(Label).ascent();
}

TQtTextRenderer::~TQtTextRenderer() = default;

QString TQtTextRenderer::LabelFontResolvedFamily() const { return QFontInfo(Label).family(); }

QImage& TQtTextRenderer::ImageFor(TRaster& r)
{
  for (TWrap& w : Wraps)
    if (w.Bits == r.Bits() && w.Width == r.Width() && w.Height == r.Height() && w.Stride == r.Stride())
      return w.Image;
  TWrap& w = Wraps[NextWrap];
  NextWrap = (NextWrap + 1) % Wraps.size();
  w.Bits = r.Bits();
  w.Width = r.Width();
  w.Height = r.Height();
  w.Stride = r.Stride();
  w.Image = RasterImage(r);
  return w.Image;
}

void TQtTextRenderer::DrawText(TRaster& raster, int x, int y, std::string_view text, TColor colour)
{
  if (raster.Width() == 0 || raster.Height() == 0 || text.empty()) return;
  // Every text Brontel draws is a label; a raster without a selected font
  // gets the label font too.
  QImage& image = ImageFor(raster);
  QPainter p(&image);
  p.setFont(Label);
  p.setPen(QColor(colour.R, colour.G, colour.B));
  p.setBackgroundMode(Qt::TransparentMode);  // the text cell is not filled
  // (x, y) is the top-left corner of the text cell; Qt places the baseline.
  p.drawText(x, y + LabelAscent,
             QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace brontel
