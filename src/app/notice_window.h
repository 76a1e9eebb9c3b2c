// The notice window shown while the input device is being changed.
#pragma once

#include <QWidget>

class QLabel;

namespace brontel {

class TNoticeWindow final : public QWidget {
public:
  explicit TNoticeWindow(QWidget* parent = nullptr);

  // Shows the window centred over `over` (FormShow).
  void ShowOver(QWidget* over);

  QLabel* Label1;

protected:
  void showEvent(QShowEvent* event) override;

private:
  QWidget* Over = nullptr;
};

// Moves `window` so that it is centred over `over`: top = over's top + over's
// height / 2 − window's height / 2, and so for left, with the outer (frame)
// sizes and integer halving toward zero.
void CentreOver(QWidget& window, const QWidget& over);

}  // namespace brontel
