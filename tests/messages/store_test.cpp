// The message store, in a file and in a database (the cases that share a
// shape run on both): repeats across restarts, the repeat window, serial 00,
// headers with errors, every field kept, copies offered again, filters;
// damaged, foreign and newer files, programs creating one store at once,
// readers that change nothing, the best copy.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include <sqlite3.h>

#include "messages/store.h"
#include "pg_test_cluster.h"
#include "store_support.h"

namespace brontel::msg {
namespace {

namespace fs = std::filesystem;
using namespace test;

// A store file of its own, removed with its side files afterwards.
struct TTempStore {
  std::string Path;
  explicit TTempStore(const std::string& name)
      : Path((fs::temp_directory_path() / ("brontel-store-" + std::to_string(::getpid()) + "-" + name + ".sqlite")).string())
  {
    Remove();
  }
  ~TTempStore() { Remove(); }
  void Remove() const
  {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(Path + suffix);
  }
  std::unique_ptr<TMessageStore> Open() const
  {
    std::string error;
    auto s = TMessageStore::Open(Path, TMessageStore::TMode::Create, error);
    EXPECT_TRUE(s) << error;
    return s;
  }
};

TMessage Add(TMessageStore& s, const TMessage& copy)
{
  TMessage shown;
  std::string error;
  EXPECT_TRUE(s.Add(copy, shown, error)) << error;
  return shown;
}

std::vector<TMessage> All(TMessageStore& s)
{
  std::vector<TMessage> out;
  std::string error;
  EXPECT_TRUE(s.List({}, out, error)) << error;
  return out;
}

enum class TBackend { Sqlite, Postgres };
void PrintTo(TBackend b, std::ostream* os) { *os << (b == TBackend::Sqlite ? "SQLite" : "PostgreSQL"); }

// A store of each kind: a file of its own, or a database of its own in the
// tests' PostgreSQL cluster.
class StoreOnBoth : public ::testing::TestWithParam<TBackend> {
protected:
  void SetUp() override
  {
    if (GetParam() == TBackend::Sqlite) {
      File.emplace("both");
      Location = File->Path;
      return;
    }
    ASSERT_TRUE(TPgCluster::Shared().Ok()) << "no PostgreSQL cluster could be started";
    Location = TPgCluster::Shared().NewDatabase(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_FALSE(Location.empty());
  }
  std::unique_ptr<TMessageStore> Open(TMessageStore::TMode mode = TMessageStore::TMode::Create) const
  {
    std::string error;
    auto s = TMessageStore::Open(Location, mode, error);
    EXPECT_TRUE(s) << error;
    return s;
  }
  // Runs SQL on the store as another program would.
  void Sql(const std::string& forSqlite, const std::string& forPostgres) const
  {
    if (GetParam() == TBackend::Postgres) {
      std::string error;
      EXPECT_TRUE(PgExec(Location, forPostgres, error)) << error;
      return;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Location.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, forSqlite.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  std::optional<TTempStore> File;
  std::string Location;
};

INSTANTIATE_TEST_SUITE_P(Backends, StoreOnBoth, ::testing::Values(TBackend::Sqlite, TBackend::Postgres),
                         [](const auto& info) { return info.param == TBackend::Sqlite ? "Sqlite" : "Postgres"; });

TEST_P(StoreOnBoth, RepeatsAcrossRestartsAreMergedNotAnnounced)
{
  {
    auto s = Open();
    // One erasure in 27 characters: readable, so that later copies are repeats.
    const TMessage first = Add(*s, Received({"ZCZC OA12", "BUOY *NLIT 35-12N 006-40.5E", "NNNN"}, Day0));
    EXPECT_FALSE(first.Repeat);
  }
  auto s = Open();  // a new run of the program
  const TMessage second = Add(*s, Received({"ZCZC OA12", "BUOY UNLIT 35-*2N 006-40.5E", "NNNN"}, Day0 + 4 * Hour));
  EXPECT_TRUE(second.Repeat);
  EXPECT_EQ(second.Text, "BUOY UNLIT 35-12N 006-40.5E");
  EXPECT_EQ(second.Erasures, 0);

  const auto all = All(*s);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].Text, "BUOY UNLIT 35-12N 006-40.5E");
  EXPECT_EQ(all[0].Copies, 2);
  EXPECT_EQ(all[0].Start, Day0);  // the message keeps its first reception
  std::vector<TMessage> copies;
  std::string error;
  ASSERT_TRUE(s->Copies(all[0].StoreId, copies, error)) << error;
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[1].Text, "BUOY UNLIT 35-*2N 006-40.5E");  // every copy is kept as received
  EXPECT_TRUE(copies[1].Repeat);
}

TEST_P(StoreOnBoth, WhatIsNeverARepeat)
{
  auto s = Open();
  // Past the repeat window the identity is a new message.
  Add(*s, Received({"ZCZC OA13", "OLD", "NNNN"}, Day0));
  EXPECT_FALSE(Add(*s, Received({"ZCZC OA13", "NEW", "NNNN"}, Day0 + 73 * Hour)).Repeat);
  s->SetRepeatWindow(100 * Hour);
  EXPECT_TRUE(Add(*s, Received({"ZCZC OA13", "NEW", "NNNN"}, Day0 + 100 * Hour)).Repeat);
  s->SetRepeatWindow(DefaultRepeatWindow);
  // Serial 00 is always shown.
  Add(*s, Received({"ZCZC OA00", "ALWAYS", "NNNN"}, Day0));
  EXPECT_FALSE(Add(*s, Received({"ZCZC OA00", "ALWAYS", "NNNN"}, Day0 + Hour)).Repeat);
  // A header with errors neither suppresses nor is suppressed.
  Add(*s, Received({"ZC*C OA14", "GARBLED HEADER", "NNNN"}, Day0));
  EXPECT_FALSE(Add(*s, Received({"ZCZC OA14", "CLEAN", "NNNN"}, Day0 + Hour)).Repeat);
  EXPECT_FALSE(Add(*s, Received({"ZCZC OA1*", "CLEAN", "NNNN"}, Day0 + 2 * Hour)).Repeat);
  EXPECT_TRUE(Add(*s, Received({"ZCZC OA14", "CLEAN", "NNNN"}, Day0 + 3 * Hour)).Repeat);

  EXPECT_EQ(All(*s).size(), 7u);
  std::vector<TMessage> found;
  std::string error;
  ASSERT_TRUE(s->Find("OA13", found, error));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Copies, 2);  // newest first
}

TEST_P(StoreOnBoth, TheRepeatWindowRunsFromTheLastCopyAndTheStoredMessageIsTheMergedOne)
{
  // Copies of one identity, hours after the first: within 72 hours of the
  // newest copy so far (a copy decoded late from a recording moves nothing)
  // it is a repeat (each copy is readable: under 4 % wrong). What Add shows
  // is what the store reads back.
  auto s = Open();
  const struct {
    double Hours;
    const char* Line;
    bool Repeat;
    int Copies;
    const char* Text;
  } steps[] = {
      {0, "LIGHT BUOY *NLIT 35-12N 006-40.5E", false, 1, "LIGHT BUOY *NLIT 35-12N 006-40.5E"},
      {48, "LIGHT BUOY UNLIT 35-1*N 006-40.5E", true, 2, "LIGHT BUOY UNLIT 35-12N 006-40.5E"},
      {96, "LIGHT BU*Y UNLIT 35-12N 006-40.5E", true, 3, "LIGHT BUOY UNLIT 35-12N 006-40.5E"},
      {60, "LIGHT BUOY UNLIT 35-12N 006-40.5E", true, 4, "LIGHT BUOY UNLIT 35-12N 006-40.5E"},
      {168, "LIGHT BUOY UNL*T 35-12N 006-40.5E", true, 5, "LIGHT BUOY UNLIT 35-12N 006-40.5E"},
      {240.01, "LIGHT BUOY UNL*T 35-12N 006-40.5E", false, 1, "LIGHT BUOY UNL*T 35-12N 006-40.5E"},
  };
  std::string error;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Hours);
    const TMessage copy = Received({"ZCZC OA20", step.Line, "NNNN"}, Day0 + step.Hours * Hour);
    const TMessage shown = Add(*s, copy);
    EXPECT_EQ(shown.Repeat, step.Repeat);
    EXPECT_EQ(shown.Copies, step.Copies);
    EXPECT_EQ(shown.Text, step.Text);
    std::vector<TMessage> found;
    ASSERT_TRUE(s->Find("OA20", found, error)) << error;
    ASSERT_FALSE(found.empty());
    const TMessage& back = found[0];
    EXPECT_EQ(back.StoreId, shown.StoreId);
    EXPECT_EQ(back.Copies, shown.Copies);
    EXPECT_EQ(back.Text, shown.Text);
    EXPECT_EQ(back.Gaps, shown.Gaps);
    EXPECT_EQ(back.Trailer, shown.Trailer);
    EXPECT_EQ(std::tuple(back.Chars, back.Erasures, back.Suspicious, back.Lost, back.Cer),
              std::tuple(shown.Chars, shown.Erasures, shown.Suspicious, shown.Lost, shown.Cer));
    EXPECT_EQ(back.Start, Day0 + (step.Repeat ? 0.0 : step.Hours * Hour)) << "a message keeps its first reception";
    // The copy itself is kept as it was received.
    std::vector<TMessage> copies;
    ASSERT_TRUE(s->Copies(shown.StoreId, copies, error)) << error;
    ASSERT_EQ(copies.size(), static_cast<std::size_t>(step.Copies));
    EXPECT_EQ(copies.back().Text, copy.Text);
    EXPECT_EQ(copies.back().Repeat, step.Repeat);
    EXPECT_EQ(std::tuple(copies.back().Chars, copies.back().Erasures, copies.back().Cer),
              std::tuple(copy.Chars, copy.Erasures, copy.Cer));
  }
  EXPECT_EQ(All(*s).size(), 2u);
}

