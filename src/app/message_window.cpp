#include "app/message_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "app/alarm.h"
#include "app/message_model.h"
#include "app/recoding.h"
#include "app/settings.h"
#include "messages/store.h"
#include "stations/positions.h"
#include "stations/resolver.h"
#include "stations/selection.h"

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
  // Station names: the station list and where the listener is.
  std::vector<stations::TStation> list;
  std::string error;
  if (const std::string file = stations::FindStationFile(); !file.empty() && !stations::LoadStations(file, list, error))
    std::fprintf(stderr, "brontel: %s\n", error.c_str());
  stations::TListener listener;
  if (!Stored.Position.empty() && !stations::ParseListener(Stored.Position, listener, error))
    std::fprintf(stderr, "brontel: [Station] Position: %s\n", error.c_str());
  Names = std::make_unique<stations::TStationResolver>(std::move(list), listener);
  BuildControls();
}

TMessageWindow::~TMessageWindow() = default;

namespace {

// The frequency a message came in on, in kHz: as received, else the
// service's own.
double FrequencyOf(const msg::TMessage& m)
{
  if (m.Frequency) return *m.Frequency;
  return m.Service == msg::TService::Japanese ? 424.0 : 518.0;
}

}  // namespace

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

  // The filters above the list.
  auto* filters = new QHBoxLayout;
  Search = new QLineEdit(this);
  Search->setObjectName(QStringLiteral("SearchText"));
  Search->setPlaceholderText(tr("Search text"));
  Search->setClearButtonEnabled(true);
  StationFilter = new QLineEdit(this);
  StationFilter->setObjectName(QStringLiteral("StationFilter"));
  StationFilter->setPlaceholderText(tr("Stations"));
  StationFilter->setToolTip(tr("Station letters to list, e.g. \"EKO\" (empty: all)"));
  StationFilter->setMaximumWidth(90);
  SubjectFilter = new QLineEdit(this);
  SubjectFilter->setObjectName(QStringLiteral("SubjectFilter"));
  SubjectFilter->setPlaceholderText(tr("Subjects"));
  SubjectFilter->setToolTip(tr("Subject letters to list, e.g. \"ABDL\" (empty: all)"));
  SubjectFilter->setMaximumWidth(90);
  Since = new QComboBox(this);
  Since->setObjectName(QStringLiteral("SinceFilter"));
  Since->addItem(tr("Any time"), 0.0);
  Since->addItem(tr("Last 24 hours"), 24.0 * 3600.0);
  Since->addItem(tr("Last 3 days"), 72.0 * 3600.0);
  Since->addItem(tr("Last 7 days"), 7.0 * 24.0 * 3600.0);
  NewOnly = new QCheckBox(tr("New only"), this);
  NewOnly->setObjectName(QStringLiteral("NewOnly"));
  NewOnly->setChecked(Stored.NewOnly);
  ShowAll = new QCheckBox(tr("Show all"), this);
  ShowAll->setObjectName(QStringLiteral("ShowAll"));
  ShowAll->setToolTip(tr("Also list messages outside the selection of stations and subjects"));
  ShowAll->setChecked(Stored.ShowAll);
  MarkAll = new QPushButton(tr("Mark all read"), this);
  MarkAll->setObjectName(QStringLiteral("MarkAllRead"));
  filters->addWidget(Search, 1);
  filters->addWidget(StationFilter);
  filters->addWidget(SubjectFilter);
  filters->addWidget(Since);
  filters->addWidget(NewOnly);
  filters->addWidget(ShowAll);
  filters->addWidget(MarkAll);
  SelectionButton = new QPushButton(tr("Selection..."), this);
  SelectionButton->setObjectName(QStringLiteral("EditSelection"));
  SelectionButton->setToolTip(tr("Which stations and subjects to receive"));
  filters->addWidget(SelectionButton);
  layout->addLayout(filters);

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
  ListView->setTabKeyNavigation(false);  // Tab leaves the list
  ListView->verticalHeader()->hide();
  ListView->horizontalHeader()->setStretchLastSection(true);
  ListView->horizontalHeader()->setSectionsMovable(false);
  ListModel = new TMessageListModel(this);
  ListModel->SetStationNamer([this](const msg::TMessage& m) {
    return m.Station ? Names->Name(m.Station, FrequencyOf(m), m.Start) : std::string();
  });
  Filtered = new TMessageFilterModel(this);
  Filtered->setSourceModel(ListModel);
  ListView->setModel(Filtered);
  for (int c = 0; c < static_cast<int>(Stored.Columns.size()) && c < TMessageListModel::ColumnCount; ++c)
    ListView->setColumnWidth(c, Stored.Columns[static_cast<std::size_t>(c)]);
  // Newest first unless the user sorted otherwise.
  const bool ownSort = Stored.SortColumn >= 0 && Stored.SortColumn < TMessageListModel::ColumnCount;
  ListView->sortByColumn(ownSort ? Stored.SortColumn : TMessageListModel::Received,
                         ownSort && Stored.SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);

  auto* lower = new QWidget(Split);
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  auto* actions = new QHBoxLayout;
  Keep = new QCheckBox(tr("Keep"), lower);
  Keep->setObjectName(QStringLiteral("Keep"));
  Keep->setToolTip(tr("Tag this message to keep"));
  CopiesToggle = new QPushButton(tr("Copies"), lower);
  CopiesToggle->setObjectName(QStringLiteral("ShowCopies"));
  CopiesToggle->setCheckable(true);
  CopiesToggle->setToolTip(tr("Show every received copy of this message"));
  actions->addWidget(Keep);
  actions->addWidget(CopiesToggle);
  actions->addStretch(1);
  lowerLayout->addLayout(actions);
  Text = new QTextBrowser(lower);
  Text->setObjectName(QStringLiteral("MessageText"));
  Text->setOpenLinks(false);
  lowerLayout->addWidget(Text, 1);
  Split->addWidget(ListView);
  Split->addWidget(lower);
  Split->setStretchFactor(0, 3);
  Split->setStretchFactor(1, 2);
  layout->addWidget(Split, 1);

  // The status line's place: empty until one is given.
  auto* statusArea = new QWidget(this);
  statusArea->setObjectName(QStringLiteral("StatusArea"));
  StatusLayout = new QHBoxLayout(statusArea);
  StatusLayout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(statusArea);

  connect(Search, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(StationFilter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(SubjectFilter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(Since, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
  connect(NewOnly, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
  connect(ShowAll, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
  connect(MarkAll, &QPushButton::clicked, this, [this] { MarkAllRead(); });
  connect(SelectionButton, &QPushButton::clicked, this, [this] { EditSelection(); });
  // Selected, not merely current: the list taking the focus makes its first
  // row current, and that must not count as opening a message.
  connect(ListView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { ShowSelected(); });
  connect(Keep, &QCheckBox::clicked, this, [this](bool on) {
    if (ShownRow >= 0) SetMark(ShownRow, true, on);
  });
  connect(CopiesToggle, &QPushButton::toggled, this, [this] { ShowSelected(); });
  // A message stops being new a day after it came, and leaves a time range.
  Ticker = new QTimer(this);
  Ticker->setInterval(60 * 1000);
  connect(Ticker, &QTimer::timeout, this, [this] {
    ListModel->Refresh();
    // "New only" and the time range move on with the clock.
    if (NewOnly->isChecked() || Since->currentIndex() > 0) ApplyFilter();
  });
  Ticker->start();
  ApplyFilter();
}

void TMessageWindow::ApplyFilter()
{
  TMessageFilter f;
  std::string error;
  // Letters the field cannot read leave that filter open.
  if (!stations::ParseStations(StationFilter->text().toStdString(), f.Stations, error)) f.Stations.set();
  // Subjects as typed: here the mandatory ones are not added.
  std::bitset<26> subjects;
  bool anyLetter = false;
  for (const QChar c : SubjectFilter->text().toUpper())
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
      subjects.set(static_cast<std::size_t>(c.unicode() - 'A'));
      anyLetter = true;
    }
  f.Subjects = anyLetter ? subjects : std::bitset<26>().set();
  f.Text = Search->text().simplified();
  if (const double span = Since->currentData().toDouble(); span > 0.0) f.Since = ListModel->Now() - span;
  f.NewOnly = NewOnly->isChecked();
  f.ShowAll = ShowAll->isChecked();
  Filtered->SetFilter(f);
}

void TMessageWindow::EditSelection()
{
  if (auto* open = findChild<QDialog*>(QStringLiteral("SelectionDialog"))) {
    open->raise();
    return;
  }
  auto* dialog = new QDialog(this);
  dialog->setObjectName(QStringLiteral("SelectionDialog"));
  dialog->setWindowTitle(tr("Selection"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(dialog);
  auto* note = new QLabel(tr("Messages from other stations or of other subjects are stored but neither listed "
                             "nor announced. Subjects A, B, D and L are always received, and so is a message "
                             "numbered 00. Letters, or * for all."),
                          dialog);
  note->setWordWrap(true);
  layout->addWidget(note);
  auto* form = new QFormLayout;
  auto* stationsEdit = new QLineEdit(QString::fromStdString(Stored.Stations), dialog);
  stationsEdit->setObjectName(QStringLiteral("SelectionStations"));
  auto* subjectsEdit = new QLineEdit(QString::fromStdString(Stored.Subjects), dialog);
  subjectsEdit->setObjectName(QStringLiteral("SelectionSubjects"));
  form->addRow(tr("Stations (B1):"), stationsEdit);
  form->addRow(tr("Subjects (B2):"), subjectsEdit);
  layout->addLayout(form);
  auto* problem = new QLabel(dialog);
  problem->setObjectName(QStringLiteral("SelectionProblem"));
  problem->setStyleSheet(QStringLiteral("color: #a00000"));
  problem->hide();
  layout->addWidget(problem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, dialog, [=, this] {
    stations::TSelection selection;
    std::string error;
    // Said in the interface language, naming the box to correct.
    const bool stationsOk = stations::ParseStations(stationsEdit->text().toStdString(), selection.Stations, error);
    if (!stationsOk || !stations::ParseSubjects(subjectsEdit->text().toStdString(), selection.Subjects, error)) {
      problem->setText(stationsOk ? tr("Subjects: letters A to Z, * for all or - for none")
                                  : tr("Stations: letters A to Z, * for all or - for none"));
      problem->show();
      return;  // the dialog stays for a correction
    }
    TMessageWindowSettings s = Stored;
    CollectSettings(s);
    s.Open = isVisible();
    s.Stations = stations::FormatLetters(selection.Stations);
    s.Subjects = stations::FormatLetters(selection.Subjects);
    std::string reason;
    if (!SaveMessageWindowSettings(Options.SettingsPath, s, true, reason, Options.FileWrites)) {
      Options.ShowError(this, QString::fromStdString(CannotWriteMessage(Options.SettingsPath, reason)));
      return;
    }
    Stored = s;
    Stored.InFile = true;
    if (Options.SelectionChanged) Options.SelectionChanged(selection);
    dialog->accept();
  });
  dialog->open();
}

void TMessageWindow::SetAlarm(TAlarm& alarm)
{
  auto* banner = new TAlarmBanner(alarm, Banner);
  Banner->layout()->addWidget(banner);
  Banner->show();  // the banner hides itself while no alarm waits
}

void TMessageWindow::SetStore(const std::string& location)
{
  StoreLocation = location;
  Reader.reset();
  Writer.reset();
  std::vector<msg::TMessage> messages;
  std::string error;
  if (Readable(error) && !Reader->List({}, messages, error)) {
    Text->setPlainText(tr("The message store cannot be read: %1").arg(QString::fromStdString(error)));
    messages.clear();
  }
  ListModel->SetMessages(std::move(messages));
  ShownRow = -1;
}

bool TMessageWindow::Readable(std::string& error)
{
  if (Reader) return true;
  if (StoreLocation.empty()) return false;
  // A store not made yet (the first run) has nothing to list.
  Reader = msg::TMessageStore::Open(StoreLocation, msg::TMessageStore::TMode::Read, error);
  return Reader != nullptr;
}

void TMessageWindow::MessageReceived(const msg::TMessage& m)
{
  const int row = ListModel->Arrived(m);
  if (row == ShownRow) ShowSelected();
}

const msg::TMessage* TMessageWindow::Shown() const { return ShownRow >= 0 ? &ListModel->At(ShownRow) : nullptr; }

bool TMessageWindow::Writable(std::string& error)
{
  if (Writer) return true;
  if (StoreLocation.empty()) return false;
  Writer = msg::TMessageStore::Open(StoreLocation, msg::TMessageStore::TMode::Existing, error);
  return Writer != nullptr;
}

void TMessageWindow::SetMark(int row, bool kept, bool on)
{
  const msg::TMessage& m = ListModel->At(row);
  if ((kept ? m.Kept : m.Opened) == on) return;
  if (kept)
    ListModel->SetKept(row, on);
  else
    ListModel->SetOpened(row, on);
  if (m.StoreId == 0) return;  // kept in memory only
  std::string error;
  if (!Writable(error) || !Writer->SetMark(kept ? msg::TMark::Kept : msg::TMark::Opened, {m.StoreId}, on, error))
    std::fprintf(stderr, "brontel: %s\n", error.c_str());
}

void TMessageWindow::MarkAllRead()
{
  const std::vector<int64_t> ids = ListModel->MarkAllOpened();
  if (NewOnly->isChecked()) Filtered->invalidate();
  std::string error;
  if (!ids.empty() && (!Writable(error) || !Writer->SetMark(msg::TMark::Opened, ids, true, error)))
    std::fprintf(stderr, "brontel: %s\n", error.c_str());
}

QString TMessageWindow::CopiesHtml(const msg::TMessage& m)
{
  std::vector<msg::TMessage> copies;
  std::string error;
  if (m.StoreId == 0 || !Readable(error)) return tr("<p>Only this copy was received in this run.</p>");
  if (!Reader->Copies(m.StoreId, copies, error))
    return QStringLiteral("<p>%1</p>").arg(tr("The copies cannot be read: %1").arg(QString::fromStdString(error)).toHtmlEscaped());
  QString html;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    const msg::TMessage& c = copies[i];
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(c.Start * 1000.0), Qt::UTC);
    html += QStringLiteral("<hr><p><b>%1</b></p>")
                .arg(tr("Copy %1, %2 UTC, %3 path, receiver %4, errors %5 %")
                         .arg(i + 1)
                         .arg(at.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                         .arg(QString::fromStdString(c.Decoder), QString::fromStdString(c.Receiver))
                         .arg(c.Cer * 100.0, 0, 'f', 1)
                         .toHtmlEscaped());
    html += MessageHtml(c);
  }
  return html;
}

void TMessageWindow::ShowSelected()
{
  const QModelIndex current = ListView->selectionModel()->selectedRows().value(0);
  if (!current.isValid()) {
    ShownRow = -1;
    Text->clear();
    Keep->setChecked(false);
    return;
  }
  ShownRow = Filtered->mapToSource(current).row();
  // Opened: no longer new.
  SetMark(ShownRow, false, true);
  const msg::TMessage& m = ListModel->At(ShownRow);
  Keep->setChecked(m.Kept);
  QString html = QStringLiteral("<p><b>%1</b> &nbsp; %2</p>")
                     .arg(QString::fromStdString(m.Id.empty() ? std::string("-") : m.Id).toHtmlEscaped(),
                          ListModel->StationName(ShownRow).toHtmlEscaped());
  html += MessageHtml(m);
  const std::vector<stations::TPosition> positions = stations::FindPositions(m.Text);
  if (!positions.empty()) {
    QStringList points;
    for (const stations::TPosition& p : positions)
      points << QStringLiteral("%1, %2").arg(p.Point.Lat, 0, 'f', 4).arg(p.Point.Lon, 0, 'f', 4);
    html += QStringLiteral("<p><b>%1</b> %2</p>").arg(tr("Positions:").toHtmlEscaped(), points.join(QStringLiteral("; ")));
  }
  if (CopiesToggle->isChecked()) html += CopiesHtml(m);
  Text->setHtml(html);
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
  const bool first = !Placed && !Stored.InFile;
  Place();
  show();
  raise();
  activateWindow();
  if (first) {
    TMessageWindowSettings s = Stored;
    CollectSettings(s);
    FirstLook = s;
  }
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
  if (header->isSortIndicatorShown()) {
    s.SortColumn = header->sortIndicatorSection();
    s.SortAscending = header->sortIndicatorOrder() == Qt::AscendingOrder;
  }
  s.NewOnly = NewOnly->isChecked();
  s.ShowAll = ShowAll->isChecked();
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
  // Open as it opened at the first start, in the place it chose itself: the
  // file stays as it was (the next start opens it so again).
  const auto same = [&s](const TMessageWindowSettings& f) {
    return s.Width == f.Width && s.Height == f.Height && s.Split == f.Split && s.Columns == f.Columns &&
           s.SortColumn == f.SortColumn && s.SortAscending == f.SortAscending && s.NewOnly == f.NewOnly &&
           s.ShowAll == f.ShowAll;
  };
  if (!Stored.InFile && open && FirstLook && same(*FirstLook)) return true;
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
