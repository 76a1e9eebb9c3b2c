// The receiver's status in one line, for a listener who wants to know whether
// anything is heard: which input records and whether it does, how loud it is,
// whether a signal is present with its SNR and tuning offset, whether the
// decoder is synchronised, which service it hears and which decoder path the
// memo shows. The content is worked out by TStatusLineModel from what the
// session reports and the capture's state (no widget needed to test it); the
// widget TStatusLine shows it and offers the two actions in it: switching the
// memo's path, and moving the centre onto a signal heard off it.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "audio/wave_in.h"
#include "core/receiver_state.h"
#include "session/receiver_session.h"

class QLabel;
class QToolButton;

namespace brontel {

// Peak and average level of the input, and whether it clipped lately.
struct TInputLevel {
  double PeakDb = -120.0;     // dB below full scale, the held peak
  double AverageDb = -120.0;  // dB below full scale, the RMS of the last block
  bool Clipping = false;      // a sample reached full scale within the hold time
};

inline constexpr double SilentDb = -120.0;          // what digital silence reads as
inline constexpr double FarTooLowDb = -60.0;        // an average below this hardly carries a signal
inline constexpr double LevelHoldSeconds = 2.0;     // how long a peak and a clip are held

// Measures the level of the blocks of a stereo input (the left channel, which
// the receiver decodes). The peak falls back to the current one once it has
// been held for LevelHoldSeconds.
class TLevelMeter {
public:
  void Add(std::span<const int16_t> interleaved, double seconds);
  TInputLevel Level() const { return Now; }

private:
  TInputLevel Now;
  double PeakAge = 0.0, ClipAge = 1e9;
};

// Where the input is.
enum class TInputState : uint8_t {
  Recording,         // blocks arrive
  WaitingForServer,  // no sound server answers; tried again until one does
  Lost,              // the device is gone or no block came for a while; tried again
  Stopped,           // not recording, and not tried again (a refused format, no memory)
};

// The input's state from the capture's: `open` (a device is open),
// `retrying` (a failed open is tried again), the last open's result and how
// long ago the last block came (an open device that stopped delivering counts
// as lost after InputSilentSeconds).
inline constexpr double InputSilentSeconds = 1.5;
TInputState InputStateOf(bool open, bool retrying, TWaveResult lastOpen, double secondsSinceBlock);

// Service of a decoder status: the English or the Japanese broadcast.
enum class TService : uint8_t { English, Japanese };

class TStatusLineModel {
public:
  void SetInput(TInputState state, const QString& device);
  void SetLevel(const TInputLevel& level) { Level = level; }
  void SetStatus(const TReceiverStatus& status) { Status = status; }
  void SetPath(TDecoderPath path) { Path = path; }
  void SetCentF(double hz) { CentF = hz; }

  // The texts of the line's parts, in the interface language.
  QString InputText() const;
  QString LevelText() const;
  // What to do about the level, empty when it is fine.
  QString LevelHint() const;
  QString SignalText() const;
  QString SyncText() const;
  QString ServiceText() const;
  QString PathText() const;

  // The centre (Hz, on the window's 10 Hz steps, within its range) that puts
  // a signal heard off the set centre onto it; nothing while no signal is
  // heard or it lies within 10 Hz of the centre.
  std::optional<int> SuggestedCentF(int lowestHz, int highestHz) const;

  TInputState Input() const { return State; }
  const TInputLevel& InputLevel() const { return Level; }
  const TReceiverStatus& ReceiverStatus() const { return Status; }

private:
  TInputState State = TInputState::Stopped;
  QString Device;
  TInputLevel Level;
  TReceiverStatus Status;
  TDecoderPath Path = TDecoderPath::Exact;
  double CentF = 800.0;
};

// The level as a bar: the average filled, the peak as a tick, a red end when
// it clipped.
class TLevelBar final : public QWidget {
public:
  explicit TLevelBar(QWidget* parent = nullptr);
  void SetLevel(const TInputLevel& level);
  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  TInputLevel Level;
};

class TStatusLine final : public QWidget {
public:
  explicit TStatusLine(QWidget* parent = nullptr);

  // Shows the model's content (the window calls this about twice a second).
  void Show(const TStatusLineModel& model, int lowestHz, int highestHz);

  // The path button was clicked: show the other path in the memo.
  std::function<void()> OnSwitchPath;
  // The offer to move the centre was taken: the new centre in Hz.
  std::function<void(int centF)> OnMoveCentre;

  QLabel* InputLabel;
  TLevelBar* LevelBar;
  QLabel* LevelLabel;
  QLabel* HintLabel;  // what to do about the level, on a row of its own; hidden when it is fine
  QLabel* SignalLabel;
  QLabel* SyncLabel;
  QLabel* ServiceLabel;
  QToolButton* PathButton;
  QToolButton* MoveButton;

private:
  int Offered = 0;
};

}  // namespace brontel
