// The message store shared by receivers in a PostgreSQL database: receivers
// storing one message at once, a writer killed in the middle of storing, a
// server stopped and started again under a running writer, and databases
// that are refused or only read.
#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "messages/store.h"
#include "messages/store_writer.h"
#include "pg_test_cluster.h"
#include "store_support.h"

namespace brontel::msg {
namespace {

using namespace test;
using namespace std::chrono_literals;

std::unique_ptr<TMessageStore> OpenStore(const std::string& uri, TMessageStore::TMode mode)
{
  std::string error;
  auto s = TMessageStore::Open(uri, mode, error);
  EXPECT_TRUE(s) << error;
  return s;
}

// Messages whose copies do not add up, or that lack their best copy.
std::string Inconsistent(const std::string& uri)
{
  return PgValue(uri, "SELECT count(*) FROM messages m WHERE best_copy IS NULL OR copies <>"
                      " (SELECT count(*) FROM copies c WHERE c.message_id = m.id)");
}

TEST(PgStore, FourReceiversStoringOneMessageAtOnceGiveOneMessageWithEveryCopy)
{
  ASSERT_TRUE(TPgCluster::Shared().Ok()) << "no PostgreSQL cluster could be started";
  // The first trial also finds the database empty: the four make its tables at once.
  const std::string uri = TPgCluster::Shared().NewDatabase("four");
  // Each receiver lost another character (each copy readable all the same);
  // together they heard all of it.
  const std::vector<std::string> heard = {"BUOY *NLIT 35-12N 006-40.5E", "BUOY U*LIT 35-12N 006-40.5E",
                                          "BUOY UNLIT *5-12N 006-40.5E", "BUOY UNLIT 35-1*N 006-40.5E"};
  for (int trial = 0; trial < 5; ++trial) {
    SCOPED_TRACE(trial);
    const std::string id = "OA1" + std::to_string(trial);
    const std::vector<int> statuses = test::InChildrenAtOnce(4, [&](int i) {
      std::string error;
      auto s = TMessageStore::Open(uri, TMessageStore::TMode::Create, error);
      TMessage copy = Received({"ZCZC " + id, heard[static_cast<std::size_t>(i)], "NNNN"}, Day0 + trial * Hour + i);
      copy.Receiver = "site" + std::to_string(i);
      copy.Frequency = 518.0;
      TMessage shown;
      return !s ? 1 : s->Add(copy, shown, error) ? 0 : 2;
    });
    for (const int status : statuses) EXPECT_EQ(status, 0) << "exit 1: open failed, 2: add failed";

    auto s = OpenStore(uri, TMessageStore::TMode::Read);
    ASSERT_TRUE(s);
    std::vector<TMessage> found, copies;
    std::string error;
    ASSERT_TRUE(s->Find(id, found, error)) << error;
    ASSERT_EQ(found.size(), 1u) << "one message, not one for each receiver";
    EXPECT_EQ(found[0].Copies, 4);
    EXPECT_EQ(found[0].Text, "BUOY UNLIT 35-12N 006-40.5E") << "the best of all four";
    ASSERT_TRUE(s->Copies(found[0].StoreId, copies, error)) << error;
    ASSERT_EQ(copies.size(), 4u);
    std::set<std::string> receivers;
    int firsts = 0;
    for (const TMessage& c : copies) {
      receivers.insert(c.Receiver);
      firsts += !c.Repeat;
      EXPECT_EQ(c.Frequency, 518.0);
    }
    EXPECT_EQ(receivers, (std::set<std::string>{"site0", "site1", "site2", "site3"}));
    EXPECT_EQ(firsts, 1);
  }
  EXPECT_EQ(Inconsistent(uri), "0");
}

TEST(PgStore, AWriterKilledWhileStoringLosesNothingItReportedStored)
{
  ASSERT_TRUE(TPgCluster::Shared().Ok()) << "no PostgreSQL cluster could be started";
  const std::string uri = TPgCluster::Shared().NewDatabase("killed");
  ASSERT_TRUE(OpenStore(uri, TMessageStore::TMode::Create));
  int report[2], go[2];
  ASSERT_EQ(::pipe(report), 0);
  ASSERT_EQ(::pipe(go), 0);
  const pid_t writer = ::fork();
  if (writer == 0) {
    std::string error;
    TMessage shown;
    auto s = TMessageStore::Open(uri, TMessageStore::TMode::Create, error);
    if (!s || !s->Add(Received({"ZCZC OA21", "GALE WARNING", "NNNN"}), shown, error)) ::_exit(1);
    (void)!::write(report[1], "A", 1);  // reported stored
    char c;
    (void)!::read(go[0], &c, 1);
    ::_exit(s->Add(Received({"ZCZC OA22", "ICE REPORT", "NNNN"}), shown, error) ? 0 : 2);
  }
  char c = 0;
  ASSERT_EQ(::read(report[0], &c, 1), 1);

  // Another program holds the copies table: the writer's second message
  // is inserted, and its copy waits, in the middle of its transaction.
  PGconn* holder = PQconnectdb(uri.c_str());
  ASSERT_EQ(PQstatus(holder), CONNECTION_OK);
  PQclear(PQexec(holder, "BEGIN; LOCK TABLE copies IN SHARE MODE"));
  (void)!::write(go[1], "B", 1);
  const std::string waiting = "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database()"
                              " AND wait_event_type = 'Lock' AND query LIKE 'INSERT INTO copies%'";
  bool stuck = false;
  for (int i = 0; i < 500 && !stuck; ++i, std::this_thread::sleep_for(20ms)) stuck = PgValue(uri, waiting) == "1";
  EXPECT_TRUE(stuck) << "the writer never reached the copy";
  ::kill(writer, SIGKILL);
  int status = 0;
  ::waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  PQclear(PQexec(holder, "COMMIT"));
  PQfinish(holder);

  auto s = OpenStore(uri, TMessageStore::TMode::Create);
  std::vector<TMessage> all;
  std::string error;
  ASSERT_TRUE(s->List({}, all, error)) << error;
  ASSERT_EQ(all.size(), 1u) << "the killed transaction left nothing";
  EXPECT_EQ(all[0].Id, "OA21");
  // The killed writer's locks went with it: the message is stored once now.
  TMessage shown;
  bool busy = false;
  EXPECT_TRUE(s->Add(Received({"ZCZC OA22", "ICE REPORT", "NNNN"}), shown, error, busy)) << error;
  EXPECT_FALSE(shown.Repeat);
  EXPECT_EQ(Inconsistent(uri), "0");
}

TEST(PgStore, AServerStoppedAndStartedAgainLosesNothing)
{
  TPgCluster own;  // stopped under the writer: a cluster of this test's own
  ASSERT_TRUE(own.Ok());
  const std::string uri = own.Uri("brontel");
  std::mutex m;
  std::vector<std::string> notices;
  TStoreWriterOptions o;
  o.Retry = {.BusyWait = 0.5, .FirstBackoff = 0.05, .MaxBackoff = 0.2, .NoticeEvery = 1.0, .DrainPatience = 30.0};
  o.OnNotice = [&](const std::string& text) {
    std::lock_guard lock(m);
    notices.push_back(text);
  };
  auto said = [&](const std::string& part) {
    std::lock_guard lock(m);
    for (const std::string& n : notices)
      if (n.find(part) != std::string::npos) return true;
    return false;
  };
  std::string error;
  auto w = TStoreWriter::Open(uri, o, error);
  ASSERT_TRUE(w) << error;
  w->Submit(Received({"ZCZC OA31", "BUOY *NLIT 35-12N 006-40.5E", "NNNN"}, Day0));
  w->Submit(Received({"ZCZC KD02", "MAYDAY RELAY", "NNNN"}, Day0 + 60));
  for (const TStoreOutcome& out : w->Drain()) EXPECT_TRUE(out.Stored) << out.Error;
  // A store connected before the server stops says it cannot reach it, and
  // connects again at once when it is back.
  auto direct = OpenStore(uri, TMessageStore::TMode::Existing);
  ASSERT_TRUE(direct);
  const TMessage ice = Received({"ZCZC OC01", "ICE", "NNNN"}, Day0 + 3 * Hour);
  TMessage shown;

  ASSERT_TRUE(own.Halt());
  EXPECT_FALSE(direct->Add(ice, shown, error));
  EXPECT_NE(error.find("cannot reach the message store"), std::string::npos) << error;
  const std::vector<std::vector<std::string>> meanwhile = {
      {"ZCZC OA31", "BUOY UNLIT 35-12N 006-40.5E", "NNNN"}, {"ZCZC OE77", "WIND NW 6", "NNNN"}, {"ZCZC OA00", "ALWAYS", "NNNN"}};
  for (std::size_t i = 0; i < meanwhile.size(); ++i) w->Submit(Received(meanwhile[i], Day0 + Hour + 60.0 * i));
  // A receiver started while the database is away waits for it too.
  auto late = TStoreWriter::Open(uri, o, error);
  ASSERT_TRUE(late) << error;
  late->Submit(Received({"ZCZC OB05", "NAVAREA I", "NNNN"}, Day0 + 2 * Hour));
  // Away for many attempts, said again while it lasts.
  for (int i = 0; i < 500 && !said("still unavailable"); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(said("still unavailable"));
  EXPECT_TRUE(w->TakeOutcomes().empty());
  EXPECT_TRUE(late->TakeOutcomes().empty());

  ASSERT_TRUE(own.Resume());
  const std::vector<TStoreOutcome> out = w->Drain();
  ASSERT_EQ(out.size(), meanwhile.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_TRUE(out[i].Stored) << i << ": " << out[i].Error;
    EXPECT_EQ(out[i].Shown.Id, meanwhile[i][0].substr(5)) << "in order of submission";
  }
  EXPECT_TRUE(out[0].Shown.Repeat);
  EXPECT_EQ(out[0].Shown.Text, "BUOY UNLIT 35-12N 006-40.5E");
  const std::vector<TStoreOutcome> lateOut = late->Drain();
  ASSERT_EQ(lateOut.size(), 1u);
  EXPECT_TRUE(lateOut[0].Stored) << lateOut[0].Error;
  EXPECT_TRUE(said("back after"));
  EXPECT_EQ(w->Failures() + late->Failures(), 0);

  std::vector<TMessage> all;
  auto s = OpenStore(uri, TMessageStore::TMode::Read);
  ASSERT_TRUE(s && s->List({}, all, error)) << error;
  std::string ids;
  for (const TMessage& msg : all) ids += msg.Id + " ";
  EXPECT_EQ(ids, "OA31 KD02 OE77 OA00 OB05 ");
  EXPECT_EQ(all[0].Copies, 2);
  EXPECT_TRUE(direct->Add(ice, shown, error)) << error;
}

TEST(PgStore, ForeignNewerMissingOrAwayDatabasesAreRefusedAndReadersMakeNothing)
{
  TPgCluster& cluster = TPgCluster::Shared();
  ASSERT_TRUE(cluster.Ok()) << "no PostgreSQL cluster could be started";
  const struct {
    const char* Name;
    std::string Setup;  // run on a new database first ("" for none)
    std::string Uri;    // "" for that database
    std::string Refusal;
    bool WriterWaits;   // the store writer opens it anyway and waits for it
  } cases[] = {
      {"another program's tables", "CREATE TABLE messages (name TEXT)", "", "another program", false},
      {"a newer schema", "CREATE TABLE brontel_schema (version INTEGER); INSERT INTO brontel_schema VALUES (99)", "",
       "newer", false},
      {"a database that does not exist", "", cluster.Uri("no_such_database"), "does not exist", false},
      {"no server", "", "postgresql://postgres:s3cret@/brontel?host=/nonexistent&port=1", "cannot reach", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string uri = c.Uri;
    if (uri.empty()) {
      uri = cluster.NewDatabase("refused");
      std::string error;
      ASSERT_TRUE(c.Setup.empty() || PgExec(uri, c.Setup, error)) << error;
    }
    const std::string tables = c.Uri.empty() ? PgValue(uri, "SELECT string_agg(relname, ' ' ORDER BY relname)"
                                                            " FROM pg_class WHERE relkind = 'r' AND relnamespace ="
                                                            " 'public'::regnamespace") : "";
    for (const auto mode : {TMessageStore::TMode::Read, TMessageStore::TMode::Create}) {
      std::string error;
      EXPECT_FALSE(TMessageStore::Open(uri, mode, error));
      EXPECT_NE(error.find(c.Refusal), std::string::npos) << error;
      EXPECT_EQ(error.find("s3cret"), std::string::npos) << "a password is never shown: " << error;
    }
    std::string error, notice;
    TStoreWriterOptions o;
    o.OnNotice = [&](const std::string& text) { notice += text; };
    EXPECT_EQ(TStoreWriter::Open(uri, o, error) != nullptr, c.WriterWaits) << error;
    if (c.WriterWaits) {
      EXPECT_NE(notice.find("unavailable"), std::string::npos) << notice;
    }
    if (c.Uri.empty()) {
      EXPECT_EQ(PgValue(uri, "SELECT string_agg(relname, ' ' ORDER BY relname) FROM pg_class WHERE relkind = 'r'"
                             " AND relnamespace = 'public'::regnamespace"),
                tables)
          << "left as it was";
    }
  }

  // A reader of an empty database finds no message and makes no table.
  const std::string empty = cluster.NewDatabase("empty");
  auto reader = OpenStore(empty, TMessageStore::TMode::Read);
  ASSERT_TRUE(reader);
  std::vector<TMessage> out;
  std::string error;
  EXPECT_TRUE(reader->List({}, out, error) && out.empty()) << error;
  TMessage shown;
  EXPECT_FALSE(reader->Add(Received({"ZCZC OA12", "X", "NNNN"}), shown, error));
  EXPECT_FALSE(reader->MarkSeen(out, error));
  EXPECT_EQ(PgValue(empty, "SELECT count(*) FROM pg_class WHERE relnamespace = 'public'::regnamespace"), "0");
}

}  // namespace
}  // namespace brontel::msg
