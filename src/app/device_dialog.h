// The device dialog: choose the sound input (the standard input device or one
// of the installed ones) and open the system's recording-level settings.
//
// The list is built once, when the dialog is created: row 0 is the standard
// input device, row k the input device with id k − 1. The row of the device in
// use carries the mark " ○". OK applies a changed row: the capture is closed,
// the notice window shows "Changing Device..." for a pause of 1000 ms, and the
// new device is opened. The receiver keeps running while the dialog is open.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

class QPushButton;
class QTableWidget;

namespace brontel {

class TNoticeWindow;
class TWaveInDriver;

// What the dialog needs of the main window.
class TDeviceHost {
public:
  virtual ~TDeviceHost() = default;
  virtual int32_t GetInputIndex() const = 0;
  virtual void SetInputIndex(int32_t row) = 0;
  // Opens the device of the current input index; false after the failure has
  // been reported to the user.
  virtual bool OpenCapture() = 0;
  virtual bool CloseCapture() = 0;
  // The window the dialog is centred over.
  virtual QWidget* HostWindow() = 0;
};

inline constexpr const char* StandardDeviceCaption = "標準の入力デバイス";
inline constexpr const char* InUseMark = " ○";
inline constexpr const char* NotInUseMark = " ";
inline constexpr int DeviceChangePauseMs = 1000;

// A program that shows the recording levels, and its arguments.
struct TSoundSettingsProgram {
  QString Program;  // empty: none was found
  QStringList Arguments;
};

// The first installed of the known PulseAudio / PipeWire mixers, opened on
// their input devices where they allow it (pavucontrol --tab=4 first).
TSoundSettingsProgram FindSoundSettingsProgram();

// What the dialog takes from outside; tests replace the parts that would start
// programs or wait.
struct TDeviceDialogOptions {
  // Starts a program without waiting for it. Null: QProcess::startDetached.
  std::function<bool(const QString& program, const QStringList& arguments)> StartDetached;
  // The pause behind the notice window while the device changes. Null: the
  // user-interface thread sleeps for the given time.
  std::function<void(int ms)> Pause;
  // The recording-level program. Unset: the first installed one is looked for
  // when the dialog is built.
  std::optional<TSoundSettingsProgram> SoundSettings;
};

class TDeviceDialog final : public QDialog {
public:
  TDeviceDialog(TDeviceHost& host, TNoticeWindow& notice, TWaveInDriver& driver,
                TDeviceDialogOptions options = {}, QWidget* parent = nullptr);

  // The handlers.
  void ListView1Change();
  void Button1Click();  // OK
  void Button2Click();  // キャンセル
  void Button3Click();  // サウンド設定

  // The listed name of the device in `row`; empty for the standard input
  // device and beyond the list.
  QString DeviceName(int row) const;
  // The row marked as in use, or -1 when no row is marked.
  int MarkedRow() const;
  // Marks `row` as the device in use (the main window changed it itself).
  void MarkInUse(int row) { Mark(row); }
  // Whether the selection has changed since the dialog was built or a change
  // was last applied.
  bool SelectionChanged() const { return Changed; }
  const TSoundSettingsProgram& SoundSettings() const { return *Options.SoundSettings; }  // set when built

  QTableWidget* ListView1;
  QPushButton* Button3;
  QPushButton* Button1;
  QPushButton* Button2;


protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void Mark(int row);
  int SelectedRow() const;

  TDeviceHost& Host;
  TNoticeWindow& Notice;
  TDeviceDialogOptions Options;
  bool Changed = false;
};

}  // namespace brontel