TEST_P(StoreOnBoth, ARepeatRepairsTheTextButTheMessageKeepsWhereAndWhenItWasFirstHeard)
{
  // The first copy with an erasure, heard on one receiver; a clean repeat an
  // hour later on another, with its confidences and selected. The message
  // takes the repaired text and its quality; where, when and how it was
  // first received stays. Unknown fields stay unknown.
  auto s = Open();
  TMessage first = Received({"ZCZC OA21", "LIGHT BUOY *NLIT 35-12N 006-40.5E", "NNNN"}, Day0);
  first.Receiver = "mast";
  first.Selected = false;
  first.Confidence.assign(first.Text.size(), 0.5f);
  TMessage repeat = Received({"ZCZC OA21", "LIGHT BUOY UNLIT 35-12N 006-40.5E", "NNNN"}, Day0 + Hour);
  repeat.Receiver = "roof";
  repeat.Channel = "right";
  repeat.Decoder = "robust";
  repeat.Offset = 30.5;
  repeat.Frequency = 490.0;
  repeat.Confidence.assign(repeat.Text.size(), 0.75f);
  Add(*s, first);
  const TMessage shown = Add(*s, repeat);
  ASSERT_TRUE(shown.Repeat);
  const TMessage back = All(*s).at(0);
  EXPECT_EQ(back.Text, "LIGHT BUOY UNLIT 35-12N 006-40.5E");
  EXPECT_EQ(back.Confidence, shown.Confidence);
  EXPECT_FALSE(back.Confidence.empty());
  EXPECT_EQ(std::tuple(back.Chars, back.Erasures, back.Cer, back.Selected),
            std::tuple(shown.Chars, 0, shown.Cer, true));
  EXPECT_EQ(std::tuple(back.Start, back.End, back.Receiver, back.Channel, back.Decoder),
            std::tuple(first.Start, first.End, first.Receiver, first.Channel, first.Decoder));
  EXPECT_FALSE(back.Offset || back.Frequency);
  EXPECT_EQ(std::tuple(back.Station, back.Subject, back.Serial), std::tuple('O', 'A', 21));
}

