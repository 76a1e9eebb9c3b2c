// brontel-messages as a user runs it, on a store filled through the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "decoder/cp932.h"
#include "messages/assembler.h"
#include "messages/store.h"
#include "pg_test_cluster.h"
#include "store_support.h"
#include "support/run_command.h"

namespace brontel::msg {
namespace {

namespace fs = std::filesystem;

using TRun = brontel::test::TCommandResult;
using test::Bytes;

TRun Tool(const std::string& args)
{
  return brontel::test::RunShell(BRONTEL_BINARY_DIR "/tools/brontel-messages " + args + " 2>&1");
}

class MessagesTool : public ::testing::Test {
protected:
  void SetUp() override
  {
    Path = (fs::temp_directory_path() / ("brontel-tool-" + std::to_string(::getpid()) + ".sqlite")).string();
    Clean();
    std::string error;
    auto store = TMessageStore::Open(Path, TMessageStore::TMode::Create, error);
    ASSERT_TRUE(store) << error;
    TAssemblerOptions o;
    o.Epoch = 1796634000.0;  // 2026-12-07T09:00:00Z
    TMessageAssembler a(
        [&](TMessage&& m) {
          TMessage shown;
          ASSERT_TRUE(store->Add(m, shown, error)) << error;
        },
        o);
    double t = 0;
    for (const char* line : {"ZCZC KA31", "BUOY UNLIT 35-12N 139-45E", "NNNN", "ZCZC KD02", "MAYDAY RELAY VESSEL ON FIRE",
                             "NNNN", "ZCZC OE77", "WIND NW 6", "NNNN", "ZCZC KA31", "BUOY UNLIT 35-12N 139-45E", "NNNN"}) {
      a.Line(line, t += 20);
      if (std::string_view(line) == "NNNN") t += 3600;  // the next message an hour later
    }
  }
  void TearDown() override { Clean(); }
  void Clean() const
  {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(Path + suffix);
  }
  std::string Path;
};

TEST_F(MessagesTool, ListShowExportAndFilters)
{
  TRun r = Tool("--store " + Path + " list");
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 3) << r.Out;
  EXPECT_NE(r.Out.find("KA31"), std::string::npos);
  EXPECT_NE(r.Out.find("2 copies"), std::string::npos);

  r = Tool("--store " + Path + " list --station k --subject D");
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("MAYDAY"), std::string::npos);
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 1) << r.Out;

  r = Tool("--store " + Path + " list --since 2026-12-07T10:30Z --until 2026-12-07T11:30 --grep wind");
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 1) << r.Out;
  EXPECT_NE(r.Out.find("OE77"), std::string::npos);

  r = Tool("--store " + Path + " show ka31");
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("BUOY UNLIT 35-12N 139-45E\n"), std::string::npos) << r.Out;

  r = Tool("--store " + Path + " export --json");
  EXPECT_EQ(r.Status, 0);
  std::istringstream lines(r.Out);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object()) << line;
    for (const char* key : {"id", "station", "subject", "subject_name", "serial", "text", "status", "erasures", "cer",
                            "start", "end", "service", "decoder", "repeat"})
      EXPECT_TRUE(j.contains(key)) << key;
    if (n++ == 0) {
      EXPECT_EQ(j["id"], "KA31");
      EXPECT_EQ(j["serial"], 31);
      EXPECT_EQ(j["start"], "2026-12-07T09:00:20Z");
      EXPECT_EQ(j["status"], "complete");
    }
  }
  EXPECT_EQ(n, 3);

  // Only what an earlier --new did not print: list, show and export above mark nothing.
  r = Tool("--store " + Path + " list --new");
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 3) << r.Out;
  EXPECT_EQ(Tool("--store " + Path + " list --new").Out, "");
}

