// Characters with their confidences in the store, on an SQLite file and on
// PostgreSQL: kept with every copy and with the repaired message, a store
// from before they were kept brought up to date, and the rule that only a
// readable copy makes later copies repeats.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include "messages/format.h"
#include "messages/store.h"
#include "pg_test_cluster.h"
#include "store_support.h"
#include "support/run_command.h"

namespace brontel::msg {
namespace {

using namespace test;

// A copy as the robust decoder gives it: every character of `lines` with
// confidence `sure`, except those at the character indexes in `doubtful`.
TMessage Robust(const std::vector<std::string>& lines, double t, const std::vector<std::pair<int, float>>& doubtful = {},
                float sure = 0.999f)
{
  TMessage m = Received(lines, t);
  m.Decoder = "robust";
  std::size_t n = 0;
  for (const TUnit& u : ToUnits(m.Text)) n += u.Kind == TUnitKind::Char || u.Kind == TUnitKind::Erasure;
  m.Confidence.assign(n, sure);
  for (const auto& [at, p] : doubtful) m.Confidence.at(static_cast<std::size_t>(at)) = p;
  Measure(m);
  return m;
}

TMessage Add(TMessageStore& s, const TMessage& copy)
{
  TMessage shown;
  std::string error;
  EXPECT_TRUE(s.Add(copy, shown, error)) << error;
  return shown;
}

// A store file of its own (false), or a database of its own in the tests'
// PostgreSQL cluster (true).
class ConfidenceStore : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override
  {
    if (!GetParam()) {
      Location = Dir.emplace("confidence").Store;
      return;
    }
    ASSERT_TRUE(TPgCluster::Shared().Ok()) << "no PostgreSQL cluster could be started";
    Location = TPgCluster::Shared().NewDatabase(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  std::unique_ptr<TMessageStore> Open() const
  {
    std::string error;
    auto s = TMessageStore::Open(Location, TMessageStore::TMode::Create, error);
    EXPECT_TRUE(s) << error;
    return s;
  }
  // Takes the store back to the schema before confidences were kept.
  void MakeSchema3() const
  {
    const std::string drop =
        "ALTER TABLE messages DROP COLUMN selected; ALTER TABLE copies DROP COLUMN selected;"
        "ALTER TABLE messages DROP COLUMN opened; ALTER TABLE messages DROP COLUMN kept;"
        "ALTER TABLE messages DROP COLUMN confidence; ALTER TABLE copies DROP COLUMN confidence;";
    std::string error;
    if (GetParam()) {
      EXPECT_TRUE(PgExec(Location, drop + "UPDATE brontel_schema SET version = 3;", error)) << error;
      return;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Location.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, (drop + "PRAGMA user_version = 3;").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  std::optional<TTempDir> Dir;
  std::string Location;
};

INSTANTIATE_TEST_SUITE_P(Backends, ConfidenceStore, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

TEST_P(ConfidenceStore, ConfidencesAreKeptWithEveryCopyAndAStoreFromBeforeIsBroughtUpToDate)
{
  Add(*Open(), Received({"ZCZC KA31", "ICE REPORT", "NNNN"}, Day0));  // the exact path: none
  MakeSchema3();
  auto s = Open();
  ASSERT_TRUE(s);
  // A robust repeat of the message from before keeps its confidences; the
  // message, repaired with a copy that has none, has none.
  const TMessage ice = Robust({"ZCZC KA31", "ICE REPORT", "NNNN"}, Day0 + Hour);
  EXPECT_TRUE(Add(*s, ice).Repeat);
  // Two robust copies, each unsure of another character.
  const std::vector<std::string> lines = {"ZCZC OA12", "GALE WARNING FT, REPORT", "NNNN"};
  const TMessage a = Robust(lines, Day0 + Hour, {{2, 0.25f}}), b = Robust(lines, Day0 + 2 * Hour, {{14, 0.5f}});
  Add(*s, a);
  EXPECT_EQ(Add(*s, b).Confidence.size(), a.Confidence.size());

  std::vector<TMessage> all, ofIce, ofGale;
  std::string error;
  ASSERT_TRUE(s->List({}, all, error) && all.size() == 2u) << error;
  ASSERT_TRUE(s->Copies(all[0].StoreId, ofIce, error) && s->Copies(all[1].StoreId, ofGale, error)) << error;
  EXPECT_TRUE(all[0].Confidence.empty());
  EXPECT_EQ(ofIce.at(1).Confidence, ice.Confidence);
  EXPECT_EQ(ofGale.at(0).Confidence, a.Confidence) << "each copy as received";
  EXPECT_EQ(ofGale.at(1).Confidence, b.Confidence);
  // Where one copy was unsure the other's sure character makes it surer.
  ASSERT_EQ(all[1].Confidence.size(), a.Confidence.size());
  EXPECT_GT(std::min(all[1].Confidence[2], all[1].Confidence[14]), 0.9f);
  EXPECT_LT(all[1].Cer, std::min(a.Cer, b.Cer));
}

TEST_P(ConfidenceStore, OnlyAReadableCopyMakesLaterCopiesRepeats)
{
  auto s = Open();
  const std::vector<std::string> lines = {"ZCZC OA21", "NAVAREA I 123/26 WRECK IN 51-10N 001-20E", "NNNN"};
  std::vector<std::pair<int, float>> poor;  // an estimated error rate well over 4 %
  for (int i = 0; i < 40; i += 4) poor.push_back({i, 0.4f});
  struct TStep {
    const char* Name;
    TMessage Copy;
    bool Repeat;
  };
  const TStep steps[] = {
      {"a poor first copy", Robust(lines, Day0, poor), false},
      // It makes the first characters sure, but not enough of them.
      {"a sure copy cut short", Robust({"ZCZC OA21", "NAVAREA I 123/26"}, Day0 + Hour), false},
      {"a clean copy is announced", Robust(lines, Day0 + 2 * Hour), false},
      {"one after it is a repeat, however poor", Robust(lines, Day0 + 3 * Hour, poor), true},
  };
  ASSERT_GT(steps[0].Copy.Cer, 0.1);
  for (const TStep& step : steps) {
    const TMessage shown = Add(*s, step.Copy);
    EXPECT_EQ(shown.Repeat, step.Repeat) << step.Name;
  }
  std::vector<TMessage> found, copies;
  std::string error;
  ASSERT_TRUE(s->Find("OA21", found, error) && found.size() == 1u) << "one message all the same " << error;
  ASSERT_TRUE(s->Copies(found[0].StoreId, copies, error)) << error;
  std::string repeats;
  for (const TMessage& c : copies) repeats += c.Repeat ? 'r' : '-';
  EXPECT_EQ(repeats, "---r");

  // Serial 00 is never a repeat, however readable.
  for (int i = 0; i < 2; ++i) EXPECT_FALSE(Add(*s, Robust({"ZCZC OA00", "ALWAYS", "NNNN"}, Day0 + i * Hour)).Repeat);
}

TEST(Doubt, TextIsCutIntoRunsOfSureAndDoubtfulCharacters)
{
  using R = TTextRun;
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<float> Confidence;
    std::vector<TTextRun> Runs;
  };
  const TCase cases[] = {
      {"a run inside", "GALE", {1.0f, 0.5f, 0.3f, 0.95f}, {R{"G", false}, R{"AL", true}, R{"E", false}}},
      {"at the threshold is sure", "AB", {0.9f, 0.89f}, {R{"A", false}, R{"B", true}}},
      {"line ends are never doubtful, nor counted",
       "AB\nCD",
       {0.5f, 0.5f, 0.5f, 1.0f},
       {R{"AB", true}, R{"\n", false}, R{"C", true}, R{"D", false}}},
      {"an erasure says so itself", "A*B", {0.5f, 0.0f, 0.5f}, {R{"A", true}, R{"*", false}, R{"B", true}}},
      {"two-byte characters whole", "\x93\x8C\x8B\x9E", {0.95f, 0.5f}, {R{"\x93\x8C", false}, R{"\x8B\x9E", true}}},
      {"confidences that do not match the text", "ABC", {0.1f}, {R{"ABC", false}}},
      {"none known", "ABC", {}, {R{"ABC", false}}},
      {"no text", "", {}, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(DoubtRuns(c.Text, c.Confidence, 0.9), c.Runs);
  }
  const std::vector<float> p = {1.0f, 0.5f, 0.3f, 0.95f, 0.2f};
  EXPECT_EQ(MarkDoubt("GALE!", p, 0.9), "G[AL]E[!]");
  EXPECT_EQ(MarkDoubt("GALE!", p, 0.4, "<", ">"), "GA<L>E<!>");
}

TEST(Doubt, TheMessagesToolMarksAndListsConfidences)
{
  TTempDir dir("doubt-tool");
  {
    std::string error;
    auto s = TMessageStore::Open(dir.Store, TMessageStore::TMode::Create, error);
    ASSERT_TRUE(s) << error;
    Add(*s, Robust({"ZCZC OA21", "GALE FT, REPORT", "NNNN"}, Day0, {{5, 0.6f}, {6, 0.12345f}}));
    Add(*s, Received({"ZCZC OA22", "GALE FT, REPORT", "NNNN"}, Day0 + 1));  // the exact path: none known
  }
  auto tool = [&](const std::string& args) {
    return brontel::test::RunShell(BRONTEL_BINARY_DIR "/tools/brontel-messages --store " + dir.Store + " " + args +
                                   " 2>&1");
  };
  struct TCase {
    std::string Args;
    int Status;
    std::string Has;  // in the output
  };
  const TCase cases[] = {
      {"show OA21 --mark-doubtful", 0, "\nGALE [FT], REPORT\n"},
      {"show OA21 --mark-doubtful --doubt-below 0.5", 0, "\nGALE F[T], REPORT\n"},
      {"list --mark-doubtful", 0, "  GALE [FT], REPORT\n"},
      {"list --mark-doubtful", 0, "  GALE FT, REPORT\n"},  // the exact copy: nothing known
      {"show OA21 --copies --mark-doubtful", 0, "copy received by"},
      {"show OA21", 0, "\nGALE FT, REPORT\n"},
      {"export --json", 0, R"("confidence":[0.999,0.999,0.999,0.999,0.999,0.6,0.123,0.999,)"},
      {"export --json --mark-doubtful", 2, "--json"},
      {"show OA21 --doubt-below 0.5", 2, "--mark-doubtful"},
      {"show OA21 --mark-doubtful --doubt-below 2", 2, "--doubt-below"},
  };
  for (const TCase& c : cases) {
    const auto r = tool(c.Args);
    EXPECT_EQ(r.Status, c.Status) << c.Args << "\n" << r.Out;
    EXPECT_NE(r.Out.find(c.Has), std::string::npos) << c.Args << "\n" << r.Out;
  }
  const std::string exact = tool("show OA22 --json").Out;
  EXPECT_TRUE(exact.find("OA22") != std::string::npos && exact.find("confidence") == std::string::npos) << exact;
}

}  // namespace
}  // namespace brontel::msg
