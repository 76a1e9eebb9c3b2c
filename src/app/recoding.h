// The main window: the two displays, the line being received, the centre
// frequency with its arrows, the save / copy / device buttons and the memo of
// received text. It hosts a receiver session (with its displays, messages and
// store) and the capture engine, which hands every block to the session on
// the user-interface thread as it arrives; the window shows what the session
// reports.
//
// The window is complete, with its settings applied and both displays showing
// their first frames, before it opens the sound input, so that the first block
// finds everything it needs. Closing the window writes the settings;
// destroying it closes the sound input, then releases the displays.
#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/atomic_file.h"
#include "app/device_dialog.h"
#include "app/glyphs.h"
#include "app/settings.h"
#include "app/status_line.h"
#include "session/receiver_session.h"

class QLabel;
class QTimer;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace brontel {

class TDisplays;
class TErrorReporter;
class TDeviceDialog;
class TImageView;
class TMessageBoxReporter;
class TAlarm;
struct TSharedSelection;
class TAlarmBanner;
class TMessageWindow;
class TQtCapture;
class TQtTextRenderer;
class TUpDown;
class TWaveInDriver;

// A glyph as a 16 × 16 image: black, and the light grey fully transparent.
QImage GlyphImage(const TGlyph& glyph);

inline constexpr int MaxWindowCoordinate = 16777215;  // the largest widget size Qt allows

// Where a window stored at `stored` goes: there, when its title-bar strip
// (`size` wide, 30 pixels high) meets one of the `screens`; otherwise the
// top-left corner of the first screen (the screen it was on is gone). Each
// coordinate is first limited to ±MaxWindowCoordinate.
QPoint VisiblePosition(QPoint stored, QSize size, const QList<QRect>& screens);

// Where a companion window of `size` (frame included) opens beside the main
// window's frame `main`: to its right when it fits on the main window's
// screen, else to its left, else against the screen's right edge; top edges
// level, kept on the screen.
QPoint BesidePosition(QRect main, QSize size, const QList<QRect>& screens);

inline constexpr int ClientWidth = 458;
// The centre frequency's range, in steps of 10 Hz.
inline constexpr int CentFLowest = 20;
inline constexpr int CentFHighest = 200;
inline constexpr int ClientHeight = 563;
inline constexpr const char* SaveDialogTitle = "受信文の保存";
inline constexpr const char* SaveDialogFilter = "テキスト (*.txt)";  // "テキスト(*.txt)|*.txt"

// What the window needs from outside; the modal parts are replaceable so that
// tests never wait for a person.
struct TForm1Options {
  TWaveInDriver* Driver = nullptr;      // the sound input (required)
  std::string SettingsPath;             // the settings file
  // Told of every capture failure. Null: the error box, except for a missing
  // sound server, which the status line reports while recording waits for it.
  TErrorReporter* CaptureErrors = nullptr;
  // Asks for the file to save to; an empty name means cancelled. Null: the
  // file-save dialog.
  std::function<QString(QWidget* parent, const QString& title, const QString& filter)> SaveFileName;
  // Asks for the file to save to and its encoding: `chosen` is the index of
  // the filter taken (0: code page 932, 1: UTF-8). Used instead of
  // SaveFileName when set; both null: the file-save dialog offering both.
  std::function<QString(QWidget* parent, const QString& title, const QStringList& filters, int& chosen)> SaveFileAs;
  // Shows a failure (a file that cannot be written) in a modal box. Null: a
  // message box.
  std::function<void(QWidget* parent, const QString& text)> ShowError;
  // The system calls that write the saved text and the settings file.
  TFileWriteCalls FileWrites = SystemFileWriteCalls();
  // Tells the user something that is no failure (a stored input device that
  // is gone). Null: an information box.
  std::function<void(QWidget* parent, const QString& text)> ShowNotice;
  // How often an input device that could not be opened is tried again.
  int CaptureRetryMs = 1000;
  // What the device dialog takes from outside.
  TDeviceDialogOptions DeviceDialog;
  // Runs at the start of the close handler ("close") and of the destructor
  // ("destroy"); for tests that check the order of shut-down.
  std::function<void(const char* stage)> OnStage;
  // The message store (empty: the default one in the user's data folder).
  std::string MessageStorePath;
  // Tells the user that a message could not be stored, with the reason. Null:
  // ShowNotice.
  std::function<void(QWidget* parent, const QString& text)> ShowStoreTrouble;
  // Raises the alert for a message (a search-and-rescue message heard for
  // the first time). Null: the system beep, the window asks for attention and
  // a desktop notification when the session has a notification service.
  std::function<void(const msg::TMessage& message)> RaiseAlert;
  // The alarm that waits until acknowledged: one sound (null: the system
  // beep) repeated every AlarmRepeatMs.
  std::function<void()> AlarmSound;
  int AlarmRepeatMs = 3000;
};

class TForm1 final : public QWidget, public TTextSink, public TSessionListener, public TDeviceHost {
public:
  explicit TForm1(TForm1Options options, QWidget* parent = nullptr);
  ~TForm1() override;  // FormDestroy

  // Applies the stored position (FormCreate); called before the first show.
  void FormCreate();

  // The commands.
  void UpDown1Click();
  void SpeedButton2Click();  // save
  void SpeedButton3Click();  // copy
  void SpeedButton1Click();  // device dialog
  void Image1Click();
  void Image2Click();