// The station's name for the same letter depends on where the listener is
// (NAVAREA I or XI, or a position); the positions in the text go into the
// JSON and into GeoJSON and GPX that parsers accept.
TEST_F(MessagesTool, StationNamesPositionsAndChartExports)
{
  const struct {
    const char* Where;
    const char* Name;
  } listeners[] = {{"I", "Niton"}, {"'50.7,-1.3'", "Niton"}, {"XI", "Kushiro"}, {"'43-00N 144-00E'", "Kushiro"}};
  for (const auto& l : listeners) {
    const TRun r = Tool("--store " + Path + " --position " + l.Where + " --json show KA31");
    ASSERT_EQ(r.Status, 0) << l.Where << r.Out;
    const nlohmann::json j = nlohmann::json::parse(r.Out);
    EXPECT_EQ(j.value("station_name", ""), l.Name) << l.Where;
    EXPECT_EQ(j["positions"], nlohmann::json::parse("[[35.2, 139.75]]")) << r.Out;
  }
  EXPECT_EQ(Tool("--store " + Path + " --position north list").Status, 2);
  const nlohmann::json none = nlohmann::json::parse(Tool("--store " + Path + " --position I --json show OE77").Out);
  EXPECT_TRUE(none["positions"].empty());

  TRun r = Tool("--store " + Path + " --position I export --geojson");
  ASSERT_EQ(r.Status, 0) << r.Out;
  const nlohmann::json geo = nlohmann::json::parse(r.Out);
  EXPECT_EQ(geo["type"], "FeatureCollection");
  ASSERT_EQ(geo["features"].size(), 1u) << "only the message with a position";
  EXPECT_EQ(geo["features"][0]["geometry"]["coordinates"], nlohmann::json::parse("[139.75, 35.2]"));
  EXPECT_EQ(geo["features"][0]["properties"]["station"], "Niton");

  const std::string gpx = Path + ".gpx";
  r = Tool("--store " + Path + " export --gpx --station K > " + gpx);
  ASSERT_EQ(r.Status, 0) << r.Out;
  r = brontel::test::RunShell("xmllint --xpath \"count(//*[local-name()='wpt'])\" " + gpx + " 2>&1");
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_EQ(r.Out.substr(0, r.Out.find_last_not_of("\n") + 1), "1") << "well formed, one waypoint";
  fs::remove(gpx);
  EXPECT_EQ(Tool("--store " + Path + " export --gpx --geojson").Status, 2);
}

TEST_F(MessagesTool, ExitStatus)
{
  EXPECT_EQ(Tool("--store " + Path + " show ZZ99").Status, 1);
  EXPECT_EQ(Tool("--store " + Path + ".missing list").Status, 1);
  EXPECT_EQ(Tool("--store " + Path + " list --since yesterday").Status, 2);
  EXPECT_EQ(Tool("--store " + Path + " list --bogus").Status, 2);
  EXPECT_EQ(Tool("--store " + Path).Status, 2);
  // An empty value would quietly switch the option off.
  for (const char* empty : {"--store '' list", "list --since ''", "list --until ''", "list --station ''",
                            "export --subject ''", "list --grep ''"}) {
    const TRun e = Tool((std::string(empty).rfind("--store", 0) == 0 ? "" : "--store " + Path + " ") + empty);
    EXPECT_EQ(e.Status, 2) << empty;
    EXPECT_NE(e.Out.find("needs a value"), std::string::npos) << empty << ": " << e.Out;
  }
}

TEST_F(MessagesTool, NewMarksOnlyWhatItWroteOut)
{
  // Output that cannot be written: status 1, and the messages stay new.
  TRun r = brontel::test::RunShell(BRONTEL_BINARY_DIR "/tools/brontel-messages --store " + Path +
                                   " list --new 2>&1 >/dev/full");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find("cannot write"), std::string::npos) << r.Out;
  EXPECT_EQ(Tool("--store " + Path + " export --json >/dev/full").Status, 1);
  r = Tool("--store " + Path + " export --new --json");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 3) << r.Out;
  EXPECT_EQ(Tool("--store " + Path + " export --new").Out, "");
}

TEST_F(MessagesTool, ListAndGrepTakeTheTextAsItIs)
{
  {
    std::string error, japanese;  // 東京湾 repeated: two bytes a character, cut anywhere by a byte count
    for (int i = 0; i < 15; ++i) japanese += "\x93\x8C\x8B\x9E\x98\x70";
    auto store = TMessageStore::Open(Path, TMessageStore::TMode::Existing, error);
    TMessage shown;
    for (const std::vector<std::string>& lines : {std::vector<std::string>{"ZCZC JA01", japanese, "NNNN"},
                                                  {"ZCZC OA50", "RATE 100% CERTAIN", "NNNN"},
                                                  {"ZCZC OA51", "PATH A_B AND C\\D", "NNNN"}})
      ASSERT_TRUE(store && store->Add(test::Received(lines), shown, error)) << error;
  }
  const TRun r = Tool("--store " + Path + " list");
  std::string back;
  EXPECT_TRUE(Utf8ToCp932(r.Out, back)) << "valid UTF-8: " << r.Out;
  EXPECT_NE(r.Out.find("\xE6\x9D\xB1\xE4\xBA\xAC..."), std::string::npos) << "cut after whole characters: " << r.Out;

  // LIKE's wildcards and its escape are searched for as themselves.
  const std::vector<std::pair<std::string, std::string>> searches = {
      {"%", "OA50"}, {"0%", "OA50"}, {"_", "OA51"}, {"A_B", "OA51"}, {"\\", "OA51"}, {"c\\d", "OA51"}};
  for (const auto& [grep, id] : searches) {
    const TRun g = Tool("--store " + Path + " list --grep '" + grep + "'");
    EXPECT_EQ(std::count(g.Out.begin(), g.Out.end(), '\n'), 1) << grep << ": " << g.Out;
    EXPECT_NE(g.Out.find(id), std::string::npos) << grep << ": " << g.Out;
  }
}

