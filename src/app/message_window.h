// The message window: the received messages as a list, the selected one's
// text below it, and a place at the bottom for the receiver's status line.
// It is a window of its own beside the main window (whose layout it leaves
// alone), opened from the memo's menu or with Ctrl+M; closing it only hides
// it. Its place, size, split and column widths are kept in the settings file
// under [MessageWindow].
#pragma once

#include <QCoreApplication>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/atomic_file.h"
#include "app/message_window_settings.h"
#include "messages/message.h"

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableView;
class QTextBrowser;
class QTimer;

namespace brontel::msg {
class TMessageStore;
}
namespace brontel::stations {
class TStationResolver;
struct TSelection;
}

namespace brontel {

struct TMessageWindowOptions {
  std::string SettingsPath;  // the settings file (shared with the main window)
  TFileWriteCalls FileWrites = SystemFileWriteCalls();
  // Shows a failure (the settings file cannot be written). Null: a message box.
  std::function<void(QWidget* parent, const QString& text)> ShowError;
  // The window it opens beside the first time (null: the top-left corner).
  QWidget* Beside = nullptr;
  // The listener changed the selection of stations and subjects (already
  // written to the settings file).
  std::function<void(const stations::TSelection&)> SelectionChanged;
};

class TAlarm;
class TMessageListModel;
class TMessageFilterModel;

class TMessageWindow final : public QWidget {
  Q_DECLARE_TR_FUNCTIONS(TMessageWindow)

public:
  explicit TMessageWindow(TMessageWindowOptions options, QWidget* parent = nullptr);
  ~TMessageWindow() override;

  // Puts `line` at the bottom of the window (the window takes it over); an
  // earlier one is deleted. Null removes it.
  void SetStatusLine(QWidget* line);
  QWidget* StatusLine() const { return Status; }

  // Reads the messages of the store at `location` (empty: none; the list
  // then holds what arrives in this run). Marks the user sets (opened, kept)
  // are written to it. A store that cannot be read is said in the text pane.
  void SetStore(const std::string& location);
  // A message the receiver has just finished (a repeat updates its row).
  void MessageReceived(const msg::TMessage& m);
  // Shows `alarm`'s banner at the top of the window.
  void SetAlarm(TAlarm& alarm);

  // The list's model and filter, for tests.
  TMessageListModel* Model() const { return ListModel; }
  TMessageFilterModel* Proxy() const { return Filtered; }
  // The message shown in the text pane (null: none).
  const msg::TMessage* Shown() const;
  // Marks every listed message as read.
  void MarkAllRead();
  // Opens the selection dialog (not modal); it is a child named
  // "SelectionDialog" while open.
  void EditSelection();

  // Shows the window (at its stored place the first time), raised and active.
  void Open();
  // Whether it was open when the program last ended.
  bool WasOpen() const { return Stored.Open; }

  // Writes the window's place, size, split and column widths; `open` is
  // whether it is to open at the next start. A failure is shown. Nothing is
  // written for a window never opened whose keys the file does not hold
  // yet, so the file of someone who never opened it stays as it was.
  bool SaveSettings(bool open);
  bool SaveSettings() { return SaveSettings(isVisible()); }

  // The parts, for the main window and tests.
  QTableView* List() const { return ListView; }
  QTextBrowser* TextPane() const { return Text; }
  QWidget* BannerArea() const { return Banner; }
  QLineEdit* SearchBox() const { return Search; }
  QLineEdit* StationsBox() const { return StationFilter; }
  QLineEdit* SubjectsBox() const { return SubjectFilter; }
  QComboBox* SinceBox() const { return Since; }
  QCheckBox* NewOnlyBox() const { return NewOnly; }
  QCheckBox* ShowAllBox() const { return ShowAll; }
  QCheckBox* KeepBox() const { return Keep; }
  QPushButton* CopiesButton() const { return CopiesToggle; }
  const TMessageWindowSettings& Settings() const { return Stored; }

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void BuildControls();
  void Place();
  void CollectSettings(TMessageWindowSettings& s) const;
  void ApplyFilter();
  void ShowSelected();
  void SetMark(int row, bool kept, bool on);
  bool Writable(std::string& error);
  bool Readable(std::string& error);
  QString CopiesHtml(const msg::TMessage& m);

  TMessageWindowOptions Options;
  TMessageWindowSettings Stored;
  bool Placed = false;  // shown once: its own geometry counts from then on
  // How it looked when it opened by itself at the first start: while nothing
  // differs from it, nothing is written, and the next start opens it alike.
  std::optional<TMessageWindowSettings> FirstLook;
  QWidget* Banner = nullptr;
  QSplitter* Split = nullptr;
  QTableView* ListView = nullptr;
  QTextBrowser* Text = nullptr;
  QBoxLayout* StatusLayout = nullptr;
  QWidget* Status = nullptr;
  QLineEdit* Search = nullptr;
  QLineEdit* StationFilter = nullptr;
  QLineEdit* SubjectFilter = nullptr;
  QComboBox* Since = nullptr;
  QCheckBox* NewOnly = nullptr;
  QCheckBox* ShowAll = nullptr;
  QCheckBox* Keep = nullptr;
  QPushButton* CopiesToggle = nullptr;
  QPushButton* MarkAll = nullptr;
  QPushButton* SelectionButton = nullptr;
  QTimer* Ticker = nullptr;  // "new" runs out with time
  TMessageListModel* ListModel = nullptr;
  TMessageFilterModel* Filtered = nullptr;
  std::string StoreLocation;
  std::unique_ptr<msg::TMessageStore> Reader, Writer;
  std::unique_ptr<stations::TStationResolver> Names;
  int ShownRow = -1;    // its row in the model
};

}  // namespace brontel