  // Writes the settings as they stand now (window position, switches,
  // device, the up-down's position); a failure is reported to the user.
  bool SaveSettings();

  // The device dialog, created after this window.
  void SetDeviceDialog(TDeviceDialog* dialog);

  // The message window (a window of its own, hidden until opened from the
  // memo's menu or with Ctrl+M).
  TMessageWindow* MessageWindow() const { return MessagesWindow.get(); }
  // The alarm raised by a search-and-rescue message (or a subject in
  // [Messages] Alert), and its banner over the top of the memo.
  TAlarm& Alarm() const { return *AlarmPtr; }
  TAlarmBanner* AlarmBanner() const { return AlarmBar; }
  void OpenMessageWindow();

  // The memo's content in code page 932: the banner until the first line is
  // received, then the received text with one more "\r\n". This is what is
  // saved and copied.
  const std::string& MemoBytes() const { return Memo; }

  // Which decoder path the memo, the edit line and the labels follow; kept in
  // the settings file. The robust path always runs, so a switch shows its
  // text at once; the messages always come from the robust path.
  void SetDecoderPath(TDecoderPath path);
  TDecoderPath DecoderPath() const { return SessionPtr->Decoder(); }

  // The receiver session and its displays.
  TReceiverSession& Session() const { return *SessionPtr; }
  TDisplays* Displays() const { return SessionPtr->Displays(); }
  // The receiver inside the session, for tests that look at its state.
  TReceiver& Rx() const { return SessionPtr->Receiver(); }
  // Messages that could not be stored since the window opened.
  int StoreFailures() const { return SessionPtr->StoreFailures(); }
  TQtCapture* Capture() const { return CapturePtr.get(); }
  const std::string& SettingsPath() const { return Options.SettingsPath; }

  // The status line (input, level, signal, decoder, path) with what it
  // shows now; made for the window that hosts it, refreshed twice a second.
  TStatusLine* StatusLine() const { return StatusLinePtr.data(); }
  const TStatusLineModel& StatusModel() const { return Status; }
  void RefreshStatus();

  // Tuning from the displays: the frequency under the pointer over the
  // spectrum or the waterfall (empty when it is elsewhere), and a new centre
  // (Hz, rounded to the 10 Hz steps and limited to the range).
  const QString& HoverText() const { return Hover; }
  void TuneTo(double hz);

  // Members read from the settings.
  int32_t InputIndex = 0;
  std::string InputName;  // the listed name of the device of InputIndex (empty: the standard one)
  int32_t MainTop = 0, MainLeft = 0;
  int32_t CentFPosition = 80;

  // TDeviceHost.
  int32_t GetInputIndex() const override { return InputIndex; }
  void SetInputIndex(int32_t row) override;
  // Opens the device of the input index. A failure is shown once; while the
  // sound server or the device may still come, it is tried again in the
  // background and recording starts when it opens.
  bool OpenCapture() override;
  bool CloseCapture() override;
  bool RetryingCapture() const;
  QWidget* HostWindow() override { return this; }

  // Controls.
  TImageView* Image1;
  TImageView* Image2;
  QLineEdit* Edit2;
  QLabel* Label2;
  TUpDown* UpDown1;
  QToolButton* SpeedButton2;
  QToolButton* SpeedButton3;
  QToolButton* SpeedButton1;
  QPlainTextEdit* Memo1;

protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // TTextSink.
  void MemoReplaced(std::string_view memoText) override;
  void EditChanged(std::string_view text) override;

  void BuildControls();
  // TSessionListener.
  void MessageDone(const TMessageEvent& e) override;
  void StatusChanged(const TStatusEvent& e) override;
  void HoverAt(QPointF at);

  void MemoMenu(const QPoint& at);
  void StartMessages(const TSettings& settings);
  void RaiseAlertFor(const msg::TMessage& message);
  void ShowStoreTrouble(const TMessageEvent& e);
  // One attempt to open the input. `fallBack`: a stored device that is gone
  // gives way to the standard input device, with a notice.
  bool TryOpenCapture(bool fallBack);
  // An attempt whose failure is shown, then retried while that makes sense.
  bool StartCapture(bool fallBack);
  void RetryCapture();
  void ShowMemo(bool caretAtEnd);
  void ShowCentF();

  TForm1Options Options;
  std::unique_ptr<TMessageBoxReporter> OwnErrors;
  std::unique_ptr<TQtTextRenderer> TextRenderer;
  std::unique_ptr<TReceiverSession> SessionPtr;
  std::string AlertSubjects;
  bool Closing = false;        // the window is going: messages are stored, no alert
  bool StoreTroubleShown = false;  // said since the last message that was stored
  std::unique_ptr<TQtCapture> CapturePtr;
  std::unique_ptr<TMessageWindow> MessagesWindow;
  TAlarm* AlarmPtr = nullptr;
  // The selection the receiver applies (changed from the message window).
  std::shared_ptr<TSharedSelection> Selection;
  TAlarmBanner* AlarmBar = nullptr;
  TDeviceDialog* DeviceDialogPtr = nullptr;
  QTimer* CaptureRetry = nullptr;
  std::string Memo;
  TStatusLineModel Status;
  QPointer<TStatusLine> StatusLinePtr;  // deleted with this window unless its host has deleted it
  QTimer* StatusTimer = nullptr;
  TLevelMeter LevelMeter;
  double SecondsSinceBlock = 1e9;  // counted by the status timer, reset by each block
  QString Hover;
};

}  // namespace brontel
