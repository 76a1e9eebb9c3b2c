#include "app/notice_window.h"

#include <QCoreApplication>
#include <QLabel>

#include <algorithm>

#include "app/window_fonts.h"

namespace brontel {

void CentreOver(QWidget& window, const QWidget& over)
{
  const QRect o = over.frameGeometry();
  const QRect w = window.frameGeometry();
  window.move(o.left() + o.width() / 2 - w.width() / 2, o.top() + o.height() / 2 - w.height() / 2);
}

TNoticeWindow::TNoticeWindow(QWidget* parent) : QWidget(parent, Qt::Tool), Label1(new QLabel(this))
{
  setObjectName(QStringLiteral("Form9"));
  setWindowTitle(QCoreApplication::translate("TNoticeWindow", "Recoding Device Change"));
  setFont(PGothicFont(12));
  setFixedSize(230, 41);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setText(QCoreApplication::translate("TNoticeWindow", "Changing Device..."));
  // The text's own size where it exceeds the design size (92 × 12), so that it
  // is never cut off in this font.
  const QSize text = Label1->sizeHint();
  Label1->setGeometry(72, 16, std::max(92, text.width()), std::max(12, text.height()));
}

void TNoticeWindow::ShowOver(QWidget* over)
{
  Over = over;
  show();
}

void TNoticeWindow::showEvent(QShowEvent* event)
{
  if (Over) CentreOver(*this, *Over);
  QWidget::showEvent(event);
}

}  // namespace brontel
