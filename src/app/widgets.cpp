#include "app/widgets.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QPainter>
#include <QToolButton>

#include <algorithm>

namespace brontel {

TImageView::TImageView(int width, int height, QWidget* parent)
    : QWidget(parent), Shown(width, height, QImage::Format_RGB32)
{
  Shown.fill(Qt::black);
  setFixedSize(width, height);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

void TImageView::ShowCopy(const TRaster& raster)
{
  if (Shown.width() != raster.Width() || Shown.height() != raster.Height())
    Shown = QImage(raster.Width(), raster.Height(), QImage::Format_RGB32);
  for (int y = 0; y < raster.Height(); ++y) {
    const uint8_t* src = raster.Row(y);  // blue, green, red
    auto* dst = reinterpret_cast<QRgb*>(Shown.scanLine(y));
    for (int x = 0; x < raster.Width(); ++x, src += 3) dst[x] = qRgb(src[2], src[1], src[0]);
  }
  update();
}

void TImageView::paintEvent(QPaintEvent*)
{
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  painter.drawImage(0, 0, Shown);
}

void TImageView::mousePressEvent(QMouseEvent* event)
{
  Pressed = event->button() == Qt::LeftButton;
}

void TImageView::mouseReleaseEvent(QMouseEvent* event)
{
  const bool click = Pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  Pressed = false;
  if (click && OnClick) OnClick();
}

void TImageView::mouseDoubleClickEvent(QMouseEvent* event)
{
  Pressed = false;  // the release that follows is no click
  if (event->button() == Qt::LeftButton && OnDoubleClick) OnDoubleClick(event->position());
}

void TImageView::mouseMoveEvent(QMouseEvent* event)
{
  if (OnHover) OnHover(event->position());
}

void TImageView::leaveEvent(QEvent*)
{
  if (OnHover) OnHover(QPointF(-1, -1));
}

TUpDown::TUpDown(int min, int max, QWidget* parent)
    : QWidget(parent), Lo(min), Hi(std::max(min, max)), Pos(min), Up(new QToolButton(this)),
      Down(new QToolButton(this))
{
  setFocusPolicy(Qt::StrongFocus);
  for (QToolButton* b : {Up, Down}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
    b->setAutoRepeatDelay(400);
    b->setAutoRepeatInterval(100);
  }
  Up->setArrowType(Qt::UpArrow);
  Down->setArrowType(Qt::DownArrow);
  connect(Up, &QToolButton::clicked, this, [this] { StepUp(); });
  connect(Down, &QToolButton::clicked, this, [this] { StepDown(); });
}

void TUpDown::SetPosition(int position) { Pos = std::clamp(position, Lo, Hi); }

void TUpDown::StepUp() { Step(+1); }
void TUpDown::StepDown() { Step(-1); }

void TUpDown::Step(int delta)
{
  const int next = std::clamp(Pos + delta, Lo, Hi);
  if (next == Pos) return;
  Pos = next;
  if (OnClick) OnClick();
}

void TUpDown::resizeEvent(QResizeEvent*)
{
  const int half = height() / 2;
  Up->setGeometry(0, 0, width(), half);
  Down->setGeometry(0, half, width(), height() - half);
}

void TUpDown::keyPressEvent(QKeyEvent* event)
{
  if (event->key() == Qt::Key_Up)
    StepUp();
  else if (event->key() == Qt::Key_Down)
    StepDown();
  else
    QWidget::keyPressEvent(event);
}

}  // namespace brontel