TEST_F(MessagesTool, AStoreThatMayNotBeWrittenIsReadAndNeverChanged)
{
  // A store and an empty file in a folder, none of them writable by the
  // user running the tool (root runs it as nobody).
  test::TTempDir dir("tool");
  fs::copy_file(Path, dir.Store);
  const std::string empty = (dir.Dir / "empty.sqlite").string();
  std::ofstream(empty).flush();
  const fs::perms r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  for (const std::string& f : {dir.Store, empty}) fs::permissions(f, r);
  fs::permissions(dir.Dir, r | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  auto tool = [&](const std::string& args) {
    return brontel::test::RunShell(as + BRONTEL_BINARY_DIR "/tools/brontel-messages --store " + args + " 2>&1");
  };
  const std::string before = Bytes(dir.Store);

  for (const char* command : {" list", " show KA31 --copies", " export --json"}) {
    const TRun run = tool(dir.Store + command);
    EXPECT_EQ(run.Status, 0) << command << ": " << run.Out;
    EXPECT_NE(run.Out.find("KA31"), std::string::npos) << command << ": " << run.Out;
  }
  // --new would mark what it printed: refused before printing anything.
  TRun run = tool(dir.Store + " list --new");
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out.find("KA31"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("cannot be written"), std::string::npos) << run.Out;
  // An empty file holds no message, and reading leaves it empty.
  run = tool(empty + " list");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(run.Out, "");

  EXPECT_EQ(Bytes(dir.Store), before);
  EXPECT_EQ(fs::file_size(empty), 0u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Dir), fs::directory_iterator()), 2) << "nothing made beside them";
}

TEST(MessagesToolOnADatabase, OneMessageWithTheCopiesOfEveryReceiver)
{
  ASSERT_TRUE(test::TPgCluster::Shared().Ok()) << "no PostgreSQL cluster could be started";
  const std::string uri = test::TPgCluster::Shared().NewDatabase("tool");
  {
    std::string error;
    auto store = TMessageStore::Open(uri, TMessageStore::TMode::Create, error);
    ASSERT_TRUE(store) << error;
    const struct {
      const char* Receiver;
      double Khz;
      const char* Heard;
    } heard[] = {{"north", 518.0, "GALE *ARNING"}, {"south", 490.0, "G*LE WARNING"}, {"ship", 4209.5, "GALE WARN*NG"}};
    for (const auto& h : heard) {
      TMessage copy = test::Received({"ZCZC OA12", h.Heard, "NNNN"});
      copy.Receiver = h.Receiver;
      copy.Frequency = h.Khz;
      TMessage shown;
      ASSERT_TRUE(store->Add(copy, shown, error)) << error;
    }
  }
  const std::string store = "--store '" + uri + "' ";
  TRun r = Tool(store + "list");
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 1) << r.Out;
  EXPECT_NE(r.Out.find("3 copies  GALE WARNING"), std::string::npos) << "the best of the three: " << r.Out;

  r = Tool(store + "show OA12 --copies");
  EXPECT_EQ(r.Status, 0) << r.Out;
  for (const char* from : {"received by north on 518 kHz", "received by south on 490 kHz", "received by ship on 4209.5 kHz"})
    EXPECT_NE(r.Out.find(from), std::string::npos) << from << ": " << r.Out;

  r = Tool(store + "show OA12 --copies --json");
  std::istringstream lines(r.Out);
  std::string line;
  std::vector<std::pair<std::string, double>> copies;
  std::getline(lines, line);  // the message (with its first reception's receiver), then its copies
  while (std::getline(lines, line)) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object()) << line;
    if (j.contains("receiver")) copies.emplace_back(j["receiver"], j["frequency"]);
  }
  EXPECT_EQ(copies, (std::vector<std::pair<std::string, double>>{{"north", 518.0}, {"south", 490.0}, {"ship", 4209.5}}));
}

}  // namespace
}  // namespace brontel::msg