TEST(MessageStore, AFragmentIsStoredWithWhatIsUnknownLeftEmpty)
{
  // Text without a header: no station, subject or serial; no place in a
  // recording, frequency or confidences. Another program reading the store
  // finds NULL there, and the database refuses NULL wherever a message always
  // has a value.
  TTempStore file("fragment");
  auto s = file.Open();
  const TMessage shown = Add(*s, Received({"HEAVY SWELL EXPECTED IN THE STRAIT"}));
  const TMessage back = All(*s).at(0);
  EXPECT_EQ(back.Text, "HEAVY SWELL EXPECTED IN THE STRAIT");
  EXPECT_EQ(std::tuple(back.HasHeader, back.Station, back.Subject, back.Serial), std::tuple(false, '\0', '\0', -1));
  EXPECT_FALSE(back.Offset || back.Frequency);
  s.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.Path.c_str(), &db), SQLITE_OK);
  const std::vector<std::string> unknown{"station", "subject", "serial", "start_offset", "frequency", "confidence"};
  for (const char* table : {"messages", "copies"}) {
    std::vector<std::string> nullable, want{"id"};
    want.insert(want.end(), unknown.begin(), unknown.end());
    want.emplace_back(table == std::string("messages") ? "best_copy" : "copy_key");
    sqlite3_stmt* st = nullptr;
    const std::string sql = "PRAGMA table_info(" + std::string(table) + ")";
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW)
      if (sqlite3_column_int(st, 3) == 0)  // notnull
        nullable.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
    sqlite3_finalize(st);
    EXPECT_EQ(nullable, want) << table;
  }
  sqlite3_close(db);
}

