// The message store on disk: repeats across restarts, the repeat window,
// serial 00, headers with errors, damaged, foreign and newer files, programs
// creating one store at once, readers that change nothing, the best copy.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <sqlite3.h>

#include "messages/store.h"
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

TEST(MessageStore, RepeatsAcrossRestartsAreMergedNotAnnounced)
{
  TTempStore file("repeat");
  {
    auto s = file.Open();
    const TMessage first = Add(*s, Received({"ZCZC OA12", "BUOY *NLIT 35-12N", "NNNN"}, Day0));
    EXPECT_FALSE(first.Repeat);
  }
  auto s = file.Open();  // a new run of the program
  const TMessage second = Add(*s, Received({"ZCZC OA12", "BUOY UNLIT 35-*2N", "NNNN"}, Day0 + 4 * Hour));
  EXPECT_TRUE(second.Repeat);
  EXPECT_EQ(second.Text, "BUOY UNLIT 35-12N");
  EXPECT_EQ(second.Erasures, 0);

  const auto all = All(*s);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].Text, "BUOY UNLIT 35-12N");
  EXPECT_EQ(all[0].Copies, 2);
  EXPECT_EQ(all[0].Start, Day0);  // the message keeps its first reception
  std::vector<TMessage> copies;
  std::string error;
  ASSERT_TRUE(s->Copies(all[0].StoreId, copies, error)) << error;
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[1].Text, "BUOY UNLIT 35-*2N");  // every copy is kept as received
  EXPECT_TRUE(copies[1].Repeat);
}

TEST(MessageStore, WhatIsNeverARepeat)
{
  TTempStore file("never");
  auto s = file.Open();
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
  for (const int version : {1, 2}) {
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
    EXPECT_EQ(copies[0].Receiver, "") << "not known for a copy from before";
    EXPECT_FALSE(copies[0].Frequency);
    EXPECT_EQ(copies[1].Receiver, "south");
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
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 6; ++i) {
      const pid_t pid = ::fork();
      if (pid != 0) {
        children.push_back(pid);
        continue;
      }
      ::close(gate[1]);
      char c;
      (void)!::read(gate[0], &c, 1);  // returns when the parent closes the gate
      std::string error;
      TMessage shown;
      // A reader sees the store not there yet or whole, never another program's.
      for (int k = 0; i >= 4 && k < 50; ++k)
        if (!TMessageStore::Open(file.Path, TMessageStore::TMode::Read, error) &&
            error.find("no message store") == std::string::npos)
          ::_exit(3);
      auto s = i >= 4 ? nullptr : TMessageStore::Open(file.Path, TMessageStore::TMode::Create, error);
      ::_exit(i >= 4 ? 0 : !s ? 1 : s->Add(Received({"ZCZC OA1" + std::to_string(i), "GALE", "NNNN"}), shown, error) ? 0 : 2);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_EQ(status, 0) << "exit 1: open failed, 2: add failed, 3: a reader was refused";
    }
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

TEST(MessageStore, TheBestCopyIsReplacedOnlyByABetterOneAndAFailedAddChangesNothing)
{
  TTempStore file("best");
  auto s = file.Open();
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
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.Path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER trouble BEFORE UPDATE ON messages BEGIN SELECT RAISE(ABORT, 'disk trouble'); END",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
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
