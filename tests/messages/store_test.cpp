// The message store on disk: repeats across restarts, the repeat window,
// serial 00, headers with errors, damaged and newer files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include "messages/assembler.h"
#include "messages/store.h"

namespace brontel::msg {
namespace {

namespace fs = std::filesystem;

constexpr double Hour = 3600.0;
constexpr double Day0 = 1796634000.0;  // 2026-12-07T09:00:00Z

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

// The message the assembler makes of `lines` received from time t.
TMessage Received(const std::vector<std::string>& lines, double t)
{
  TMessage out;
  TAssemblerOptions o;
  o.Epoch = t;
  TMessageAssembler a([&](TMessage&& m) { out = std::move(m); }, o);
  for (const std::string& l : lines) a.Line(l, 0.0);
  a.Finish(0.0);
  return out;
}

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

std::string Bytes(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
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
    error.clear();
    EXPECT_FALSE(TMessageStore::Open(file.Path, TMessageStore::TMode::Create, error)) << why;
    EXPECT_NE(error.find(file.Path), std::string::npos) << why << ": " << error;
    EXPECT_EQ(Bytes(file.Path), before) << why;
    return error;
  };

  std::ofstream(file.Path) << "notes, not a database\n";
  EXPECT_NE(refused("text file").find("not an SQLite database"), std::string::npos) << error;

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

TEST(MessageStore, AStoreFromBeforeChannelsIsMigratedAndKeepsItsMessages)
{
  TTempStore t("migrate");
  {
    auto s = t.Open();
    Add(*s, Received({"ZCZC OA12", "GALE WARNING", "NNNN"}, Day0));
  }
  // Make it a first-schema store: no channel columns, schema version 1.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(t.Path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "ALTER TABLE messages DROP COLUMN channel; ALTER TABLE copies DROP COLUMN channel;"
                         "PRAGMA user_version = 1;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);

  auto s = t.Open();
  ASSERT_TRUE(s);
  TMessage right = Received({"ZCZC OB03", "ICE REPORT", "NNNN"}, Day0 + Hour);
  right.Channel = "right";
  Add(*s, right);
  const auto all = All(*s);
  ASSERT_EQ(all.size(), 2u);
  for (const TMessage& m : all) EXPECT_EQ(m.Channel, m.Id == "OB03" ? "right" : "left") << m.Id;
}

}  // namespace
}  // namespace brontel::msg

