// The message list as a Qt item model: one row per stored message (its best
// copy), the columns the message window shows, and a filter over them. The
// model knows no widget and is driven by tests without a display.
//
// A message is "new" until it is opened or a day has passed since it was
// first received. Characters received with a confidence below
// DoubtfulBelow are shown as doubtful.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>

#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "messages/message.h"

namespace brontel {

// How long a message not opened stays new, in seconds.
inline constexpr double NewForSeconds = 24.0 * 3600.0;
// A character whose probability of being right is below this is marked as
// doubtful in the text pane. At 0.6 about one marked character in three is
// in fact wrong on weak signals, and almost every wrong one is marked.
inline constexpr float DoubtfulBelow = 0.6f;

bool IsNew(const msg::TMessage& m, double now);

// A subject indicator's meaning and a message's state, in the interface
// language (the subject empty for letters without an assigned subject).
QString SubjectText(char b2);
QString StatusText(msg::TStatus status);

// The message text as HTML for the text pane: characters below
// DoubtfulBelow (and erasures) in a <span class="doubt">, lost stretches as
// "[n lost]", line ends as <br>. Text outside ASCII is escaped.
QString MessageHtml(const msg::TMessage& m);

class TMessageListModel final : public QAbstractTableModel {
public:
  enum TColumn { Received, Local, Ident, Station, Subject, Error, Status, Copies, New, ColumnCount };
  // The role holding a column's value for sorting (numbers as numbers).
  static constexpr int SortRole = Qt::UserRole + 1;

  explicit TMessageListModel(QObject* parent = nullptr);

  // The station's name for a message (null or empty: the letter).
  void SetStationNamer(std::function<std::string(const msg::TMessage&)> namer);
  // The clock, seconds since the epoch (for "new"); tests set their own.
  void SetClock(std::function<double()> clock);
  double Now() const { return Clock(); }

  // Replaces the rows.
  void SetMessages(std::vector<msg::TMessage> messages);
  // A message received now: the row of its stored message is replaced (a
  // repeat), else a row is added. The listener's marks already on the row
  // stay. Returns its row.
  int Arrived(const msg::TMessage& m);

  const msg::TMessage& At(int row) const { return Rows.at(static_cast<std::size_t>(row)).Message; }
  // The text of row `row` in UTF-8 with lines joined by spaces (for the text filter).
  const QString& SearchText(int row) const { return Rows.at(static_cast<std::size_t>(row)).Search; }
  QString StationName(int row) const { return Rows.at(static_cast<std::size_t>(row)).StationName; }
  void SetOpened(int row, bool on);
  void SetKept(int row, bool on);
  // Every row marked opened; returns the store numbers of those that were not.
  std::vector<int64_t> MarkAllOpened();
  // Re-evaluates "new" (time passed).
  void Refresh();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
  struct TRow {
    msg::TMessage Message;
    QString Search;
    QString StationName;
  };
  TRow MakeRow(msg::TMessage m) const;
  void RowChanged(int row);

  std::vector<TRow> Rows;
  std::function<std::string(const msg::TMessage&)> Namer;
  std::function<double()> Clock;
};

// What the list shows.
struct TMessageFilter {
  std::bitset<26> Stations = std::bitset<26>().set();  // B1 letters shown
  std::bitset<26> Subjects = std::bitset<26>().set();  // B2 letters shown
  QString Text;                       // words the text or identity contains (any case)
  std::optional<double> Since;        // first received at or after, UTC
  bool NewOnly = false;
  bool ShowAll = false;               // also messages outside the selection
};

// Whether row `row` of `model` passes `filter`. A message whose station or
// subject is unknown passes the letter filters.
bool Passes(const TMessageFilter& filter, const TMessageListModel& model, int row);

class TMessageFilterModel final : public QSortFilterProxyModel {
public:
  explicit TMessageFilterModel(QObject* parent = nullptr);
  void SetFilter(const TMessageFilter& filter);
  const TMessageFilter& Filter() const { return Current; }

protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
  TMessageFilter Current;
};

}  // namespace brontel
