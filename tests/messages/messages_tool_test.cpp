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

#include "messages/assembler.h"
#include "messages/store.h"
#include "support/run_command.h"

namespace brontel::msg {
namespace {

namespace fs = std::filesystem;

using TRun = brontel::test::TCommandResult;

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

  // Only what was not printed before.
  EXPECT_EQ(Tool("--store " + Path + " list --new").Out, "");
}

TEST_F(MessagesTool, ExitStatus)
{
  EXPECT_EQ(Tool("--store " + Path + " show ZZ99").Status, 1);
  EXPECT_EQ(Tool("--store " + Path + ".missing list").Status, 1);
  EXPECT_EQ(Tool("--store " + Path + " list --since yesterday").Status, 2);
  EXPECT_EQ(Tool("--store " + Path + " list --bogus").Status, 2);
  EXPECT_EQ(Tool("--store " + Path).Status, 2);
}

}  // namespace
}  // namespace brontel::msg
