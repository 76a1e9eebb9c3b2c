#include "app/message_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

#include "app/recoding.h"
#include "app/settings.h"

namespace brontel {

namespace {

constexpr int DefaultWidth = 720;
constexpr int DefaultHeight = 560;

}  // namespace

TMessageWindow::TMessageWindow(TMessageWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window), Options(std::move(options))
{
  if (!Options.ShowError) {
    Options.ShowError = [](QWidget* parent, const QString& text) {
      QMessageBox::critical(parent, QStringLiteral("Brontel"), text);
    };
  }
  Stored = LoadMessageWindowSettings(Options.SettingsPath);
  BuildControls();
}

TMessageWindow::~TMessageWindow() = default;

void TMessageWindow::BuildControls()
{
  setObjectName(QStringLiteral("MessageWindow"));
  setWindowTitle(tr("Brontel messages"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(4);

  // The alarm's banner stands above everything while an alarm waits.
  Banner = new QWidget(this);
  Banner->setObjectName(QStringLiteral("BannerArea"));
  auto* bannerLayout = new QVBoxLayout(Banner);
  bannerLayout->setContentsMargins(0, 0, 0, 0);
  Banner->hide();
  layout->addWidget(Banner);

  Split = new QSplitter(Qt::Vertical, this);
  Split->setObjectName(QStringLiteral("MessageSplit"));
  Split->setChildrenCollapsible(false);
  ListView = new QTableView(Split);
  ListView->setObjectName(QStringLiteral("MessageList"));
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setSortingEnabled(true);
  ListView->setWordWrap(false);
  ListView->setAlternatingRowColors(true);
  ListView->verticalHeader()->hide();
  ListView->horizontalHeader()->setStretchLastSection(true);
  ListView->horizontalHeader()->setSectionsMovable(false);
  Text = new QTextBrowser(Split);
  Text->setObjectName(QStringLiteral("MessageText"));
  Text->setOpenLinks(false);
  Split->addWidget(ListView);
  Split->addWidget(Text);
  Split->setStretchFactor(0, 3);
  Split->setStretchFactor(1, 2);
  layout->addWidget(Split, 1);

  // The status line's place: empty until one is given.
  auto* statusArea = new QWidget(this);
  statusArea->setObjectName(QStringLiteral("StatusArea"));
  StatusLayout = new QHBoxLayout(statusArea);
  StatusLayout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(statusArea);
}

void TMessageWindow::SetStatusLine(QWidget* line)
{
  if (Status == line) return;
  delete Status;
  Status = line;
  if (line) StatusLayout->addWidget(line);
}

void TMessageWindow::Place()
{
  if (Placed) return;
  Placed = true;
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens.push_back(screen->availableGeometry());
  if (Stored.Placed()) {
    resize(std::clamp(Stored.Width, 200, MaxWindowCoordinate), std::clamp(Stored.Height, 150, MaxWindowCoordinate));
    move(VisiblePosition(QPoint(Stored.Left, Stored.Top), size(), screens));
  } else {
    // Beside the main window, where there is room; else over it.
    resize(DefaultWidth, DefaultHeight);
    const QWidget* main = Options.Beside ? Options.Beside->window() : nullptr;
    const QPoint at = main ? main->frameGeometry().topRight() + QPoint(8, 0) : QPoint(0, 0);
    move(VisiblePosition(at, size(), screens));
  }
  if (Stored.Split > 0) {
    const int total = std::max(Split->height(), Stored.Split + 60);
    Split->setSizes({Stored.Split, std::max(total - Stored.Split, 60)});
  }
}

void TMessageWindow::Open()
{
  Place();
  show();
  raise();
  activateWindow();
}

void TMessageWindow::CollectSettings(TMessageWindowSettings& s) const
{
  if (Placed) {
    s.Left = x();
    s.Top = y();
    s.Width = width();
    s.Height = height();
    s.Split = Split->sizes().value(0, s.Split);
  }
  const QHeaderView* header = ListView->horizontalHeader();
  if (header->count() > 0) {
    s.Columns.clear();
    for (int c = 0; c < header->count(); ++c) s.Columns.push_back(header->sectionSize(c));
  }
}

bool TMessageWindow::SaveSettings(bool open)
{
  if (!Placed && !Stored.InFile) return true;
  TMessageWindowSettings s = Stored;
  CollectSettings(s);
  s.Open = open;
  std::string reason;
  if (!SaveMessageWindowSettings(Options.SettingsPath, s, false, reason, Options.FileWrites)) {
    Options.ShowError(this, QString::fromStdString(CannotWriteMessage(Options.SettingsPath, reason)));
    return false;
  }
  Stored = s;
  Stored.InFile = true;
  return true;
}

void TMessageWindow::closeEvent(QCloseEvent* event)
{
  // Only hidden: it still follows the messages and opens again as it was.
  SaveSettings(false);
  event->accept();
}

}  // namespace brontel
