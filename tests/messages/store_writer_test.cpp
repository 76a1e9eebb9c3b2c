// The store writer against a real store file that another connection holds
// locked: nothing lost however long the lock, outcomes in order, a full queue
// and the end of a run said and counted, a store it may not write refused.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <sqlite3.h>

#include "messages/store_writer.h"
#include "store_support.h"

namespace brontel::msg {
namespace {

using namespace test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Another program's connection holding the store's write lock until it goes.
struct TLockHolder {
  sqlite3* Db = nullptr;
  explicit TLockHolder(const std::string& path)
  {
    EXPECT_EQ(sqlite3_open(path.c_str(), &Db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(Db);
  }
  ~TLockHolder() { sqlite3_close(Db); }
};

// A writer with retry timings a hundred times shorter than a receiver's, so
// that a lock of a second stands for minutes, and the notices it gave.
struct TQuickWriter {
  std::mutex M;
  std::vector<std::string> Notices;
  std::unique_ptr<TStoreWriter> W;
  explicit TQuickWriter(const std::string& path, TStoreWriterOptions o = {}, double drainPatience = 3.0)
  {
    o.Retry = {.BusyWait = 0.01, .FirstBackoff = 0.0025, .MaxBackoff = 0.05, .NoticeEvery = 0.3,
               .DrainPatience = drainPatience};
    o.OnNotice = [this](const std::string& text) {
      std::lock_guard lock(M);
      Notices.push_back(text);
    };
    std::string error;
    W = TStoreWriter::Open(path, o, error);
    EXPECT_TRUE(W) << error;
  }
  bool Said(const std::string& part)
  {
    std::lock_guard lock(M);
    for (const std::string& n : Notices)
      if (n.find(part) != std::string::npos) return true;
    return false;
  }
};

std::size_t StoredMessages(const std::string& path)
{
  std::string error;
  std::vector<TMessage> out;
  auto s = TMessageStore::Open(path, TMessageStore::TMode::Read, error);
  EXPECT_TRUE(s && s->List({}, out, error)) << error;
  return out.size();
}

TEST(StoreWriter, ALongLockDelaysButLosesNothingAndKeepsTheOrder)
{
  TTempDir dir("writer");
  TQuickWriter q(dir.Store);
  const std::vector<std::vector<std::string>> copies = {{"ZCZC OA12", "BUOY *NLIT 35-12N 006-40.5E", "NNNN"},
                                                        {"ZCZC KD02", "MAYDAY RELAY", "NNNN"},
                                                        {"ZCZC OA12", "BUOY UNLIT 35-*2N 006-40.5E", "NNNN"},
                                                        {"ZCZC OE77", "WIND NW 6", "NNNN"}};
  {
    TLockHolder lock(dir.Store);
    for (std::size_t i = 0; i < copies.size(); ++i) q.W->Submit(Received(copies[i], Day0 + 60.0 * i));
    // Locked for hundreds of attempts and several back-off doublings.
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(q.W->TakeOutcomes().empty());
    EXPECT_TRUE(q.Said("4 copies waiting"));
    EXPECT_TRUE(q.Said("still busy"));
    // Counted from when the store became busy, not from any older moment.
    std::lock_guard said(q.M);
    for (const std::string& n : q.Notices)
      if (const auto at = n.find("still busy after "); at != std::string::npos) {
        EXPECT_LT(std::stod(n.substr(at + 17)), 60.0) << n;
      }
  }
  const std::vector<TStoreOutcome> out = q.W->Drain();
  ASSERT_EQ(out.size(), copies.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_TRUE(out[i].Stored) << i << ": " << out[i].Error;
    EXPECT_EQ(out[i].Shown.Id, copies[i][0].substr(5)) << "in order of submission";
  }
  EXPECT_TRUE(out[2].Shown.Repeat);
  EXPECT_EQ(out[2].Shown.Text, "BUOY UNLIT 35-12N 006-40.5E");
  EXPECT_EQ(q.W->Failures(), 0);
  EXPECT_TRUE(q.Said("free again"));
  EXPECT_EQ(StoredMessages(dir.Store), 3u);

  // Without a file, repeats are still recognised, and nothing points into a store.
  TQuickWriter memory("");
  for (const auto& c : {copies[0], copies[2]}) memory.W->Submit(Received(c));
  const auto kept = memory.W->Drain();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_TRUE(kept[1].Stored && kept[1].Shown.Repeat);
  EXPECT_EQ(kept[1].Shown.StoreId, 0);
}

TEST(StoreWriter, AFullQueueAndTheEndOfARunAreSaidAndCounted)
{
  TTempDir dir("writer");
  TStoreWriterOptions o;
  o.QueueLimit = 2;
  std::atomic<int> signalled = 0;
  o.OnOutcome = [&] { ++signalled; };
  TQuickWriter q(dir.Store, o, 0.2);
  {
    TLockHolder lock(dir.Store);
    for (int i = 1; i <= 4; ++i) q.W->Submit(Received({"ZCZC OA1" + std::to_string(i), "TEXT", "NNNN"}));
    // The end of the run while the store is still locked: waited for a while, then given up.
    const std::vector<TStoreOutcome> out = q.W->Drain();
    ASSERT_EQ(out.size(), 4u);
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_FALSE(out[i].Stored) << i;
      EXPECT_EQ(out[i].Shown.Id, "OA1" + std::to_string(i + 1)) << "in order of submission";
    }
    EXPECT_NE(out[0].Error.find("still busy"), std::string::npos) << out[0].Error;
    EXPECT_NE(out[3].Error.find("2 copies waiting"), std::string::npos) << out[3].Error;
    EXPECT_EQ(q.W->Failures(), 4);
    EXPECT_EQ(signalled, 4);
    EXPECT_TRUE(q.Said("the most kept")) << "the refusals are said";
    EXPECT_TRUE(q.Said("after the end of the run"));
  }
  // Free again: the writer stores what comes next.
  q.W->Submit(Received({"ZCZC OA15", "TEXT", "NNNN"}));
  const std::vector<TStoreOutcome> out = q.W->Drain();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(out[0].Stored) << out[0].Error;
  EXPECT_EQ(StoredMessages(dir.Store), 1u);
}

TEST(StoreWriter, AStoreThatCannotBeWrittenIsRefusedAtOpen)
{
  const fs::perms r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const fs::perms rx = r | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  const struct {
    const char* Name;
    bool Exists;
    fs::perms File, Folder;
  } cases[] = {{"read-only file", true, r, fs::perms::all},
               {"read-only folder", true, fs::perms::all, rx},
               {"new store in a read-only folder", false, fs::perms::all, rx}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir("writer");
    if (c.Exists) {
      std::string error;
      ASSERT_TRUE(TStoreWriter::Open(dir.Store, {}, error)) << error;
      fs::permissions(dir.Store, c.File);
    }
    fs::permissions(dir.Dir, c.Folder);
    const std::string before = Bytes(dir.Store);
    const int status = InChild(
        [&] {
          std::string error;
          if (TStoreWriter::Open(dir.Store, {}, error)) return 1;
          return error.find(dir.Store + " cannot be written") == std::string::npos ? 2 : 0;
        },
        true);
    EXPECT_EQ(status, 0) << "1: opened for writing, 2: the reason does not say so";
    EXPECT_EQ(Bytes(dir.Store), before);
    EXPECT_EQ(fs::exists(dir.Store), c.Exists);
  }
}

}  // namespace
}  // namespace brontel::msg
