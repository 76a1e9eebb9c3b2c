// The message store on disk: repeats across restarts, the repeat window,
// serial 00, headers with errors, damaged and newer files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

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
