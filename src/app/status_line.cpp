#include "app/status_line.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace brontel {

namespace {

QString Tr(const char* text) { return QCoreApplication::translate("TStatusLine", text); }

double ToDb(double amplitude) { return amplitude > 0 ? std::max(SilentDb, 20.0 * std::log10(amplitude)) : SilentDb; }

}  // namespace

void TLevelMeter::Add(std::span<const int16_t> interleaved, double seconds)
{
  int peak = 0;
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < interleaved.size(); i += 2, ++n) {
    const int s = interleaved[i];
    peak = std::max(peak, std::abs(s));
    sum += static_cast<double>(s) * s;
  }
  if (n == 0) return;
  const double peakDb = ToDb(peak / 32768.0);
  PeakAge += seconds;
  if (peakDb >= Now.PeakDb || PeakAge >= LevelHoldSeconds) {
    Now.PeakDb = peakDb;
    PeakAge = 0;
  }
  ClipAge = peak >= 32767 ? 0.0 : ClipAge + seconds;
  Now.Clipping = ClipAge < LevelHoldSeconds;
  Now.AverageDb = ToDb(std::sqrt(sum / static_cast<double>(n)) / 32768.0);
}

TInputState InputStateOf(bool open, bool retrying, TWaveResult lastOpen, double secondsSinceBlock)
{
  if (open) return secondsSinceBlock < InputSilentSeconds ? TInputState::Recording : TInputState::Lost;
  if (lastOpen == TWaveResult::NoDriver) return TInputState::WaitingForServer;
  return retrying ? TInputState::Lost : TInputState::Stopped;
}

void TStatusLineModel::SetInput(TInputState state, const QString& device)
{
  State = state;
  Device = device;
}

QString TStatusLineModel::InputText() const
{
  switch (State) {
  case TInputState::Recording: return Tr("%1: recording").arg(Device);
  case TInputState::WaitingForServer: return Tr("Waiting for the sound server");
  case TInputState::Lost: return Tr("%1: lost, trying again").arg(Device);
  case TInputState::Stopped: break;
  }
  return Tr("%1: not recording").arg(Device);
}

QString TStatusLineModel::LevelText() const
{
  if (State != TInputState::Recording) return Tr("Level –");
  return Tr("Level %1 dB (peak %2 dB)").arg(std::lround(Level.AverageDb)).arg(std::lround(Level.PeakDb));
}

QString TStatusLineModel::LevelHint() const
{
  if (State != TInputState::Recording) return {};
  if (Level.Clipping) return Tr("The input clips: turn the receiver's audio or the input level down");
  if (Level.AverageDb < FarTooLowDb) return Tr("The input is far too quiet: check the input device and its level");
  return {};
}

QString TStatusLineModel::SignalText() const
{
  if (!Status.Robust) return {};
  if (!Status.Signal) return Tr("No signal");
  const long offset = std::lround(Status.OffsetHz);
  return Tr("Signal: SNR %1 dB, offset %2 Hz")
      .arg(std::lround(Status.SnrDb))
      .arg((offset > 0 ? QStringLiteral("+") : QString()) + QString::number(offset));
}

QString TStatusLineModel::SyncText() const
{
  return Status.Decoder.InSync ? Tr("Synchronised") : Tr("Not synchronised");
}

QString TStatusLineModel::ServiceText() const
{
  // Which broadcast it is, known once the decoder has locked on one.
  if (!Status.Decoder.InSync) return {};
  return Status.Decoder.EngMode ? Tr("English NAVTEX") : Tr("Japanese NAVTEX");
}

QString TStatusLineModel::PathText() const
{
  return Path == TDecoderPath::Robust ? Tr("Memo: robust path") : Tr("Memo: exact path");
}

std::optional<int> TStatusLineModel::SuggestedCentF(int lowestHz, int highestHz) const
{
  if (!Status.Robust || !Status.Signal || !std::isfinite(Status.OffsetHz) || std::abs(Status.OffsetHz) < 10.0)
    return std::nullopt;
  const int target = static_cast<int>(std::lround((CentF + Status.OffsetHz) / 10.0)) * 10;
  const int limited = std::clamp(target, lowestHz, highestHz);
  if (limited == static_cast<int>(std::lround(CentF))) return std::nullopt;
  return limited;
}

TLevelBar::TLevelBar(QWidget* parent) : QWidget(parent)
{
  setObjectName(QStringLiteral("LevelBar"));
  setMinimumSize(60, 10);
}

QSize TLevelBar::sizeHint() const { return {100, fontMetrics().height() - 2}; }

