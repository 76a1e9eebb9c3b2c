// The alarm that waits: raised by a message the listener must see (search
// and rescue, or a subject the settings name), it sounds again and again and
// asks for the windows' attention until someone acknowledges it. Each window
// shows it as a banner (TAlarmBanner) naming the messages; acknowledging in
// any of them ends it everywhere.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "messages/message.h"

class QLabel;
class QPushButton;
class QTimer;

namespace brontel {

class TAlarm final : public QObject {
  Q_DECLARE_TR_FUNCTIONS(TAlarm)

public:
  struct TOptions {
    int RepeatMs = 3000;            // between sounds
    std::function<void()> Sound;    // one sound (null: the system beep)
    std::function<void()> Attention;  // asks for the windows' attention (null: nothing)
  };
  explicit TAlarm(TOptions options, QObject* parent = nullptr);
  ~TAlarm() override;

  // Raises the alarm for `m`: it sounds at once and then every RepeatMs. A
  // message it already waits for (the same stored message, or the same
  // identity when not stored) adds nothing.
  void Raise(const msg::TMessage& m);
  // Ends the alarm.
  void Acknowledge();

  bool Active() const { return !Waiting.empty(); }
  // What the banner says: the messages it waits for.
  QString Text() const;
  int Sounds() const { return SoundCount; }

  // Called after every change (raised, acknowledged).
  void OnChange(std::function<void()> f) { Listeners.push_back(std::move(f)); }

private:
  void Ring();
  void Changed();

  TOptions Options;
  QTimer* Timer = nullptr;
  std::vector<msg::TMessage> Waiting;
  std::vector<std::function<void()>> Listeners;
  int SoundCount = 0;
};

// A banner for one window: hidden while no alarm waits; else the alarm's
// text and a button to acknowledge it.
class TAlarmBanner final : public QWidget {
  Q_DECLARE_TR_FUNCTIONS(TAlarmBanner)

public:
  TAlarmBanner(TAlarm& alarm, QWidget* parent);
  QPushButton* AcknowledgeButton() const { return Button; }
  QLabel* Label() const { return Text; }

private:
  void Update();

  TAlarm& Alarm;
  QLabel* Text = nullptr;
  QPushButton* Button = nullptr;
};

}  // namespace brontel
