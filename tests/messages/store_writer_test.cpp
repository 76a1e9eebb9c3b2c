// The store writer against a real store file that another connection holds
// locked: nothing lost however long the lock, outcomes in order, a full queue
// and the end of a run said and counted, a store it may not write refused.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "messages/assembler.h"
#include "messages/store_writer.h"

namespace brontel::msg {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr double Day0 = 1796634000.0;  // 2026-12-07T09:00:00Z

TMessage Received(const std::string& header, const std::string& body, double t)
{
  TMessage out;
  TAssemblerOptions o;
  o.Epoch = t;
  TMessageAssembler a([&](TMessage&& m) { out = std::move(m); }, o);
  for (const std::string& l : {header, body, std::string("NNNN")}) a.Line(l, 0.0);
  return out;
}

// A folder of its own with a store path in it, removed afterwards.
struct TTempDir {
  fs::path Dir = fs::temp_directory_path() / ("brontel-writer-" + std::to_string(::getpid()));
  std::string Store = (Dir / "messages.sqlite").string();
  TTempDir()
  {
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  ~TTempDir()
  {
    fs::permissions(Dir, fs::perms::owner_all);
    fs::remove_all(Dir);
  }
};

// Another program's connection holding the store's write lock until released.
struct TLockHolder {
  sqlite3* Db = nullptr;
  explicit TLockHolder(const std::string& path)
  {
    EXPECT_EQ(sqlite3_open(path.c_str(), &Db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(Db);
  }
  void Release()
  {
    if (Db) sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(Db);
    Db = nullptr;
  }
  ~TLockHolder() { Release(); }
};

// Retry timings a hundred times shorter than a receiver's, so that a lock of
// a second stands for minutes of waiting.
TStoreWriterOptions Quick(std::vector<std::string>& notices, std::mutex& m)
{
  TStoreWriterOptions o;
  o.Retry = {.BusyWait = 0.01, .FirstBackoff = 0.0025, .MaxBackoff = 0.05, .NoticeEvery = 0.3, .DrainPatience = 3.0};
  o.OnNotice = [&](const std::string& text) {
    std::lock_guard lock(m);
    notices.push_back(text);
  };
  return o;
}

std::vector<TMessage> Stored(const std::string& path)
{
  std::string error;
  auto s = TMessageStore::Open(path, TMessageStore::TMode::Existing, error);
  EXPECT_TRUE(s) << error;
  std::vector<TMessage> out;
  if (s) {
    EXPECT_TRUE(s->List({}, out, error)) << error;
  }
  return out;
}

bool Mentions(const std::vector<std::string>& notices, const std::string& part)
{
  for (const std::string& n : notices)
    if (n.find(part) != std::string::npos) return true;
  return false;
}

TEST(StoreWriter, ALongLockDelaysButLosesNothingAndKeepsTheOrder)
{
  TTempDir dir;
  std::vector<std::string> notices;
  std::mutex m;
  std::string error;
  auto writer = TStoreWriter::Open(dir.Store, Quick(notices, m), error);
  ASSERT_TRUE(writer) << error;
  {
    TLockHolder lock(dir.Store);
    writer->Submit(Received("ZCZC OA12", "BUOY *NLIT 35-12N", Day0));
    writer->Submit(Received("ZCZC KD02", "MAYDAY RELAY", Day0 + 60));
    writer->Submit(Received("ZCZC OA12", "BUOY UNLIT 35-*2N", Day0 + 120));
    writer->Submit(Received("ZCZC OE77", "WIND NW 6", Day0 + 180));
    // Locked for hundreds of attempts and several back-off doublings.
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(writer->TakeOutcomes().empty());
    std::lock_guard l(m);
    EXPECT_TRUE(Mentions(notices, "busy")) << notices.size();
    EXPECT_TRUE(Mentions(notices, "still busy"));
    EXPECT_TRUE(Mentions(notices, "4 copies waiting"));
  }
  std::vector<TStoreOutcome> out = writer->Drain();
  ASSERT_EQ(out.size(), 4u);
  const std::vector<std::string> order = {"OA12", "KD02", "OA12", "OE77"};
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_TRUE(out[i].Stored) << i << ": " << out[i].Error;
    EXPECT_EQ(out[i].Shown.Id, order[i]);
    EXPECT_NE(out[i].Shown.StoreId, 0);
  }
  EXPECT_TRUE(out[2].Shown.Repeat);
  EXPECT_EQ(out[2].Shown.Text, "BUOY UNLIT 35-12N");
  EXPECT_EQ(writer->Failures(), 0);
  {
    std::lock_guard l(m);
    EXPECT_TRUE(Mentions(notices, "free again"));
  }
  EXPECT_EQ(Stored(dir.Store).size(), 3u);
}

TEST(StoreWriter, AFullQueueAndTheEndOfARunAreSaidAndCounted)
{
  TTempDir dir;
  std::vector<std::string> notices;
  std::mutex m;
  TStoreWriterOptions o = Quick(notices, m);
  o.QueueLimit = 2;
  o.Retry.DrainPatience = 0.2;
  std::atomic<int> signalled = 0;
  o.OnOutcome = [&] { ++signalled; };
  std::string error;
  auto writer = TStoreWriter::Open(dir.Store, o, error);
  ASSERT_TRUE(writer) << error;
  {
    TLockHolder lock(dir.Store);
    for (int i = 1; i <= 4; ++i) writer->Submit(Received("ZCZC OA1" + std::to_string(i), "TEXT", Day0 + i));
    // The end of the run while the store is still locked: waited for a while, then given up.
    const std::vector<TStoreOutcome> out = writer->Drain();
    ASSERT_EQ(out.size(), 4u);
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_FALSE(out[i].Stored) << i;
      EXPECT_EQ(out[i].Shown.Id, "OA1" + std::to_string(i + 1)) << "in order of submission";
      EXPECT_EQ(out[i].Shown.StoreId, 0);
    }
    EXPECT_NE(out[0].Error.find("still busy"), std::string::npos) << out[0].Error;
    EXPECT_NE(out[3].Error.find("2 copies waiting"), std::string::npos) << out[3].Error;
    EXPECT_EQ(writer->Failures(), 4);
    EXPECT_EQ(signalled, 4);
    std::lock_guard l(m);
    EXPECT_TRUE(Mentions(notices, "the most kept")) << "the refusals are said";
    EXPECT_TRUE(Mentions(notices, "after the end of the run"));
  }
  // Free again: the writer stores what comes next.
  writer->Submit(Received("ZCZC OA15", "TEXT", Day0 + 5));
  const std::vector<TStoreOutcome> out = writer->Drain();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(out[0].Stored) << out[0].Error;
  EXPECT_EQ(Stored(dir.Store).size(), 1u);
}

TEST(StoreWriter, InMemoryRecognisesRepeatsWithoutAFile)
{
  std::string error;
  auto writer = TStoreWriter::Open("", {}, error);
  ASSERT_TRUE(writer) << error;
  writer->Submit(Received("ZCZC OA12", "BUOY *NLIT", Day0));
  writer->Submit(Received("ZCZC OA12", "BUOY UNLIT", Day0 + 60));
  const auto out = writer->Drain();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[1].Stored);
  EXPECT_TRUE(out[1].Shown.Repeat);
  EXPECT_EQ(out[1].Shown.Copies, 2);
  EXPECT_EQ(out[1].Shown.StoreId, 0) << "nothing on disk to point at";
}

// Runs `attempt` in a child process that may not write what the test made
// read-only (root drops to nobody); its exit status.
int AsUnprivileged(const std::function<int()>& attempt)
{
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(attempt());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Bytes(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(StoreWriter, AStoreThatCannotBeWrittenIsRefusedAtOpen)
{
  struct TCase {
    const char* Name;
    bool Exists;
    fs::perms File, Folder;
  };
  const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write |
                       fs::perms::others_read | fs::perms::others_write;
  const fs::perms ro = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const fs::perms openDir = fs::perms::all, closedDir = ro | fs::perms::owner_exec | fs::perms::group_exec |
                                                              fs::perms::others_exec;
  for (const TCase& c : {TCase{"read-only file", true, ro, openDir}, TCase{"read-only folder", true, rw, closedDir},
                         TCase{"new store in a read-only folder", false, rw, closedDir}}) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    if (c.Exists) {
      std::string error;
      ASSERT_TRUE(TStoreWriter::Open(dir.Store, {}, error)) << error;
      fs::permissions(dir.Store, c.File);
    }
    fs::permissions(dir.Dir, c.Folder);
    const std::string before = Bytes(dir.Store);
    const int status = AsUnprivileged([&] {
      std::string error;
      if (TStoreWriter::Open(dir.Store, {}, error)) return 1;
      return error.find(dir.Store) == std::string::npos ? 2 : 0;
    });
    EXPECT_EQ(status, 0) << "1: opened for writing, 2: the reason does not name the store";
    EXPECT_EQ(Bytes(dir.Store), before);
    EXPECT_EQ(fs::exists(dir.Store), c.Exists);
  }
}

}  // namespace
}  // namespace brontel::msg