TEST(MessageStore, DamagedForeignOrNewerFilesAreRefusedAndLeftAlone)
{
  TTempStore file("damaged");
  std::string error;
  auto refused = [&](const std::string& why) {
    const std::string before = Bytes(file.Path);
    for (const auto mode : {TMessageStore::TMode::Read, TMessageStore::TMode::Create}) {
      error.clear();
      EXPECT_FALSE(TMessageStore::Open(file.Path, mode, error)) << why;
      EXPECT_NE(error.find(file.Path), std::string::npos) << why << ": " << error;
      EXPECT_EQ(Bytes(file.Path), before) << why;
    }
    return error;
  };

  std::ofstream(file.Path) << "notes, not a database\n";
  EXPECT_NE(refused("text file").find("not an SQLite database"), std::string::npos) << error;

  // Another program's database.
  file.Remove();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.Path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE contacts (name TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_NE(refused("another program's database").find("another program"), std::string::npos) << error;

  // A real store with a page overwritten.
  file.Remove();
  {
    auto s = file.Open();
    for (int i = 1; i <= 40; ++i)
      Add(*s, Received({"ZCZC OA" + std::string(i < 10 ? "0" : "") + std::to_string(i), std::string(300, 'X'), "NNNN"}, Day0));
  }
  {
    std::fstream f(file.Path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4096 + 8);
    const std::string junk(400, '\xA5');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  refused("overwritten page");

  // A store written by a newer schema: the user version in the header is 99.
  file.Remove();
  file.Open();
  {
    std::fstream f(file.Path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(60);
    f.write("\0\0\0\x63", 4);
  }
  EXPECT_NE(refused("newer schema").find("newer"), std::string::npos) << error;
}

}  // namespace
}  // namespace brontel::msg

namespace brontel::msg {
namespace {

// Makes the store at `path` one of schema `version`: the columns added since
// dropped, the schema number set back.
void MakeOlder(const std::string& path, int version)
{
  std::string sql;
  if (version < 5)
    sql += "ALTER TABLE messages DROP COLUMN selected; ALTER TABLE copies DROP COLUMN selected;"
           "ALTER TABLE messages DROP COLUMN opened; ALTER TABLE messages DROP COLUMN kept;";
  if (version < 4) sql += "ALTER TABLE messages DROP COLUMN confidence; ALTER TABLE copies DROP COLUMN confidence;";
  if (version < 3)
    sql += "DROP INDEX copies_key; ALTER TABLE copies DROP COLUMN copy_key;"
           "ALTER TABLE messages DROP COLUMN receiver; ALTER TABLE copies DROP COLUMN receiver;"
           "ALTER TABLE messages DROP COLUMN frequency; ALTER TABLE copies DROP COLUMN frequency;";
  if (version < 2) sql += "ALTER TABLE messages DROP COLUMN channel; ALTER TABLE copies DROP COLUMN channel;";
  sql += "PRAGMA user_version = " + std::to_string(version) + ";";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(MessageStore, AStoreFromBeforeChannelsIsMigratedAndKeepsItsMessages)
{
  for (const int version : {1, 2, 3}) {
    SCOPED_TRACE(version);
    TTempStore t("migrate");
    {
      auto s = t.Open();
      Add(*s, Received({"ZCZC OA12", "GALE WARNING", "NNNN"}, Day0));
    }
    MakeOlder(t.Path, version);

    auto s = t.Open();
    ASSERT_TRUE(s);
    TMessage right = Received({"ZCZC OB03", "ICE REPORT", "NNNN"}, Day0 + Hour);
    right.Channel = "right";
    right.Receiver = "north";
    right.Frequency = 490.0;
    Add(*s, right);
    // A repeat of the message from before finds it and carries its receiver.
    TMessage again = Received({"ZCZC OA12", "GALE WARNING", "NNNN"}, Day0 + 2 * Hour);
    again.Receiver = "south";
    EXPECT_TRUE(Add(*s, again).Repeat);
    const auto all = All(*s);
    ASSERT_EQ(all.size(), 2u);
    for (const TMessage& m : all) EXPECT_EQ(m.Channel, m.Id == "OB03" ? "right" : "left") << m.Id;
    EXPECT_EQ(all[1].Receiver, "north");
    EXPECT_EQ(all[1].Frequency, 490.0);
    std::vector<TMessage> copies;
    std::string error;
    ASSERT_TRUE(s->Copies(all[0].StoreId, copies, error)) << error;
    ASSERT_EQ(copies.size(), 2u);
    // Not known for a copy from before receivers were kept.
    EXPECT_EQ(copies[0].Receiver, version < 3 ? "" : HostName());
    EXPECT_FALSE(copies[0].Frequency);
    EXPECT_EQ(copies[1].Receiver, "south");
    // Messages from before were all inside the selection and are unmarked;
    // the marks can be set on them.
    for (const TMessage& m : all) EXPECT_TRUE(m.Selected && !m.Opened && !m.Kept) << m.Id;
    ASSERT_TRUE(s->SetMark(TMark::Kept, {all[0].StoreId}, true, error)) << error;
    EXPECT_TRUE(All(*s).at(0).Kept);
  }
}

}  // namespace
}  // namespace brontel::msg

namespace brontel::msg {
namespace {

TEST(MessageStore, ProgramsCreatingOneStoreAtOnceAllStoreTheirMessages)
{
  for (int trial = 0; trial < 5; ++trial) {
    SCOPED_TRACE(trial);
    TTempStore file("race");
    // Six programs started together: four store a message, two read.
    const std::vector<int> statuses = test::InChildrenAtOnce(6, [&](int i) {
      std::string error;
      TMessage shown;
      // A reader sees the store not there yet or whole, never another program's.
      for (int k = 0; i >= 4 && k < 50; ++k)
        if (!TMessageStore::Open(file.Path, TMessageStore::TMode::Read, error) &&
            error.find("no message store") == std::string::npos)
          return 3;
      auto s = i >= 4 ? nullptr : TMessageStore::Open(file.Path, TMessageStore::TMode::Create, error);
      return i >= 4 ? 0 : !s ? 1 : s->Add(Received({"ZCZC OA1" + std::to_string(i), "GALE", "NNNN"}), shown, error) ? 0 : 2;
    });
    for (const int status : statuses) EXPECT_EQ(status, 0) << "exit 1: open failed, 2: add failed, 3: a reader was refused";
    EXPECT_EQ(All(*file.Open()).size(), 4u);
  }
}

TEST(MessageStore, AReaderChangesNothing)
{
  TTempStore file("reader");
  std::string error;
  std::vector<TMessage> out;
  auto read = [&] { return TMessageStore::Open(file.Path, TMessageStore::TMode::Read, error); };

  // An empty file is an empty store, and stays empty.
  std::ofstream(file.Path).flush();
  auto s = read();
  ASSERT_TRUE(s) << error;
  EXPECT_TRUE(s->List({}, out, error) && out.empty()) << error;
  TMessage shown;
  EXPECT_FALSE(s->Add(Received({"ZCZC OA12", "X", "NNNN"}), shown, error));
  EXPECT_FALSE(s->MarkSeen(out, error));
  s.reset();
  EXPECT_EQ(fs::file_size(file.Path), 0u);

  // An older schema is read as it is.
  file.Remove();
  Add(*file.Open(), Received({"ZCZC OA12", "GALE WARNING", "NNNN"}));
  MakeOlder(file.Path, 1);
  const std::string before = Bytes(file.Path);
  s = read();
  ASSERT_TRUE(s && s->List({}, out, error)) << error;
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Channel, "left");
  s.reset();
  EXPECT_EQ(Bytes(file.Path), before);

  // A missing store is not made.
  file.Remove();
  EXPECT_FALSE(read());
  EXPECT_NE(error.find("no message store"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(file.Path));
}

TEST(MessageStore, WhatCannotBeReachedOrWrittenIsSaidNotCreated)
{
  TTempDir dir("closed");
  // A full file system leaves neither a store nor anything beside it.
  EXPECT_EQ(InChild([&] {
              ::signal(SIGXFSZ, SIG_IGN);
              const rlimit none{0, 0};
              ::setrlimit(RLIMIT_FSIZE, &none);
              std::string error;
              return TMessageStore::Open(dir.Store, TMessageStore::TMode::Create, error) ? 1 : 0;
            }),
            0);
  EXPECT_TRUE(fs::is_empty(dir.Dir));

  // A folder that may not be searched is not a missing store.
  std::string error;
  ASSERT_TRUE(TMessageStore::Open(dir.Store, TMessageStore::TMode::Create, error)) << error;
  fs::permissions(dir.Dir, fs::perms::none);
  EXPECT_EQ(InChild(
                [&] {
                  std::string e;
                  return !TMessageStore::Open(dir.Store, TMessageStore::TMode::Read, e) &&
                                 e.find("ermission denied") != std::string::npos
                             ? 0
                             : 1;
                },
                true),
            0);
}

TEST(MessageStore, TheDefaultStoreLiesInTheUsersDataFolder)
{
  // XDG_DATA_HOME when it is an absolute path, else HOME's .local/share; with
  // neither, no path but the reason.
  const struct {
    const char *Xdg, *Home, *Path;
  } cases[] = {
      {"/data", "/home/ann", "/data/brontel/messages.sqlite"},
      {"data", "/home/ann", "/home/ann/.local/share/brontel/messages.sqlite"},
      {"", "/home/ann", "/home/ann/.local/share/brontel/messages.sqlite"},
      {nullptr, "/home/ann", "/home/ann/.local/share/brontel/messages.sqlite"},
      {"data", "", ""},
      {nullptr, nullptr, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(InChild([&] {
                for (const auto& [name, value] : {std::pair{"XDG_DATA_HOME", c.Xdg}, std::pair{"HOME", c.Home}})
                  value ? ::setenv(name, value, 1) : ::unsetenv(name);
                std::string error;
                const std::string path = DefaultStorePath(error);
                return path == c.Path && error.empty() != path.empty() ? 0 : 1;
              }),
              0)
        << (c.Xdg ? c.Xdg : "(unset)") << " " << (c.Home ? c.Home : "(unset)");
}

TEST_P(StoreOnBoth, TheBestCopyIsReplacedOnlyByABetterOneAndAFailedAddChangesNothing)
{
  auto s = Open();
  std::string error;
  const struct {
    std::vector<std::string> Lines;
    std::string Best, Shown;
  } steps[] = {
      {{"ZCZC OA12", "NAVAREA X"}, "NAVAREA X", "NAVAREA X"},
      {{"ZCZC OA12", "NAVAREA X* 123/26", "NNNN"}, "NAVAREA X* 123/26", "NAVAREA X* 123/26"},
      {{"ZCZC OA12", "NAVAREA XI 123/26", "NNNN"}, "NAVAREA XI 123/26", "NAVAREA XI 123/26"},
      {{"ZCZC OA12", "NAV*REA XI 1*3/26", "NNNN"}, "NAVAREA XI 123/26", "NAVAREA XI 123/26"},
  };
  int64_t id = 0;
  TMessage best;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    id = Add(*s, Received(steps[i].Lines, Day0 + static_cast<double>(i) * Hour)).StoreId;
    const auto all = All(*s);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Text, steps[i].Shown);
    EXPECT_EQ(StatusOf(all[0]), i == 0 ? TStatus::NoTrailer : TStatus::Complete);
    ASSERT_TRUE(s->BestCopy(id, best, error)) << error;
    EXPECT_EQ(best.Text, steps[i].Best);
  }

  // A failure half-way through storing a repeat leaves the store as it was.
  Sql("CREATE TRIGGER trouble BEFORE UPDATE ON messages BEGIN SELECT RAISE(ABORT, 'disk trouble'); END",
      "CREATE FUNCTION trouble() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION 'disk trouble'; END$$;"
      "CREATE TRIGGER trouble BEFORE UPDATE ON messages FOR EACH ROW EXECUTE FUNCTION trouble()");
  TMessage shown;
  EXPECT_FALSE(s->Add(Received({"ZCZC OA12", "NAVAREA XI 123/26", "NNNN"}, Day0 + 9 * Hour), shown, error));
  EXPECT_NE(error.find("disk trouble"), std::string::npos) << error;
  EXPECT_EQ(All(*s)[0].Copies, 4);
  std::vector<TMessage> copies;
  ASSERT_TRUE(s->Copies(id, copies, error)) << error;
  EXPECT_EQ(copies.size(), 4u) << "the copy inserted before the failure is gone too";
  ASSERT_TRUE(s->BestCopy(id, best, error)) << error;
  EXPECT_EQ(best.Start, Day0 + 2 * Hour);
}

}  // namespace
}  // namespace brontel::msg

namespace brontel::msg {
namespace {

TEST_P(StoreOnBoth, EveryFieldComesBackAsStoredAndACopyOfferedAgainIsStoredOnce)
{
  auto s = Open();
  // Japanese text (bytes a database text could not hold), gaps, times with
  // fractions, a receiver named in UTF-8 and its frequency.
  TMessage copy = Received({"ZCZC JA01", "\x93\x8C\x8B\x9E\x98\x70 \x81\xAC", "NNNN"}, Day0 + 0.123456789);
  copy.Gaps = {{3, 12, true}, {7, 2, false}};
  copy.Offset = 61.25;
  copy.Cer = 1.0 / 30.0;  // readable, so that a later copy is a repeat
  copy.Receiver = "Kashiwa \xE2\x80\x94 roof";
  copy.Frequency = 4209.5;
  copy.Channel = "right";
  copy.Decoder = "robust";
  copy.Service = TService::Japanese;
  TMessage shown;
  std::string error;
  bool busy = false;
  ASSERT_TRUE(s->Add(copy, "key-1", shown, error, busy)) << error;
  const int64_t id = shown.StoreId;

  std::vector<TMessage> copies;
  ASSERT_TRUE(s->Copies(id, copies, error)) << error;
  ASSERT_EQ(copies.size(), 1u);
  for (const TMessage& back : {copies[0], All(*s).at(0)}) {
    EXPECT_EQ(back.Id, copy.Id);
    EXPECT_EQ(back.Text, copy.Text);
    EXPECT_EQ(back.Gaps, copy.Gaps);
    EXPECT_EQ(back.Start, copy.Start);
    EXPECT_EQ(back.End, copy.End);
    EXPECT_EQ(back.Offset, copy.Offset);
    EXPECT_EQ(back.Cer, copy.Cer);
    EXPECT_EQ(back.Receiver, copy.Receiver);
    EXPECT_EQ(back.Frequency, copy.Frequency);
    EXPECT_EQ(back.Channel, "right");
    EXPECT_EQ(back.Decoder, "robust");
    EXPECT_EQ(back.Service, TService::Japanese);
    EXPECT_EQ(std::tuple(back.Station, back.Subject, back.Serial, back.HeaderOk, back.Trailer),
              std::tuple('J', 'A', 1, true, true));
    EXPECT_EQ(std::tuple(back.Chars, back.Erasures, back.Suspicious, back.Lost),
              std::tuple(copy.Chars, copy.Erasures, copy.Suspicious, copy.Lost));
  }

  // Offered again with its key (its commit was not confirmed): stored once.
  TMessage again;
  ASSERT_TRUE(s->Add(copy, "key-1", again, error, busy)) << error;
  EXPECT_EQ(again.StoreId, id);
  EXPECT_FALSE(again.Repeat);
  // A repeat with a key of its own, offered twice, and one with no receiver
  // named: stored as this host's.
  TMessage repeat = copy;
  repeat.Receiver.clear();
  repeat.Start += Hour;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(s->Add(repeat, "key-2", again, error, busy)) << error;
    EXPECT_TRUE(again.Repeat) << i;
    EXPECT_EQ(again.Copies, 2) << i;
  }
  copies.clear();
  ASSERT_TRUE(s->Copies(id, copies, error)) << error;
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[1].Receiver, HostName());
  EXPECT_EQ(All(*s).at(0).Copies, 2);
}

TEST_P(StoreOnBoth, FiltersSelectTheSameMessages)
{
  auto s = Open();
  const std::vector<std::vector<std::string>> messages = {
      {"ZCZC KA31", "BUOY UNLIT 35-12N", "NNNN"},
      {"ZCZC KD02", "MAYDAY RELAY", "NNNN"},
      {"ZCZC OE77", "WIND NW 6", "NNNN"},
      {"ZCZC OA50", "RATE 100% CERTAIN", "NNNN"},
      {"ZCZC OA51", "PATH A_B AND C\\D", "NNNN"},
      {"ZCZC JA01", "\x93\x8C\x8B\x9E\x98\x70", "NNNN"},  // 東京湾
  };
  for (std::size_t i = 0; i < messages.size(); ++i) Add(*s, Received(messages[i], Day0 + static_cast<double>(i) * Hour));
  std::string error;
  std::vector<TMessage> first(1);
  ASSERT_TRUE(s->Find("KA31", first, error) && first.size() == 2) << error;
  first.erase(first.begin());
  ASSERT_TRUE(s->MarkSeen(first, error)) << error;

  using F = TStoreFilter;
  const struct {
    void (*Set)(F&);
    std::string Ids;
  } cases[] = {
      {[](F&) {}, "KA31 KD02 OE77 OA50 OA51 JA01"},
      {[](F& f) { f.Stations.assign(1, 'K'); }, "KA31 KD02"},
      {[](F& f) { f.Stations = "KJ", f.Subjects.assign(1, 'A'); }, "KA31 JA01"},
      {[](F& f) { f.Stations = "\xC3\xA9"; }, ""},  // not a letter a station has
      {[](F& f) { f.Subjects = "\x80" "A"; }, "KA31 OA50 OA51 JA01"},
      {[](F& f) { f.Since = Day0 + 2 * Hour, f.Until = Day0 + 3 * Hour; }, "OE77 OA50"},
      {[](F& f) { f.Grep = "wind nw"; }, "OE77"},  // ASCII letters in any case
      {[](F& f) { f.Grep.assign(1, '%'); }, "OA50"},  // LIKE's wildcards and escape as themselves
      {[](F& f) { f.Grep = "a_b"; }, "OA51"},
      {[](F& f) { f.Grep = "c\\d"; }, "OA51"},
      {[](F& f) { f.Grep = "\xE6\x9D\xB1\xE4\xBA\xAC"; }, "JA01"},  // 東京
      {[](F& f) { f.NewOnly = true; }, "KD02 OE77 OA50 OA51 JA01"},
  };
  for (const auto& c : cases) {
    TStoreFilter filter;
    c.Set(filter);
    std::vector<TMessage> out;
    ASSERT_TRUE(s->List(filter, out, error)) << error;
    std::string ids;
    for (const TMessage& m : out) ids += (ids.empty() ? "" : " ") + m.Id;
    EXPECT_EQ(ids, c.Ids) << "stations " << filter.Stations << " grep " << filter.Grep;
  }
}

}  // namespace
}  // namespace brontel::msg

