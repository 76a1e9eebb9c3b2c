// The two small controls the main window needs that Qt has no exact
// counterpart for: an image that reports clicks, and bare up-down arrows.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

#include "display/raster.h"

class QToolButton;

namespace brontel {

// Shows a copy of a display raster and reports a click (left button pressed
// and released over it), a double-click and where the pointer hovers (in
// the view's own coordinates, fractional on a scaled screen). A double-click
// comes after the click of its first press; its second release is no click.
class TImageView final : public QWidget {
public:
  TImageView(int width, int height, QWidget* parent = nullptr);

  // Copies the raster's pixels into the shown frame (no allocation once the
  // frame has its size) and schedules a repaint.
  void ShowCopy(const TRaster& raster);
  const QImage& Frame() const { return Shown; }

  std::function<void()> OnClick;
  std::function<void(QPointF at)> OnDoubleClick;
  std::function<void(QPointF at)> OnHover;  // also told when the pointer leaves: at (-1, -1)

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

private:
  QImage Shown;
  bool Pressed = false;
};

// Up-down arrows without a text field: a position between Min and Max, moved
// one step by each arrow (held down: repeated), never wrapping. OnClick runs
// after every change of the position made by an arrow or an arrow key; at an
// end of the range a further press changes nothing and calls nothing.
class TUpDown final : public QWidget {
public:
  TUpDown(int min, int max, QWidget* parent = nullptr);

  int Min() const { return Lo; }
  int Max() const { return Hi; }
  int Position() const { return Pos; }
  // Sets the position, limited to Min … Max; OnClick is not called.
  void SetPosition(int position);

  // What the arrows do.
  void StepUp();
  void StepDown();

  QToolButton* UpButton() const { return Up; }
  QToolButton* DownButton() const { return Down; }

  std::function<void()> OnClick;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void Step(int delta);
  int Lo, Hi, Pos;
  QToolButton* Up;
  QToolButton* Down;
};

}  // namespace brontel
