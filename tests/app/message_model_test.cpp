// The message list's model and filter, without a window.
#include <gtest/gtest.h>

#include <QSortFilterProxyModel>

#include <set>
#include <string>
#include <vector>

#include "app/message_model.h"

namespace brontel {
namespace {

constexpr double Now = 1'800'000'000.0;
constexpr double Hour = 3600.0;

msg::TMessage Message(const std::string& id, double age, const std::string& text, int64_t storeId = 0)
{
  msg::TMessage m;
  m.Id = id;
  m.Station = id[0];
  m.Subject = id[1];
  m.Start = Now - age;
  m.Text = text;
  m.StoreId = storeId;
  return m;
}

std::vector<msg::TMessage> Sample()
{
  std::vector<msg::TMessage> v = {
      Message("KA01", 1 * Hour, "GALE WARNING\n34-10N 139-02E", 1),
      Message("KE02", 2 * Hour, "FORECAST MODERATE", 2),
      Message("XD03", 30 * Hour, "MAYDAY RELAY VESSEL ADRIFT", 3),
      Message("XA04", 3 * Hour, "BUOY UNLIT", 4),
      Message("*B05", 4 * Hour, "STORM", 5),  // station unknown
  };
  v[1].Selected = false;
  v[3].Opened = true;
  return v;
}

std::set<std::string> Listed(const TMessageFilter& filter)
{
  TMessageListModel model;
  model.SetClock([] { return Now; });
  model.SetMessages(Sample());
  std::set<std::string> ids;
  for (int row = 0; row < model.rowCount(); ++row)
    if (Passes(filter, model, row)) ids.insert(model.At(row).Id);
  return ids;
}

std::bitset<26> Letters(std::string_view s)
{
  std::bitset<26> b;
  for (char c : s) b.set(static_cast<std::size_t>(c - 'A'));
  return b;
}

TEST(MessageModel, TheFilterListsWhatItAsksFor)
{
  struct TCase {
    const char* Name;
    TMessageFilter Filter;
    std::set<std::string> Expected;
  };
  const auto with = [](auto change) {
    TMessageFilter f;
    change(f);
    return f;
  };
  const TCase cases[] = {
      {"default hides what is outside the selection", {}, {"KA01", "XD03", "XA04", "*B05"}},
      {"show all", with([](TMessageFilter& f) { f.ShowAll = true; }), {"KA01", "KE02", "XD03", "XA04", "*B05"}},
      {"station K (an unknown station passes)", with([](TMessageFilter& f) { f.Stations = Letters("K"); }),
       {"KA01", "*B05"}},
      {"subjects A and D", with([](TMessageFilter& f) { f.Subjects = Letters("AD"); }), {"KA01", "XD03", "XA04"}},
      {"new only: opened and a day old are not new", with([](TMessageFilter& f) { f.NewOnly = true; }),
       {"KA01", "*B05"}},
      {"the last 3 hours", with([](TMessageFilter& f) { f.Since = Now - 3 * Hour; }), {"KA01", "XA04"}},
      {"words in any case, all of them", with([](TMessageFilter& f) { f.Text = QStringLiteral("gale 139"); }),
       {"KA01"}},
      {"a word in the identity", with([](TMessageFilter& f) { f.Text = QStringLiteral("xd0"); }), {"XD03"}},
      {"a word nowhere", with([](TMessageFilter& f) { f.Text = QStringLiteral("gale fog"); }), {}},
      {"words across line ends", with([](TMessageFilter& f) { f.Text = QStringLiteral("WARNING 34-10N"); }),
       {"KA01"}},
  };
  for (const TCase& c : cases) EXPECT_EQ(Listed(c.Filter), c.Expected) << c.Name;
}

TEST(MessageModel, ARepeatUpdatesItsRowAndKeepsTheMarksOthersAddRows)
{
  TMessageListModel model;
  model.SetClock([] { return Now; });
  model.SetMessages(Sample());
  model.SetKept(0, true);
  model.SetOpened(0, true);

  msg::TMessage repeat = Message("KA01", 0.5 * Hour, "GALE WARNING 34-10N 139-02E", 1);
  repeat.Copies = 2;
  EXPECT_EQ(model.Arrived(repeat), 0);
  EXPECT_EQ(model.rowCount(), 5);
  EXPECT_TRUE(model.At(0).Kept && model.At(0).Opened);
  EXPECT_EQ(model.At(0).Copies, 2);

  // Not stored (a run without a store): a row each, even with the same identity.
  EXPECT_EQ(model.Arrived(Message("KA01", 0, "AGAIN")), 5);
  EXPECT_EQ(model.Arrived(Message("KA01", 0, "AGAIN")), 6);
  EXPECT_TRUE(IsNew(model.At(6), Now));

  // Mark all read: the store numbers of those that were not read yet.
  const std::vector<int64_t> ids = model.MarkAllOpened();
  EXPECT_EQ(ids, (std::vector<int64_t>{2, 3, 5}));
  for (int row = 0; row < model.rowCount(); ++row) EXPECT_FALSE(IsNew(model.At(row), Now)) << row;
}

TEST(MessageModel, SortsNewestFirstAndByNumberNotText)
{
  TMessageListModel model;
  model.SetClock([] { return Now; });
  std::vector<msg::TMessage> v = Sample();
  v[0].Cer = 0.10;
  v[1].Cer = 0.09;
  v[2].Cer = 0.5;
  model.SetMessages(v);
  TMessageFilterModel proxy;
  proxy.setSourceModel(&model);
  proxy.SetFilter([] {
    TMessageFilter f;
    f.ShowAll = true;
    return f;
  }());
  const auto order = [&](int column, Qt::SortOrder o) {
    proxy.sort(column, o);
    std::vector<std::string> ids;
    for (int row = 0; row < proxy.rowCount(); ++row)
      ids.push_back(proxy.index(row, TMessageListModel::Ident).data().toString().toStdString());
    return ids;
  };
  EXPECT_EQ(order(TMessageListModel::Received, Qt::DescendingOrder),
            (std::vector<std::string>{"KA01", "KE02", "XA04", "*B05", "XD03"}));
  EXPECT_EQ(order(TMessageListModel::Error, Qt::AscendingOrder).back(), "XD03");
  EXPECT_EQ(order(TMessageListModel::Error, Qt::DescendingOrder).at(1), "KA01") << "10 % above 9 %";
  // A message arriving now goes to the top.
  model.Arrived(Message("KB09", 0, "NEW"));
  EXPECT_EQ(order(TMessageListModel::Received, Qt::DescendingOrder).front(), "KB09");
}

TEST(MessageModel, DoubtfulCharactersAndLostStretchesAreMarked)
{
  msg::TMessage m;
  m.Text = "AB*D\nEF";
  // A sure, B just at the threshold (not doubtful), * an erasure, D below.
  m.Confidence = {0.99f, DoubtfulBelow, 0.9f, DoubtfulBelow - 0.01f, 0.99f, 0.99f};
  m.Gaps = {{5, 7, false}};
  const QString html = MessageHtml(m);
  const QString open = QStringLiteral("<span class=\"doubt\"");
  EXPECT_EQ(html.count(open), 1) << html.toStdString() << ": the erasure and D make one run";
  const qsizetype at = html.indexOf(open);
  EXPECT_GT(at, html.indexOf(QLatin1Char('B')));
  EXPECT_LT(html.indexOf(QStringLiteral("</span>"), at), html.indexOf(QStringLiteral("<br>")));
  EXPECT_TRUE(html.contains(QStringLiteral("[7 lost]"))) << html.toStdString();
  // Without confidences only erasures are marked.
  m.Confidence.clear();
  EXPECT_EQ(MessageHtml(m).count(open), 1);
  m.Text = "A<B&";
  m.Gaps.clear();
  EXPECT_TRUE(MessageHtml(m).contains(QStringLiteral("A&lt;B&amp;")));
}

}  // namespace
}  // namespace brontel
