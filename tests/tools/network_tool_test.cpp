// brontel-decode in a network of receivers, against the tests' PostgreSQL
// cluster and Mosquitto broker: several receivers storing the same messages
// at once, a receiver killed or cut off from the database, and a broker that
// restarts while a receiver publishes.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "messages/pg_test_cluster.h"
#include "net/mqtt_test_broker.h"
#include "support/run_command.h"
#include "support/test_audio.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using brontel::msg::test::PgExec;
using brontel::msg::test::PgValue;
using brontel::msg::test::TPgCluster;
using brontel::msg::test::TShutOut;
using brontel::test::Eventually;
using brontel::test::TMqttBroker;
using brontel::test::TReceived;
using brontel::test::TSubscriber;

const std::string Decode = BRONTEL_BINARY_DIR "/tools/brontel-decode";

struct TTemp {
  fs::path Dir = fs::temp_directory_path() /
                 ("brontel-net-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  TTemp() { fs::create_directories(Dir); }
  ~TTemp() { fs::remove_all(Dir); }
  std::string operator/(const std::string& name) const { return (Dir / name).string(); }
};

// The emissions of `ids`, one after another, each with a text of its own.
std::vector<int16_t> Emissions(const std::vector<std::string>& ids)
{
  std::vector<int16_t> pcm;
  for (const std::string& id : ids) {
    const auto e = brontel::test::EnglishEmission("ZCZC " + id + "\nNAVAREA WARNING " + id + " BUOY UNLIT\nNNNN\n", 2.0);
    pcm.insert(pcm.end(), e.begin(), e.end());
  }
  return pcm;
}

std::string Wav(const TTemp& t, const std::string& name, const std::vector<std::string>& ids)
{
  const std::string path = t / name;
  brontel::test::WriteStereoWav(path, ids.empty() ? std::vector<int16_t>(44100, 0) : Emissions(ids), false);
  return path;
}

int RunDecode(const std::string& args)
{
  return brontel::test::RunShell(Decode + " " + args + " >/dev/null 2>&1").Status;
}

// Each stored message's identity with the receivers of its copies: "OA01:a,b".
std::vector<std::string> Stored(const std::string& uri)
{
  std::vector<std::string> rows;
  std::string error;
  EXPECT_TRUE(PgExec(uri,
                     "SELECT m.ident || ':' || string_agg(c.receiver || '@' || coalesce(c.frequency::text, '-'), ','"
                     " ORDER BY c.receiver) FROM messages m JOIN copies c ON c.message_id = m.id"
                     " GROUP BY m.id, m.ident ORDER BY m.ident",
                     error, &rows))
      << error;
  return rows;
}

// Settings that cannot work are refused before anything is decoded: bad
// usage with status 2, a file or topic that cannot be used with status 1.
TEST(NetworkTool, BrokerSettingsThatCannotWorkAreRefusedAtOnce)
{
  TTemp t;
  const std::string wav = Wav(t, "a.wav", {});
  const struct {
    std::string Args;
    int Status;
    std::string Said;
  } cases[] = {
      {"--mqtt 'mqtt://[::1'", 2, "closing ']'"},
      {"--mqtt localhost:99999", 2, "99999"},
      {"--bits --mqtt localhost", 2, "--bits"},
      {"--mqtt-ca ca.pem", 2, "need --mqtt"},
      {"--mqtt localhost --mqtt-topic 'a/#'", 1, "cannot start an MQTT topic"},
      {"--mqtt localhost --mqtt-credentials " + t / "none", 1, t / "none"},
  };
  for (const auto& c : cases) {
    const brontel::test::TCommandResult r = brontel::test::RunShell(Decode + " " + c.Args + " " + wav + " 2>&1");
    EXPECT_EQ(r.Status, c.Status) << c.Args << ": " << r.Out;
    EXPECT_NE(r.Out.find(c.Said), std::string::npos) << c.Args << ": " << r.Out;
  }
}

TEST(NetworkTool, FourReceiversStoringAtOnceGiveOneMessageWithFourCopies)
{
  TPgCluster& pg = TPgCluster::Shared();
  ASSERT_TRUE(pg.Ok()) << "no PostgreSQL cluster could be started";
  const std::string uri = pg.NewDatabase("four");
  ASSERT_FALSE(uri.empty());
  TTemp t;
  const std::string wav = Wav(t, "two.wav", {"OA01", "OB02"});
  std::string script = "pids=; for r in north south east west; do '" + Decode + "' --store '" + uri +
                       "' --receiver $r --frequency 490 --spool '" + t / "spool-" + "'$r '" + wav +
                       "' >/dev/null 2>&1 & pids=\"$pids $!\"; done; s=0; for p in $pids; do wait $p || s=1; done; exit $s";
  EXPECT_EQ(brontel::test::RunShell(script).Status, 0);
  const std::string four = "east@490,north@490,south@490,west@490";
  EXPECT_EQ(Stored(uri), (std::vector<std::string>{"OA01:" + four, "OB02:" + four}));
}

TEST(NetworkTool, NothingIsLostWhenTheDatabaseIsAwayOrAReceiverIsKilled)
{
  ASSERT_TRUE(TPgCluster::Shared().Ok()) << "no PostgreSQL cluster could be started";
  TShutOut role("netrx_" + std::to_string(::getpid()));
  const std::string admin = TPgCluster::Shared().Uri(role.Name);
  TTemp t;
  const std::string spool = t / "spool.sqlite";
  const std::string common = "--store '" + role.Uri + "' --spool '" + spool + "' --receiver harbour ";

  // Away for a whole run: the copies wait in the spool, which is no failure,
  // and the next run (after the database came back) stores them first.
  role.Allow(false);
  EXPECT_EQ(RunDecode(common + Wav(t, "early.wav", {"OA11", "OB12"})), 0);
  role.Allow(true);
  EXPECT_EQ(PgValue(admin, "SELECT to_regclass('messages') IS NULL"), "t") << "nothing stored yet";

  // Killed while storing: every message it reported stored is there; what it
  // had not stored yet waits in the spool for the next run.
  const std::vector<std::string> ids = {"OC21", "OD22", "OE23", "OF24", "OG25", "OH26"};
  const std::string out = t / "out.jsonl", pid = t / "pid";
  const std::string wav = Wav(t, "late.wav", ids);
  std::ofstream(t / "rx.sh") << "echo $$ > '" << pid << "'\nexec '" << Decode << "' " << common << "--json --output '"
                              << out << "' '" << wav << "' 2>/dev/null\n";
  std::system(("sh '" + t / "rx.sh" + "' &").c_str());
  auto reported = [&] {
    std::ifstream f(out);
    std::vector<std::string> stored;
    for (std::string line; std::getline(f, line);)
      if (const auto j = nlohmann::json::parse(line, nullptr, false); j.is_object() && j.contains("store_id"))
        stored.push_back(j.value("id", ""));
    return stored;
  };
  ASSERT_TRUE(Eventually([&] { return !reported().empty(); }, 60s));
  int rx = 0;
  std::ifstream(pid) >> rx;
  ASSERT_GT(rx, 0);
  ::kill(rx, SIGKILL);
  const std::vector<std::string> before = reported();
  std::vector<std::string> there;
  std::string error;
  ASSERT_TRUE(PgExec(admin, "SELECT ident FROM messages ORDER BY ident", error, &there)) << error;
  for (const std::string& id : before) EXPECT_TRUE(std::count(there.begin(), there.end(), id) == 1) << id;

  // The next run of the receiver stores what was kept, each copy once.
  EXPECT_EQ(RunDecode(common + Wav(t, "quiet.wav", {})), 0);
  EXPECT_EQ(RunDecode(common + Wav(t, "quiet.wav", {})), 0);
  std::vector<std::string> want = {"OA11:harbour@-", "OB12:harbour@-"};
  const std::vector<std::string> all = Stored(admin);
  for (std::size_t i = 0; i < ids.size() && want.size() < all.size(); ++i) want.push_back(ids[i] + ":harbour@-");
  EXPECT_EQ(all, want) << before.size() << " reported stored before the kill";
  EXPECT_GE(all.size(), 2 + before.size());
}

TEST(NetworkTool, ABrokerRestartDuringARunLosesNoMessage)
{
  TMqttBroker& broker = TMqttBroker::Get();
  ASSERT_TRUE(broker.Ok());
  const std::string prefix = "brontel-net-" + std::to_string(::getpid());
  TSubscriber messages(prefix + "/message/#", prefix + "-messages", true);
  TSubscriber status(prefix + "/status", prefix + "-status", true);
  ASSERT_TRUE(messages.WaitSubscribed() && status.WaitSubscribed());
  TTemp t;

  // Raw sound on standard input, so that the run lasts as long as the test
  // feeds it.
  std::FILE* rx = ::popen((Decode + " --raw-channels 1 --receiver quay --frequency 518 --mqtt " + broker.Address() +
                           " --mqtt-topic " + prefix + " --json --output '" + t / "out.jsonl" + "' - 2>'" +
                           t / "err" + "'")
                              .c_str(),
                          "we");
  ASSERT_TRUE(rx);
  auto feed = [&](const std::vector<std::string>& ids) {
    // The receiver hears the band go quiet after the last one.
    std::vector<int16_t> pcm = Emissions(ids);
    pcm.resize(pcm.size() + 3 * 44100, 0);
    std::fwrite(pcm.data(), sizeof(int16_t), pcm.size(), rx);
    std::fflush(rx);
  };
  // A message is handed on after a block that follows its storing, so the
  // band goes on (quiet) until it has come.
  auto arrived = [&](std::size_t n) {
    const std::vector<int16_t> quiet(4410, 0);
    for (int i = 0; i < 120; ++i) {
      if (messages.WaitCount(n, 1s)) return true;
      std::fwrite(quiet.data(), sizeof(int16_t), quiet.size(), rx);
      std::fflush(rx);
    }
    return false;
  };
  auto said = [&] {
    std::ifstream err(t / "err");
    return std::string((std::istreambuf_iterator<char>(err)), {});
  };
  feed({"OA31"});
  ASSERT_TRUE(arrived(1)) << said();
  bool restarted = false;
  std::thread admin([&] { restarted = broker.Restart(); });
  feed({"OB32", "OC33"});
  admin.join();
  feed({"OD34"});
  const int exit = ::pclose(rx);
  ASSERT_TRUE(restarted);
  EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0) << said();
  ASSERT_TRUE(messages.WaitCount(4, 30s)) << said();

  std::set<std::string> ids;
  for (const TReceived& r : messages.Received()) {
    const auto j = nlohmann::json::parse(r.Payload, nullptr, false);
    EXPECT_EQ(r.Topic, prefix + "/message/" + j.value("id", "?"));
    EXPECT_EQ(j.value("receiver", ""), "quay");
    EXPECT_EQ(j.value("frequency", 0.0), 518.0);
    ids.insert(j.value("id", ""));
  }
  EXPECT_EQ(ids, (std::set<std::string>{"OA31", "OB32", "OC33", "OD34"}));
  // The retained status ends offline, naming the last message.
  ASSERT_TRUE(status.WaitFor([](const std::vector<TReceived>& got) {
    return !got.empty() && nlohmann::json::parse(got.back().Payload, nullptr, false).value("online", true) == false;
  })) << said();
  const std::vector<TReceived> states = status.Received();
  const auto last = nlohmann::json::parse(states.back().Payload, nullptr, false);
  EXPECT_EQ(last.value("receiver", ""), "quay");
  EXPECT_EQ(last.value("frequency_khz", 0.0), 518.0);
  EXPECT_EQ(last.value("path", ""), "exact");
  EXPECT_EQ(last["last_message"].value("id", ""), "OD34");
}

}  // namespace