void TLevelBar::SetLevel(const TInputLevel& level)
{
  Level = level;
  update();
}

void TLevelBar::paintEvent(QPaintEvent*)
{
  // −60 … 0 dB from left to right.
  const auto at = [this](double db) {
    return static_cast<int>(std::lround(std::clamp((db + 60.0) / 60.0, 0.0, 1.0) * (width() - 1)));
  };
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Base));
  p.fillRect(QRect(0, 0, at(Level.AverageDb), height()), QColor(0x3C, 0xA0, 0x3C));
  p.fillRect(QRect(at(Level.PeakDb) - 1, 0, 2, height()), palette().color(QPalette::Text));
  if (Level.Clipping) p.fillRect(QRect(width() - 6, 0, 6, height()), Qt::red);
  p.setPen(palette().color(QPalette::Mid));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

TStatusLine::TStatusLine(QWidget* parent)
    : QWidget(parent),
      InputLabel(new QLabel(this)),
      LevelBar(new TLevelBar(this)),
      LevelLabel(new QLabel(this)),
      HintLabel(new QLabel(this)),
      SignalLabel(new QLabel(this)),
      SyncLabel(new QLabel(this)),
      ServiceLabel(new QLabel(this)),
      PathButton(new QToolButton(this)),
      MoveButton(new QToolButton(this))
{
  setObjectName(QStringLiteral("StatusLine"));
  InputLabel->setObjectName(QStringLiteral("StatusInput"));
  LevelLabel->setObjectName(QStringLiteral("StatusLevel"));
  HintLabel->setObjectName(QStringLiteral("StatusHint"));
  HintLabel->setStyleSheet(QStringLiteral("color: #B00000"));
  HintLabel->setWordWrap(true);
  HintLabel->hide();
  SignalLabel->setObjectName(QStringLiteral("StatusSignal"));
  SyncLabel->setObjectName(QStringLiteral("StatusSync"));
  ServiceLabel->setObjectName(QStringLiteral("StatusService"));
  PathButton->setObjectName(QStringLiteral("StatusPath"));
  MoveButton->setObjectName(QStringLiteral("StatusMoveCentre"));
  PathButton->setAutoRaise(true);
  PathButton->setToolTip(Tr("Click to show the other decoder path in the memo"));
  MoveButton->setToolTip(Tr("Moves the centre frequency onto the signal heard"));
  MoveButton->hide();
  LevelBar->setToolTip(Tr("Input level: average (bar), peak (tick), red when the input clips"));
  // Two rows, the input above and the signal below, so that a window of
  // ordinary width shows every part whole in either language; under them,
  // when the level is wrong, what to do about it.
  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(4, 2, 4, 2);
  rows->setSpacing(2);
  for (const auto& parts : {std::initializer_list<QWidget*>{InputLabel, LevelBar, LevelLabel},
                            std::initializer_list<QWidget*>{SignalLabel, SyncLabel, ServiceLabel, PathButton, MoveButton}}) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    for (QWidget* w : parts) row->addWidget(w);
    row->addStretch(1);
    rows->addLayout(row);
  }
  rows->addWidget(HintLabel);
  connect(PathButton, &QToolButton::clicked, this, [this] {
    if (OnSwitchPath) OnSwitchPath();
  });
  connect(MoveButton, &QToolButton::clicked, this, [this] {
    if (OnMoveCentre && Offered > 0) OnMoveCentre(Offered);
  });
}

void TStatusLine::Show(const TStatusLineModel& model, int lowestHz, int highestHz)
{
  InputLabel->setText(model.InputText());
  LevelBar->SetLevel(model.Input() == TInputState::Recording ? model.InputLevel() : TInputLevel{});
  LevelLabel->setText(model.LevelText());
  const QString hint = model.LevelHint();
  LevelLabel->setToolTip(hint);
  LevelLabel->setStyleSheet(hint.isEmpty() ? QString() : QStringLiteral("color: #B00000"));
  HintLabel->setText(hint);
  HintLabel->setVisible(!hint.isEmpty());
  SignalLabel->setText(model.SignalText());
  SyncLabel->setText(model.SyncText());
  ServiceLabel->setText(model.ServiceText());
  PathButton->setText(model.PathText());
  const std::optional<int> offer = model.SuggestedCentF(lowestHz, highestHz);
  Offered = offer.value_or(0);
  if (offer) MoveButton->setText(Tr("Tune to %1 Hz").arg(*offer));
  MoveButton->setVisible(offer.has_value());
}

}  // namespace brontel
