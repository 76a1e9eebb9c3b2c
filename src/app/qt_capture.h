// The capture engine on the Qt event loop: block messages travel as posted
// events to an object living on the user-interface thread, and failures are
// shown in a modal message box.
//
// The main window owns one TQtCapture for the life of the program:
//
//   Driver  = brontel::MakePulseWaveInDriver();
//   Capture = std::make_unique<brontel::TQtCapture>(*Driver, ErrorBox,
//                                                  [this](auto block) { Session->ProcessBlock(block); });
//   Capture->SetAfterBlock([this] { ShowDisplays(); });   // optional
//   Capture->Engine().OpenCapture(InputIndex);             // last step of construction
//   ...
//   Capture->Engine().CloseCapture();                      // device change, exit
//
// where ErrorBox is a brontel::TMessageBoxReporter (or any TErrorReporter).
// Each completed block becomes one event; its handler takes the block and hands
// it to the block handler on the user-interface thread, then runs the
// after-block hook.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <functional>
#include <string_view>

#include "audio/capture_engine.h"

namespace brontel {

// The error box: QApplication::beep(), then a modal QMessageBox with the error
// icon, caption "エラー", the two lines joined by "\n" and a single OK button.
class TMessageBoxReporter final : public TErrorReporter {
public:
  void ShowError(std::string_view firstLine, std::string_view secondLine) override;
};

// The event that stands for one completed block.
class TWaveBlockEvent final : public QEvent {
public:
  static QEvent::Type EventType();
  explicit TWaveBlockEvent(uint64_t generation) : QEvent(EventType()), Generation(generation) {}
  const uint64_t Generation;
};

class TQtCapture final : public QObject {
public:
  // Create on the user-interface thread; block events are handled there.
  TQtCapture(TWaveInDriver& driver, TErrorReporter& errors, TCaptureEngine::TBlockFn process,
             QObject* parent = nullptr);
  ~TQtCapture() override;

  TCaptureEngine& Engine() { return Capture; }

  // Runs after each processed block (not for dropped stale messages).
  void SetAfterBlock(std::function<void()> afterBlock) { AfterBlock = std::move(afterBlock); }

  // Block events handled so far: processed, and dropped as stale.
  uint64_t BlocksProcessed() const { return Processed; }
  uint64_t BlocksDropped() const { return Dropped; }

protected:
  bool event(QEvent* e) override;

private:
  TCaptureEngine::TBlockFn Process;
  TCaptureEngine Capture;
  std::function<void()> AfterBlock;
  uint64_t Processed = 0;
  uint64_t Dropped = 0;
};

}  // namespace brontel