namespace brontel::msg {
namespace {

// The selection mark and the listener's marks: kept as set, a repeat inside
// the selection brings its message in, the filter of the selection, and a
// store opened for reading refuses marks.
TEST_P(StoreOnBoth, TheSelectionAndTheListenersMarksAreKept)
{
  auto s = Open();
  TMessage outside = Received({"ZCZC XE10", "FORECAST", "NNNN"}, Day0);
  outside.Selected = false;
  const TMessage first = Add(*s, outside);
  EXPECT_FALSE(first.Selected);
  Add(*s, Received({"ZCZC KA01", "BUOY", "NNNN"}, Day0 + Hour));
  std::string error;
  std::vector<TMessage> out;
  TStoreFilter inside;
  inside.SelectedOnly = true;
  ASSERT_TRUE(s->List(inside, out, error)) << error;
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].Id, "KA01");

  // Marks: set, cleared, and only on the messages named.
  ASSERT_TRUE(s->SetMark(TMark::Opened, {first.StoreId, out[0].StoreId}, true, error)) << error;
  ASSERT_TRUE(s->SetMark(TMark::Kept, {out[0].StoreId}, true, error)) << error;
  ASSERT_TRUE(s->SetMark(TMark::Opened, {out[0].StoreId, 999999}, false, error)) << error;
  TMessage back;
  ASSERT_TRUE(s->Get(first.StoreId, back, error)) << error;
  EXPECT_EQ(std::tuple(back.Id, back.Selected, back.Opened, back.Kept), std::tuple("XE10", false, true, false));
  ASSERT_TRUE(s->Get(out[0].StoreId, back, error)) << error;
  EXPECT_EQ(std::tuple(back.Id, back.Selected, back.Opened, back.Kept), std::tuple("KA01", true, false, true));
  EXPECT_FALSE(s->Get(999999, back, error));

  // A repeat received inside the selection (it was widened) lists the
  // message; a later one outside does not hide it again. Marks stay.
  TMessage repeat = Received({"ZCZC XE10", "FORECAST", "NNNN"}, Day0 + 2 * Hour);
  EXPECT_TRUE(Add(*s, repeat).Selected);
  repeat.Start += Hour;
  repeat.Selected = false;
  const TMessage third = Add(*s, repeat);
  EXPECT_TRUE(third.Repeat && third.Selected);
  out.clear();
  ASSERT_TRUE(s->List(inside, out, error)) << error;
  EXPECT_EQ(out.size(), 2u);
  ASSERT_TRUE(s->Get(first.StoreId, back, error)) << error;
  EXPECT_TRUE(back.Opened);
  EXPECT_EQ(back.Copies, 3);

  s = Open(TMessageStore::TMode::Read);
  EXPECT_FALSE(s->SetMark(TMark::Kept, {first.StoreId}, true, error));
}

}  // namespace
}  // namespace brontel::msg
