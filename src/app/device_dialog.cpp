#include "app/device_dialog.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QThread>

#include <string>
#include <utility>
#include <vector>

#include "app/notice_window.h"
#include "app/window_fonts.h"
#include "audio/capture_engine.h"

namespace brontel {

namespace {

// The dialog's text in the interface language.
QString Tr(const char* text) { return QCoreApplication::translate("TDeviceDialog", text); }

QTableWidgetItem* Cell(const QString& text)
{
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

}  // namespace

TSoundSettingsProgram FindSoundSettingsProgram()
{
  // Recording levels first: pavucontrol's tab 4 holds the input devices.
  const TSoundSettingsProgram known[] = {
      {QStringLiteral("pavucontrol"), {QStringLiteral("--tab=4")}},
      {QStringLiteral("pavucontrol-qt"), {QStringLiteral("--tab=4")}},
      {QStringLiteral("pwvucontrol"), {}},
      {QStringLiteral("mate-volume-control"), {QStringLiteral("--page=input")}},
      {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
      {QStringLiteral("kcmshell6"), {QStringLiteral("kcm_pulseaudio")}},
      {QStringLiteral("kcmshell5"), {QStringLiteral("kcm_pulseaudio")}},
  };
  for (const TSoundSettingsProgram& p : known) {
    const QString path = QStandardPaths::findExecutable(p.Program);
    if (!path.isEmpty()) return {path, p.Arguments};
  }
  return {};
}

TDeviceDialog::TDeviceDialog(TDeviceHost& host, TNoticeWindow& notice, TWaveInDriver& driver,
                             TDeviceDialogOptions options, QWidget* parent)
    : QDialog(parent),
      ListView1(new QTableWidget(this)),
      Button3(new QPushButton(this)),
      Button1(new QPushButton(this)),
      Button2(new QPushButton(this)),
      Host(host),
      Notice(notice),
      Options(std::move(options))
{
  if (!Options.StartDetached) {
    Options.StartDetached = [](const QString& program, const QStringList& arguments) {
      return QProcess::startDetached(program, arguments);
    };
  }
  if (!Options.Pause) Options.Pause = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };

  setObjectName(QStringLiteral("Form8"));
  setWindowTitle(Tr("入力デバイス＆デコーダ動作の選択"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFont(PGothicFont(12));
  setFixedSize(331, 168);

  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setGeometry(8, 8, 313, 121);
  ListView1->setFont(GothicFont(12));
  ListView1->setColumnCount(2);
  ListView1->setHorizontalHeaderLabels({Tr("入力デバイス名"), Tr("選択")});
  ListView1->setColumnWidth(0, 240);
  ListView1->setColumnWidth(1, 40);
  ListView1->setShowGrid(true);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setWordWrap(false);
  ListView1->verticalHeader()->setVisible(false);
  ListView1->verticalHeader()->setDefaultSectionSize(ListView1->fontMetrics().height() + 2);
  ListView1->horizontalHeader()->setSectionsClickable(false);
  ListView1->horizontalHeader()->setHighlightSections(false);

  Button3->setObjectName(QStringLiteral("Button3"));
  Button3->setGeometry(8, 135, 146, 25);
  Button3->setText(Tr("サウンド設定"));
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(160, 135, 78, 25);
  Button1->setText(QStringLiteral("OK"));
  Button1->setDefault(true);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(244, 135, 77, 25);
  Button2->setText(Tr("キャンセル"));
  Button3->setAutoDefault(false);
  Button2->setAutoDefault(false);
  setTabOrder(ListView1, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);

  // Row 0, then one row per input device. InputDeviceNames stops at the first
  // device whose name cannot be read, so row − 1 is always the device id.
  std::vector<QString> captions{Tr(StandardDeviceCaption)};
  for (const std::string& name : InputDeviceNames(driver)) captions.push_back(QString::fromStdString(name));
  ListView1->setRowCount(static_cast<int>(captions.size()));
  for (int row = 0; row < static_cast<int>(captions.size()); ++row) {
    ListView1->setItem(row, 0, Cell(captions[static_cast<std::size_t>(row)]));
    ListView1->setItem(row, 1, Cell(QString::fromUtf8(NotInUseMark)));
  }

  connect(ListView1, &QTableWidget::itemSelectionChanged, this, [this] { ListView1Change(); });
  connect(ListView1, &QTableWidget::currentCellChanged, this, [this] { ListView1Change(); });
  connect(ListView1, &QTableWidget::itemChanged, this, [this] { ListView1Change(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

  // A stored row beyond the list (a device removed since) marks nothing: no
  // device is in use then, since its open has failed.
  Mark(Host.GetInputIndex());
  if (!Options.SoundSettings) Options.SoundSettings = FindSoundSettingsProgram();
  // Without a mixer the button would do nothing: it says what to install.
  const bool mixer = !Options.SoundSettings->Program.isEmpty();
  Button3->setEnabled(mixer);
  Button3->setToolTip(mixer ? QString()
                            : Tr("No mixer is installed: install pavucontrol to set the recording level"));
  Changed = false;
}

void TDeviceDialog::Mark(int row)
{
  for (int r = 0; r < ListView1->rowCount(); ++r)
    ListView1->item(r, 1)->setText(QString::fromUtf8(r == row ? InUseMark : NotInUseMark));
}

QString TDeviceDialog::DeviceName(int row) const
{
  return row > 0 && row < ListView1->rowCount() ? ListView1->item(row, 0)->text() : QString();
}

int TDeviceDialog::MarkedRow() const
{
  for (int r = 0; r < ListView1->rowCount(); ++r)
    if (ListView1->item(r, 1)->text() == QString::fromUtf8(InUseMark)) return r;
  return -1;
}

int TDeviceDialog::SelectedRow() const
{
  const QList<QTableWidgetItem*> selected = ListView1->selectedItems();
  return selected.isEmpty() ? -1 : selected.front()->row();
}

void TDeviceDialog::ListView1Change() { Changed = true; }

void TDeviceDialog::Button1Click()
{
  const int row = SelectedRow();
  // A change reported while no row is selected (only the focus moved) applies nothing.
  // Choosing the device in use leaves it running.
  if (Changed && row >= 0 && row != Host.GetInputIndex()) {
    Notice.ShowOver(this);
    QCoreApplication::processEvents();  // the notice is drawn; waiting blocks are processed
    Host.CloseCapture();
    Options.Pause(DeviceChangePauseMs);
    Host.SetInputIndex(row);
    if (Host.OpenCapture()) Mark(row);
    Notice.hide();
    Changed = false;
  }
  accept();
}

void TDeviceDialog::Button2Click() { reject(); }

void TDeviceDialog::Button3Click()
{
  const TSoundSettingsProgram& program = SoundSettings();
  if (!program.Program.isEmpty()) Options.StartDetached(program.Program, program.Arguments);
}

void TDeviceDialog::showEvent(QShowEvent* event)
{
  if (QWidget* main = Host.HostWindow()) CentreOver(*this, *main);
  QDialog::showEvent(event);
}

void TDeviceDialog::keyPressEvent(QKeyEvent* event)
{
  if (event->key() == Qt::Key_Escape) {  // Escape does not close this dialog
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace brontel
