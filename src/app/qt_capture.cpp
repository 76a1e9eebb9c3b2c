#include "app/qt_capture.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

#include <utility>

namespace brontel {

namespace {

// The engine's texts are its own source texts; shown in the interface language.
QString Translated(std::string_view text)
{
  return QCoreApplication::translate("TMessageBoxReporter", std::string(text).c_str());
}

}  // namespace

void TMessageBoxReporter::ShowError(std::string_view firstLine, std::string_view secondLine)
{
  QApplication::beep();
  QMessageBox box(QMessageBox::Critical, Translated(ErrorCaption),
                  Translated(firstLine) + QLatin1Char('\n') + Translated(secondLine), QMessageBox::Ok);
  box.exec();
}

QEvent::Type TWaveBlockEvent::EventType()
{
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

TQtCapture::TQtCapture(TWaveInDriver& driver, TErrorReporter& errors, TCaptureEngine::TBlockFn process,
                       QObject* parent)
    : QObject(parent),
      Process(std::move(process)),
      Capture(driver, errors, [this](uint64_t generation) {
        QCoreApplication::postEvent(this, new TWaveBlockEvent(generation));
      })
{
  (void)TWaveBlockEvent::EventType();  // registered here, not first on the audio thread
}

TQtCapture::~TQtCapture()
{
  Capture.CloseCapture();
  // Block events still waiting are removed with this object.
}

bool TQtCapture::event(QEvent* e)
{
  if (e->type() != TWaveBlockEvent::EventType()) return QObject::event(e);
  const uint64_t generation = static_cast<TWaveBlockEvent*>(e)->Generation;
  if (Capture.ProcessWaveBlock(generation, Process)) {
    ++Processed;
    if (AfterBlock) AfterBlock();
  } else {
    ++Dropped;
  }
  return true;
}

}  // namespace brontel
