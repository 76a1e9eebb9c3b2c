#include "app/alarm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "app/message_model.h"

namespace brontel {

TAlarm::TAlarm(TOptions options, QObject* parent) : QObject(parent), Options(std::move(options))
{
  if (!Options.Sound) Options.Sound = [] { QApplication::beep(); };
  Timer = new QTimer(this);
  Timer->setInterval(std::max(Options.RepeatMs, 1));
  connect(Timer, &QTimer::timeout, this, [this] { Ring(); });
}

TAlarm::~TAlarm() = default;

void TAlarm::Raise(const msg::TMessage& m)
{
  const bool known = std::any_of(Waiting.begin(), Waiting.end(), [&](const msg::TMessage& w) {
    return m.StoreId != 0 ? w.StoreId == m.StoreId : w.StoreId == 0 && w.Id == m.Id;
  });
  if (known) return;
  Waiting.push_back(m);
  Ring();
  Timer->start();
  Changed();
}

void TAlarm::Acknowledge()
{
  if (Waiting.empty()) return;
  Waiting.clear();
  Timer->stop();
  Changed();
}

void TAlarm::Ring()
{
  ++SoundCount;
  Options.Sound();
  if (Options.Attention) Options.Attention();
}

void TAlarm::Changed()
{
  for (const auto& f : Listeners) f();
}

QString TAlarm::Text() const
{
  QStringList names;
  for (const msg::TMessage& m : Waiting) {
    names << QStringLiteral("%1 %2").arg(QString::fromStdString(m.Id.empty() ? std::string("-") : m.Id),
                                         SubjectText(m.Subject));
  }
  return tr("ALARM: %1").arg(names.join(QStringLiteral(", ")).trimmed());
}

TAlarmBanner::TAlarmBanner(TAlarm& alarm, QWidget* parent) : QWidget(parent), Alarm(alarm)
{
  setObjectName(QStringLiteral("AlarmBanner"));
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(0xc0, 0x10, 0x10));
  p.setColor(QPalette::WindowText, Qt::white);
  setPalette(p);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 2, 2, 2);
  Text = new QLabel(this);
  QFont bold = Text->font();
  bold.setBold(true);
  Text->setFont(bold);
  Button = new QPushButton(tr("Acknowledge"), this);
  Button->setObjectName(QStringLiteral("AcknowledgeAlarm"));
  layout->addWidget(Text, 1);
  layout->addWidget(Button);
  connect(Button, &QPushButton::clicked, this, [this] { Alarm.Acknowledge(); });
  // The banner may go before the alarm does.
  QPointer<TAlarmBanner> self(this);
  Alarm.OnChange([self] {
    if (self) self->Update();
  });
  Update();
}

void TAlarmBanner::Update()
{
  Text->setText(Alarm.Text());
  setVisible(Alarm.Active());
  if (Alarm.Active()) raise();
}

}  // namespace brontel