namespace brontel::msg {
namespace {

// Runs `body` in `n` child processes started together; their exit statuses.
std::vector<int> AllAtOnce(int n, const std::function<int(int)>& body)
{
  int gate[2];
  EXPECT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < n; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      (void)!::read(gate[0], &c, 1);  // returns when the parent closes the gate
      ::_exit(body(i));
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  std::vector<int> statuses;
  for (const pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return statuses;
}

TEST(MessageStore, ProgramsCreatingOneStoreAtOnceAllStoreTheirMessages)
{
  for (int trial = 0; trial < 5; ++trial) {
    SCOPED_TRACE(trial);
    TTempStore file("race");
    const auto statuses = AllAtOnce(6, [&](int i) {
      std::string error;
      if (i >= 4) {
        // Readers: the store is either not there yet or whole, never another program's.
        for (int k = 0; k < 50; ++k) {
          auto s = TMessageStore::Open(file.Path, TMessageStore::TMode::Read, error);
          if (!s && error.find("no message store") == std::string::npos) return 3;
        }
        return 0;
      }
      auto s = TMessageStore::Open(file.Path, TMessageStore::TMode::Create, error);
      TMessage shown;
      if (!s) return 1;
      return s->Add(Received({"ZCZC OA1" + std::to_string(i), "GALE", "NNNN"}, Day0), shown, error) ? 0 : 2;
    });
    EXPECT_EQ(statuses, std::vector<int>(6, 0)) << "1: open failed, 2: add failed, 3: a reader was refused";
    auto s = file.Open();
    EXPECT_EQ(All(*s).size(), 4u);
  }
}

TEST(MessageStore, AReaderChangesNothing)
{
  TTempStore file("reader");
  std::string error;
  {
    SCOPED_TRACE("an empty file is an empty store, and stays empty");
    std::ofstream(file.Path).flush();
    auto s = TMessageStore::Open(file.Path, TMessageStore::TMode::Read, error);
    ASSERT_TRUE(s) << error;
    std::vector<TMessage> out;
    EXPECT_TRUE(s->List({}, out, error)) << error;
    EXPECT_TRUE(out.empty());
    TMessage shown;
    EXPECT_FALSE(s->Add(Received({"ZCZC OA12", "X", "NNNN"}, Day0), shown, error));
    EXPECT_FALSE(s->MarkSeen(out, error));
    s.reset();
    EXPECT_EQ(fs::file_size(file.Path), 0u);
  }
  {
    SCOPED_TRACE("an older schema is read as it is");
    file.Remove();
    {
      auto s = file.Open();
      Add(*s, Received({"ZCZC OA12", "GALE WARNING", "NNNN"}, Day0));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.Path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE messages DROP COLUMN channel; ALTER TABLE copies DROP COLUMN channel;"
                               "PRAGMA user_version = 1;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string before = Bytes(file.Path);
    auto s = TMessageStore::Open(file.Path, TMessageStore::TMode::Read, error);
    ASSERT_TRUE(s) << error;
    std::vector<TMessage> out;
    ASSERT_TRUE(s->List({}, out, error)) << error;
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Channel, "left");
    ASSERT_TRUE(s->Copies(out[0].StoreId, out, error)) << error;
    EXPECT_EQ(out.size(), 2u);
    s.reset();
    EXPECT_EQ(Bytes(file.Path), before);
  }
  {
    SCOPED_TRACE("a missing store is not made");
    file.Remove();
    EXPECT_FALSE(TMessageStore::Open(file.Path, TMessageStore::TMode::Read, error));
    EXPECT_NE(error.find("no message store"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(file.Path));
  }
}

TEST(MessageStore, WhatCannotBeReachedOrWrittenIsSaidNotCreated)
{
  const fs::path dir = fs::temp_directory_path() / ("brontel-store-" + std::to_string(::getpid()) + "-closed");
  fs::create_directories(dir);
  const std::string path = (dir / "messages.sqlite").string();
  {
    SCOPED_TRACE("a full file system leaves no store behind");
    const int status = [&] {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &none);
        std::string error;
        if (TMessageStore::Open(path, TMessageStore::TMode::Create, error)) ::_exit(1);
        ::_exit(error.find(path) == std::string::npos ? 2 : 0);
      }
      int st = 0;
      ::waitpid(pid, &st, 0);
      return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }();
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::is_empty(dir)) << "neither the store nor anything beside it is left";
  }
  {
    SCOPED_TRACE("a folder that may not be searched is not a missing store");
    std::string error;
    ASSERT_TRUE(TMessageStore::Open(path, TMessageStore::TMode::Create, error)) << error;
    fs::permissions(dir, fs::perms::none);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(9);
      std::string e;
      const bool ok = !TMessageStore::Open(path, TMessageStore::TMode::Read, e) && e.find("no message store") == std::string::npos &&
                      e.find("ermission") != std::string::npos;
      ::_exit(ok ? 0 : 1);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    fs::permissions(dir, fs::perms::owner_all);
  }
  fs::remove_all(dir);
}

TEST(MessageStore, AnotherProgramsDatabaseIsRefusedAndLeftAlone)
{
  TTempStore file("foreign");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.Path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE contacts (name TEXT); INSERT INTO contacts VALUES ('Ann');", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string before = Bytes(file.Path);
  for (const auto mode : {TMessageStore::TMode::Read, TMessageStore::TMode::Create}) {
    std::string error;
    EXPECT_FALSE(TMessageStore::Open(file.Path, mode, error));
    EXPECT_NE(error.find("another program"), std::string::npos) << error;
    EXPECT_EQ(Bytes(file.Path), before);
  }
}

TEST(MessageStore, TheBestCopyIsReplacedOnlyByABetterOneAndAFailedAddChangesNothing)
{
  TTempStore file("best");
  auto s = file.Open();
  std::string error;
  struct TStep {
    std::vector<std::string> Lines;
    std::string Best, Shown;
    TStatus Status;
  };
  const TStep steps[] = {
      {{"ZCZC OA12", "NAVAREA X"}, "NAVAREA X", "NAVAREA X", TStatus::NoTrailer},
      {{"ZCZC OA12", "NAVAREA X* 123/26", "NNNN"}, "NAVAREA X* 123/26", "NAVAREA X* 123/26", TStatus::Complete},
      {{"ZCZC OA12", "NAVAREA XI 123/26", "NNNN"}, "NAVAREA XI 123/26", "NAVAREA XI 123/26", TStatus::Complete},
      {{"ZCZC OA12", "NAV*REA XI 1*3/26", "NNNN"}, "NAVAREA XI 123/26", "NAVAREA XI 123/26", TStatus::Complete},
  };
  int64_t id = 0;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    id = Add(*s, Received(steps[i].Lines, Day0 + static_cast<double>(i) * Hour)).StoreId;
    const auto all = All(*s);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Text, steps[i].Shown);
    EXPECT_EQ(StatusOf(all[0]), steps[i].Status);
    TMessage best;
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
  const auto all = All(*s);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].Copies, 4);
  std::vector<TMessage> copies;
  ASSERT_TRUE(s->Copies(id, copies, error)) << error;
  EXPECT_EQ(copies.size(), 4u) << "the copy inserted before the failure is gone too";
  TMessage best;
  ASSERT_TRUE(s->BestCopy(id, best, error)) << error;
  EXPECT_EQ(best.Start, Day0 + 2 * Hour);
}

}  // namespace
}  // namespace brontel::msg
