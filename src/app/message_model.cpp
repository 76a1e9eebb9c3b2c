#include "app/message_model.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFont>

#include <algorithm>
#include <ctime>

#include "decoder/cp932.h"

namespace brontel {

namespace {

QString Utf8(std::string_view cp932) { return QString::fromStdString(Cp932ToUtf8(cp932)); }

QString Tr(const char* text) { return QCoreApplication::translate("TMessageListModel", text); }

int LetterIndex(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' : -1; }

// The subjects' meanings as the messages library names them, listed for the
// translation tools.
[[maybe_unused]] const char* const SubjectNames[] = {
    QT_TRANSLATE_NOOP("TMessageListModel", "navigational warning"),
    QT_TRANSLATE_NOOP("TMessageListModel", "meteorological warning"),
    QT_TRANSLATE_NOOP("TMessageListModel", "ice report"),
    QT_TRANSLATE_NOOP("TMessageListModel", "search and rescue information, piracy warning"),
    QT_TRANSLATE_NOOP("TMessageListModel", "meteorological forecast"),
    QT_TRANSLATE_NOOP("TMessageListModel", "pilot service message"),
    QT_TRANSLATE_NOOP("TMessageListModel", "AIS message"),
    QT_TRANSLATE_NOOP("TMessageListModel", "LORAN message"),
    QT_TRANSLATE_NOOP("TMessageListModel", "satellite navigation message"),
    QT_TRANSLATE_NOOP("TMessageListModel", "other electronic navaid message"),
    QT_TRANSLATE_NOOP("TMessageListModel", "navigational warning (additional to A)"),
    QT_TRANSLATE_NOOP("TMessageListModel", "special service"),
    QT_TRANSLATE_NOOP("TMessageListModel", "no message on hand")};

}  // namespace

QString SubjectText(char b2)
{
  const std::string name(msg::SubjectName(b2));
  return name.empty() ? QString() : Tr(name.c_str());
}

QString StatusText(msg::TStatus status)
{
  switch (status) {
    case msg::TStatus::Complete: return Tr("complete");
    case msg::TStatus::NoTrailer: return Tr("no end (NNNN)");
    case msg::TStatus::HeaderErrors: return Tr("header errors");
    case msg::TStatus::NoHeader: return Tr("no header (ZCZC)");
  }
  return QStringLiteral("?");
}

bool IsNew(const msg::TMessage& m, double now) { return !m.Opened && now - m.Start < NewForSeconds; }

QString MessageHtml(const msg::TMessage& m)
{
  QString html;
  bool doubtOpen = false;
  const auto setDoubt = [&](bool on) {
    if (on == doubtOpen) return;
    html += on ? QStringLiteral("<span class=\"doubt\" style=\"background-color:#ffd27f;text-decoration:underline\">")
               : QStringLiteral("</span>");
    doubtOpen = on;
  };
  for (const msg::TUnit& u : msg::ToUnits(m.Text, m.Gaps, m.Confidence)) {
    switch (u.Kind) {
      case msg::TUnitKind::LineEnd:
        setDoubt(false);
        html += QStringLiteral("<br>");
        break;
      case msg::TUnitKind::Gap:
        setDoubt(false);
        html += QStringLiteral("<span class=\"lost\" style=\"color:#a00000\">[%1]</span>")
                    .arg(Tr("%1 lost").arg(u.Lost));
        if (u.Bytes == "\n") html += QStringLiteral("<br>");
        break;
      case msg::TUnitKind::Erasure:
        setDoubt(true);
        html += Utf8(u.Bytes).toHtmlEscaped();
        break;
      case msg::TUnitKind::Char:
        setDoubt(u.Confidence >= 0.0f && u.Confidence < DoubtfulBelow);
        html += u.Bytes == " " ? QStringLiteral("&nbsp;") : Utf8(u.Bytes).toHtmlEscaped();
        break;
    }
  }
  setDoubt(false);
  return QStringLiteral("<div style=\"font-family:monospace\">") + html + QStringLiteral("</div>");
}

// --- The list -------------------------------------------------------------------------

TMessageListModel::TMessageListModel(QObject* parent) : QAbstractTableModel(parent)
{
  Clock = [] { return static_cast<double>(std::time(nullptr)); };
}

void TMessageListModel::SetStationNamer(std::function<std::string(const msg::TMessage&)> namer)
{
  Namer = std::move(namer);
  for (TRow& r : Rows) r = MakeRow(std::move(r.Message));
  if (!Rows.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void TMessageListModel::SetClock(std::function<double()> clock) { Clock = std::move(clock); }

TMessageListModel::TRow TMessageListModel::MakeRow(msg::TMessage m) const
{
  TRow r;
  r.Search = Utf8(m.Text);
  r.Search.replace(QLatin1Char('\n'), QLatin1Char(' '));
  const std::string name = Namer ? Namer(m) : std::string();
  r.StationName = !name.empty() ? QString::fromStdString(name)
                  : m.Station      ? QString(QLatin1Char(m.Station))
                                   : QStringLiteral("?");
  r.Message = std::move(m);
  return r;
}

void TMessageListModel::SetMessages(std::vector<msg::TMessage> messages)
{
  beginResetModel();
  Rows.clear();
  Rows.reserve(messages.size());
  for (msg::TMessage& m : messages) Rows.push_back(MakeRow(std::move(m)));
  endResetModel();
}

int TMessageListModel::Arrived(const msg::TMessage& m)
{
  if (m.StoreId != 0) {
    const auto same = std::find_if(Rows.begin(), Rows.end(),
                                   [&](const TRow& r) { return r.Message.StoreId == m.StoreId; });
    if (same != Rows.end()) {
      msg::TMessage merged = m;
      merged.Opened = same->Message.Opened || m.Opened;
      merged.Kept = same->Message.Kept || m.Kept;
      merged.Selected = same->Message.Selected || m.Selected;
      *same = MakeRow(std::move(merged));
      const int row = static_cast<int>(same - Rows.begin());
      RowChanged(row);
      return row;
    }
  }
  const int row = rowCount();
  beginInsertRows({}, row, row);
  Rows.push_back(MakeRow(m));
  endInsertRows();
  return row;
}

void TMessageListModel::RowChanged(int row) { emit dataChanged(index(row, 0), index(row, ColumnCount - 1)); }

void TMessageListModel::SetOpened(int row, bool on)
{
  Rows.at(static_cast<std::size_t>(row)).Message.Opened = on;
  RowChanged(row);
}

void TMessageListModel::SetKept(int row, bool on)
{
  Rows.at(static_cast<std::size_t>(row)).Message.Kept = on;
  RowChanged(row);
}

std::vector<int64_t> TMessageListModel::MarkAllOpened()
{
  std::vector<int64_t> ids;
  for (TRow& r : Rows) {
    if (r.Message.Opened) continue;
    r.Message.Opened = true;
    if (r.Message.StoreId != 0) ids.push_back(r.Message.StoreId);
  }
  if (!Rows.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
  return ids;
}

void TMessageListModel::Refresh()
{
  if (!Rows.empty()) emit dataChanged(index(0, New), index(rowCount() - 1, New));
}

int TMessageListModel::rowCount(const QModelIndex& parent) const
{
  return parent.isValid() ? 0 : static_cast<int>(Rows.size());
}

int TMessageListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TMessageListModel::data(const QModelIndex& index, int role) const
{
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TRow& r = Rows[static_cast<std::size_t>(index.row())];
  const msg::TMessage& m = r.Message;
  const bool isNew = IsNew(m, Clock());
  if (role == Qt::FontRole && isNew) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (role == Qt::ToolTipRole && index.column() == Station && m.Station)
    return QStringLiteral("%1 (%2)").arg(r.StationName, QString(QLatin1Char(m.Station)));
  if (role != Qt::DisplayRole && role != SortRole) return {};
  const bool sort = role == SortRole;
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(m.Start * 1000.0), Qt::UTC);
  switch (index.column()) {
    case Received:
      return sort ? QVariant(m.Start) : QVariant(at.toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")));
    case Local:
      return sort ? QVariant(m.Start) : QVariant(at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    case Ident:
      return QString::fromStdString(m.Id.empty() ? std::string("-") : m.Id);
    case Station:
      return r.StationName;
    case Subject: {
      if (!m.Subject) return QStringLiteral("?");
      const QString name = SubjectText(m.Subject);
      if (sort || name.isEmpty()) return QString(QLatin1Char(m.Subject));
      return QStringLiteral("%1 %2").arg(QLatin1Char(m.Subject)).arg(name);
    }
    case Error:
      return sort ? QVariant(m.Cer) : QVariant(QStringLiteral("%1 %").arg(m.Cer * 100.0, 0, 'f', 1));
    case Status: {
      const QString s = StatusText(msg::StatusOf(m));
      return m.Selected ? s : QStringLiteral("%1, %2").arg(s, Tr("outside selection"));
    }
    case Copies:
      return sort ? QVariant(m.Copies) : QVariant(QString::number(m.Copies));
    case New:
      if (sort) return (isNew ? 2 : 0) + (m.Kept ? 1 : 0);
      return QStringLiteral("%1%2").arg(isNew ? Tr("new") : QString(), m.Kept ? QStringLiteral(" ★") : QString())
          .trimmed();
    default:
      return {};
  }
}

QVariant TMessageListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const names[] = {QT_TRANSLATE_NOOP("TMessageListModel", "Received (UTC)"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "Local time"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "Identity"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "Station"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "Subject"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "Errors"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "Status"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "Copies"),
                                      QT_TRANSLATE_NOOP("TMessageListModel", "New")};
  static_assert(std::size(names) == ColumnCount);
  return section >= 0 && section < ColumnCount ? Tr(names[section]) : QVariant();
}

// --- The filter -----------------------------------------------------------------------

bool Passes(const TMessageFilter& filter, const TMessageListModel& model, int row)
{
  const msg::TMessage& m = model.At(row);
  if (!filter.ShowAll && !m.Selected) return false;
  if (const int b1 = LetterIndex(m.Station); b1 >= 0 && !filter.Stations.test(static_cast<std::size_t>(b1)))
    return false;
  if (const int b2 = LetterIndex(m.Subject); b2 >= 0 && !filter.Subjects.test(static_cast<std::size_t>(b2)))
    return false;
  if (filter.Since && m.Start < *filter.Since) return false;
  if (filter.NewOnly && !IsNew(m, model.Now())) return false;
  // Every word must be in the text, the identity or the station's name.
  for (const QString& word : filter.Text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (model.SearchText(row).contains(word, Qt::CaseInsensitive)) continue;
    if (QString::fromStdString(m.Id).contains(word, Qt::CaseInsensitive)) continue;
    if (model.StationName(row).contains(word, Qt::CaseInsensitive)) continue;
    return false;
  }
  return true;
}

TMessageFilterModel::TMessageFilterModel(QObject* parent) : QSortFilterProxyModel(parent)
{
  setSortRole(TMessageListModel::SortRole);
  setDynamicSortFilter(true);
}

void TMessageFilterModel::SetFilter(const TMessageFilter& filter)
{
  Current = filter;
  invalidateFilter();
}

bool TMessageFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
  if (sourceParent.isValid()) return false;
  const auto* model = dynamic_cast<const TMessageListModel*>(sourceModel());
  return model && Passes(Current, *model, sourceRow);
}

}  // namespace brontel
