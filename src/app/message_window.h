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
#include <string>

#include "app/atomic_file.h"
#include "app/message_window_settings.h"

class QBoxLayout;
class QSplitter;
class QTableView;
class QTextBrowser;

namespace brontel {

struct TMessageWindowOptions {
  std::string SettingsPath;  // the settings file (shared with the main window)
  TFileWriteCalls FileWrites = SystemFileWriteCalls();
  // Shows a failure (the settings file cannot be written). Null: a message box.
  std::function<void(QWidget* parent, const QString& text)> ShowError;
  // The window it opens beside the first time (null: the top-left corner).
  QWidget* Beside = nullptr;
};

class TMessageWindow final : public QWidget {
  Q_DECLARE_TR_FUNCTIONS(TMessageWindow)

public:
  explicit TMessageWindow(TMessageWindowOptions options, QWidget* parent = nullptr);
  ~TMessageWindow() override;

  // Puts `line` at the bottom of the window (the window takes it over); an
  // earlier one is deleted. Null removes it.
  void SetStatusLine(QWidget* line);
  QWidget* StatusLine() const { return Status; }

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
  const TMessageWindowSettings& Settings() const { return Stored; }

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void BuildControls();
  void Place();
  void CollectSettings(TMessageWindowSettings& s) const;

  TMessageWindowOptions Options;
  TMessageWindowSettings Stored;
  bool Placed = false;  // shown once: its own geometry counts from then on
  QWidget* Banner = nullptr;
  QSplitter* Split = nullptr;
  QTableView* ListView = nullptr;
  QTextBrowser* Text = nullptr;
  QBoxLayout* StatusLayout = nullptr;
  QWidget* Status = nullptr;
};

}  // namespace brontel
