// The MQTT feed against a real Mosquitto broker: order and topics, the
// retained status, a broker restart, brokers that are not there, a full
// queue; and the parsing of its options.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "net/mqtt_feed.h"
#include "net/mqtt_secure_broker.h"
#include "net/mqtt_test_broker.h"

namespace brontel::net {
namespace {

using namespace std::chrono_literals;
using test::TMqttBroker;
using test::TReceived;
using test::TSubscriber;

// A topic prefix of this test's own, so that runs and cases never see each
// other's messages (retained ones included).
std::string FreshPrefix()
{
  std::random_device rd;
  return "brontel-test/" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
         std::to_string(::getpid()) + "-" + std::to_string(rd() % 1000000);
}

// Notices, kept for the test to read.
struct TNotices {
  std::mutex Mu;
  std::vector<std::string> Lines;
  std::function<void(const std::string&)> Sink()
  {
    return [this](const std::string& s) {
      std::lock_guard lock(Mu);
      Lines.push_back(s);
    };
  }
  bool Has(const std::string& part)
  {
    std::lock_guard lock(Mu);
    for (const auto& l : Lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  std::string All()
  {
    std::lock_guard lock(Mu);
    std::string s;
    for (const auto& l : Lines) s += l + "\n";
    return s;
  }
};

TMqttOptions FeedOptions(const std::string& prefix, TNotices& notices)
{
  TMqttOptions o;
  o.Broker = TMqttBroker::Get().Address();
  o.TopicPrefix = prefix;
  o.Receiver = "test-receiver";
  o.RetryMin = 0.2;
  o.RetryMax = 1.0;
  o.Notice = notices.Sink();
  return o;
}

std::string MessageJson(int n) { return R"({"id":"EA)" + std::to_string(n) + R"(","text":"MESSAGE )" + std::to_string(n) + "\"}"; }

TEST(MqttOptions, BrokerAddressesAndIdentities)
{
  struct TCase {
    const char* Text;
    bool Ok;
    const char* Host;
    int Port;
    bool Tls;
  };
  const TCase cases[] = {
      {"broker.lan", true, "broker.lan", 1883, false},
      {"broker.lan:1884", true, "broker.lan", 1884, false},
      {"mqtt://10.0.0.2", true, "10.0.0.2", 1883, false},
      {"mqtts://broker.lan", true, "broker.lan", 8883, true},
      {"mqtts://broker.lan:443/", true, "broker.lan", 443, true},
      {"[::1]:1990", true, "::1", 1990, false},
      {"mqtts://[fd00::5]", true, "fd00::5", 8883, true},
      {"", false, "", 0, false},
      {"broker.lan:", false, "", 0, false},
      {"broker.lan:0", false, "", 0, false},
      {"broker.lan:65536", false, "", 0, false},
      {"broker.lan:18x3", false, "", 0, false},
      {"::1:1883", false, "", 0, false},
      {"[::1", false, "", 0, false},
      {"http://broker.lan", false, "", 0, false},
      {"user@broker.lan", false, "", 0, false},
  };
  for (const auto& c : cases) {
    TBrokerAddress a;
    std::string error;
    EXPECT_EQ(ParseBrokerAddress(c.Text, a, error), c.Ok) << c.Text;
    if (!c.Ok) {
      EXPECT_NE(error.find(c.Text), std::string::npos) << "the error names the address: " << error;
      continue;
    }
    EXPECT_EQ(a.Host, c.Host) << c.Text;
    EXPECT_EQ(a.Port, c.Port) << c.Text;
    EXPECT_EQ(a.Tls, c.Tls) << c.Text;
  }

  // Identities as received, erasures and figures-shift characters included.
  EXPECT_EQ(TopicLevel("EA01"), "EA01");
  EXPECT_EQ(TopicLevel("E*39"), "E*39");
  EXPECT_EQ(TopicLevel("A/+#"), "A___");
  EXPECT_EQ(TopicLevel("J A\x82"), "J_A_");
  EXPECT_EQ(TopicLevel(""), "none");
}

TEST(MqttOptions, CredentialsFileAndBadOptionsAreRefusedAtStart)
{
  const auto dir = std::filesystem::temp_directory_path() / ("brontel-mqtt-opts-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto write = [&](const char* name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return (dir / name).string();
  };
  std::string user, password, error;
  EXPECT_TRUE(ReadCredentials(write("crlf", "watch\r\nse:cr et\r\n"), user, password, error)) << error;
  EXPECT_EQ(user, "watch");
  EXPECT_EQ(password, "se:cr et");
  EXPECT_TRUE(ReadCredentials(write("user-only", "watch"), user, password, error)) << error;
  EXPECT_EQ(user, "watch");
  EXPECT_EQ(password, "");
  EXPECT_FALSE(ReadCredentials(write("empty", ""), user, password, error));
  EXPECT_FALSE(ReadCredentials((dir / "missing").string(), user, password, error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;

  TNotices notices;
  struct TCase {
    const char* What;
    std::function<void(TMqttOptions&)> Change;
  };
  const TCase bad[] = {
      {"address", [](TMqttOptions& o) { o.Broker = "broker.lan:99999"; }},
      {"wildcard prefix", [](TMqttOptions& o) { o.TopicPrefix = "navtex/#"; }},
      {"empty prefix", [](TMqttOptions& o) { o.TopicPrefix.assign(2, '/'); }},
      {"credentials", [&](TMqttOptions& o) { o.CredentialsFile = (dir / "missing").string(); }},
      {"CA file", [&](TMqttOptions& o) { o.CaFile = (dir / "missing-ca.pem").string(); }},
  };
  for (const auto& c : bad) {
    TMqttOptions o = FeedOptions("navtex", notices);
    c.Change(o);
    TMqttFeed feed(o);
    std::string why;
    EXPECT_FALSE(feed.Start(why)) << c.What;
    EXPECT_FALSE(why.empty()) << c.What;
    EXPECT_FALSE(feed.Publish("EA01", "{}", false)) << "a feed that did not start takes nothing: " << c.What;
  }
  std::filesystem::remove_all(dir);
}

TEST(MqttFeed, MessagesArriveInOrderOnTheirTopicsAtQos1)
{
  ASSERT_TRUE(TMqttBroker::Get().Ok());
  const std::string prefix = FreshPrefix();
  TSubscriber sub(prefix + "/#");
  ASSERT_TRUE(sub.WaitSubscribed());

  struct sigaction before {};
  ::sigaction(SIGPIPE, nullptr, &before);

  TNotices notices;
  TMqttOptions o = FeedOptions(prefix + "/", notices);  // a final '/' is not doubled
  o.Window = 3;                                          // several rounds of acknowledgements
  TMqttFeed feed(o);
  std::string error;
  ASSERT_TRUE(feed.Start(error)) << error;

  const int n = 40;
  std::vector<std::pair<std::string, std::string>> sent;  // topic, payload
  for (int i = 0; i < n; ++i) {
    const bool repeat = i % 3 == 2;
    const std::string id = i == 7 ? "E*39" : "EA" + std::to_string(i);
    ASSERT_TRUE(feed.Publish(id, MessageJson(i) + "\n", repeat));
    sent.emplace_back(prefix + (repeat ? "/repeat/" : "/message/") + TopicLevel(id), MessageJson(i));
  }
  ASSERT_TRUE(test::Eventually([&] { return feed.Stats().Delivered == n; }, 20s)) << notices.All();
  auto isMessage = [&](const TReceived& r) { return r.Topic.find("/status") == std::string::npos; };
  ASSERT_TRUE(sub.WaitFor([&](const std::vector<TReceived>& got) {
    return std::count_if(got.begin(), got.end(), isMessage) >= n;
  }));

  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& r : sub.Received()) {
    if (!isMessage(r)) continue;
    EXPECT_EQ(r.Qos, 1) << r.Topic;
    EXPECT_FALSE(r.Retain) << r.Topic;
    got.emplace_back(r.Topic, r.Payload);
  }
  EXPECT_EQ(got, sent);
  const TMqttFeedStats s = feed.Stats();
  EXPECT_TRUE(s.Connected);
  EXPECT_EQ(s.Accepted, static_cast<uint64_t>(n));
  EXPECT_EQ(s.Queued + s.InFlight + s.Dropped + s.Refused, 0u);
  EXPECT_TRUE(notices.Has("connected to " + TMqttBroker::Get().Address())) << notices.All();

  struct sigaction after {};
  ::sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler) << "the feed leaves the program's SIGPIPE handling alone";
}

TEST(MqttFeed, RetainedStatusIsWhatANewSubscriberGets)
{
  ASSERT_TRUE(TMqttBroker::Get().Ok());
  const std::string prefix = FreshPrefix();
  TNotices notices;
  auto feed = std::make_unique<TMqttFeed>(FeedOptions(prefix, notices));
  std::string error;
  ASSERT_TRUE(feed->Start(error)) << error;

  TMqttStatus first;
  first.Path = "exact";
  feed->SetStatus(first);
  TMqttStatus status;
  status.Path = "robust";
  status.Signal = true;
  status.SnrDb = 12.345;
  status.FrequencyKhz = 490.0;
  status.LastMessageId = "EB12";
  status.LastMessageUtc = 1796640125.0;  // 2026-12-07T10:42:05Z
  feed->SetStatus(status);

  // The newest status, retained, whenever someone subscribes after it.
  auto statusOf = [&](TSubscriber& sub) {
    EXPECT_TRUE(sub.WaitCount(1, 5s));
    const auto got = sub.Received();
    return got.empty() ? TReceived{} : got.front();
  };
  nlohmann::json j;
  ASSERT_TRUE(test::Eventually(
      [&] {
        TSubscriber late(prefix + "/status");
        const TReceived r = statusOf(late);
        j = nlohmann::json::parse(r.Payload.empty() ? "{}" : r.Payload);
        return r.Retain && j.value("path", "") == "robust";
      },
      10s))
      << j.dump();
  EXPECT_EQ(j["receiver"], "test-receiver");
  EXPECT_EQ(j["online"], true);
  EXPECT_EQ(j["signal"], true);
  EXPECT_DOUBLE_EQ(j["snr_db"].get<double>(), 12.3);
  EXPECT_DOUBLE_EQ(j["frequency_khz"].get<double>(), 490.0);
  EXPECT_EQ(j["last_message"]["id"], "EB12");
  EXPECT_EQ(j["last_message"]["time"], "2026-12-07T10:42:05Z");

  // A receiver that stops says so in the same place, keeping what it knew.
  feed.reset();
  TSubscriber after(prefix + "/status");
  const TReceived r = statusOf(after);
  EXPECT_TRUE(r.Retain);
  const auto off = nlohmann::json::parse(r.Payload.empty() ? "{}" : r.Payload);
  EXPECT_EQ(off.value("online", true), false) << r.Payload;
  EXPECT_EQ(off["last_message"]["id"], "EB12") << r.Payload;
}

TEST(MqttFeed, AReceiverThatDiesIsShownOffline)
{
  ASSERT_TRUE(TMqttBroker::Get().Ok());
  const std::string prefix = FreshPrefix();
  TSubscriber watch(prefix + "/status");
  ASSERT_TRUE(watch.WaitSubscribed());
  std::FILE* probe = ::popen(("exec '" + std::string(BRONTEL_MQTT_PROBE) + "' " + TMqttBroker::Get().Address() +
                              " '" + prefix + "' & echo $!").c_str(), "r");
  ASSERT_NE(probe, nullptr);
  int pid = 0;
  char line[64] = {};
  ASSERT_EQ(std::fscanf(probe, "%d", &pid), 1);
  ASSERT_TRUE(std::fgets(line, sizeof line, probe) && std::fgets(line, sizeof line, probe));
  EXPECT_STREQ(line, "connected\n");
  auto online = [](const TReceived& r) {
    return nlohmann::json::parse(r.Payload, nullptr, false).value("online", false);
  };
  EXPECT_TRUE(watch.WaitFor([&](const auto& got) { return !got.empty() && online(got.back()); }, 10s));

  ::kill(pid, SIGKILL);
  ::pclose(probe);
  EXPECT_TRUE(watch.WaitFor([&](const auto& got) { return !got.empty() && !online(got.back()); }, 10s));
  TSubscriber late(prefix + "/status");
  ASSERT_TRUE(late.WaitCount(1, 5s));
  const TReceived r = late.Received().front();
  EXPECT_TRUE(r.Retain);
  EXPECT_FALSE(online(r)) << r.Payload;
  EXPECT_EQ(nlohmann::json::parse(r.Payload, nullptr, false).value("receiver", ""), "probe") << r.Payload;
}

TEST(MqttFeed, BrokerRestartLosesNoMessage)
{
  TMqttBroker& broker = TMqttBroker::Get();
  ASSERT_TRUE(broker.Ok());
  const std::string prefix = FreshPrefix();
  // A subscriber with a session the broker keeps across its restart.
  TSubscriber sub(prefix + "/message/#", "brontel-test-sub-" + std::to_string(::getpid()), true);
  ASSERT_TRUE(sub.WaitSubscribed());

  TNotices notices;
  TMqttOptions o = FeedOptions(prefix, notices);
  o.Window = 4;
  TMqttFeed feed(o);
  std::string error;
  ASSERT_TRUE(feed.Start(error)) << error;
  ASSERT_TRUE(test::Eventually([&] { return feed.Stats().Connected; }, 10s)) << notices.All();

  int next = 0;
  auto publish = [&](int count, std::chrono::milliseconds gap) {
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(feed.Publish("EA" + std::to_string(next), MessageJson(next), false));
      ++next;
      std::this_thread::sleep_for(gap);
    }
  };
  publish(30, 0ms);  // before: some still unacknowledged when the broker goes
  bool restarted = false;
  std::thread admin([&] { restarted = broker.Restart(); });
  publish(40, 10ms);  // during
  admin.join();
  ASSERT_TRUE(restarted);
  publish(30, 0ms);  // after
  const int total = next;

  ASSERT_TRUE(test::Eventually([&] { return feed.Stats().Delivered == static_cast<uint64_t>(total); }, 30s))
      << notices.All();
  // Everything arrives; a message whose acknowledgement was lost may come
  // twice, but each first arrival is in order.
  std::vector<int> firsts;
  ASSERT_TRUE(sub.WaitFor(
      [&](const std::vector<TReceived>& got) {
        std::vector<bool> seen(total, false);
        firsts.clear();
        for (const auto& r : got) {
          const int k = std::stoi(r.Topic.substr(r.Topic.rfind("/EA") + 3));
          if (k >= 0 && k < total && !seen[k]) {
            seen[k] = true;
            firsts.push_back(k);
          }
        }
        return static_cast<int>(firsts.size()) == total;
      },
      30s))
      << "first arrivals: " << firsts.size() << " of " << total << "\n"
      << notices.All();
  EXPECT_TRUE(std::is_sorted(firsts.begin(), firsts.end()));
  const TMqttFeedStats s = feed.Stats();
  EXPECT_GE(s.Connections, 2u) << "the broker restart was noticed";
  EXPECT_EQ(s.Dropped, 0u);
  EXPECT_TRUE(notices.Has("lost the connection")) << notices.All();
}

// A port on which something listens and never answers.
class TSilentListener {
public:
  TSilentListener()
  {
    Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(Fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(Fd, 4) == 0 &&
        ::getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      Port = ntohs(a.sin_port);
  }
  ~TSilentListener() { ::close(Fd); }
  int Port = 0;

private:
  int Fd = -1;
};

// A port nothing listens on.
int ClosedPort()
{
  TSilentListener l;
  return l.Port;  // closed again on return
}

TEST(MqttFeed, UnreachableBrokerIsReportedAndNeverBlocks)
{
  TSilentListener silent;
  ASSERT_GT(silent.Port, 0);
  struct TCase {
    std::string Broker;
    std::string Said;  // part of the notice
  };
  const TCase cases[] = {
      {"127.0.0.1:" + std::to_string(ClosedPort()), "refused"},
      {"broker.invalid:1883", "cannot resolve 'broker.invalid'"},
      {"127.0.0.1:" + std::to_string(silent.Port), "no answer from an MQTT broker within 1 s"},
  };
  for (const auto& c : cases) {
    TNotices notices;
    TMqttOptions o = FeedOptions("navtex", notices);
    o.Broker = c.Broker;
    o.ConnectTimeout = 1.0;
    o.DrainTimeout = 5.0;  // not waited for: nothing can be delivered
    auto feed = std::make_unique<TMqttFeed>(o);
    std::string error;
    ASSERT_TRUE(feed->Start(error)) << error;
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(feed->Publish("EA" + std::to_string(i), MessageJson(i), false));
    EXPECT_TRUE(test::Eventually([&] { return notices.Has(c.Said); }, 8s)) << c.Broker << ":\n" << notices.All();
    const TMqttFeedStats s = feed->Stats();
    EXPECT_FALSE(s.Connected) << c.Broker;
    EXPECT_EQ(s.Queued, 25u) << c.Broker;
    EXPECT_NE(s.LastError, "") << c.Broker;

    const auto t0 = std::chrono::steady_clock::now();
    feed.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s) << c.Broker << ": stopping does not hang";
    EXPECT_TRUE(notices.Has("25 messages were not delivered")) << c.Broker << ":\n" << notices.All();
  }
}

TEST(MqttFeed, FullQueueDropsTheOldestAndSaysSo)
{
  ASSERT_TRUE(TMqttBroker::Get().Ok());
  const std::string prefix = FreshPrefix();
  TSubscriber sub(prefix + "/message/#");
  ASSERT_TRUE(sub.WaitSubscribed());

  TNotices notices;
  TMqttOptions o = FeedOptions(prefix, notices);
  o.QueueLimit = 6;
  o.Window = 2;
  TMqttFeed feed(o);
  std::string error;
  ASSERT_TRUE(feed.Start(error)) << error;
  const int n = 200;  // far faster than a broker acknowledges
  for (int i = 0; i < n; ++i) ASSERT_TRUE(feed.Publish("EA" + std::to_string(i), MessageJson(i), false));

  ASSERT_TRUE(test::Eventually([&] {
    const auto s = feed.Stats();
    return s.Queued + s.InFlight == 0;
  }, 20s));
  const TMqttFeedStats s = feed.Stats();
  ASSERT_GT(s.Dropped, 0u);
  EXPECT_EQ(s.Delivered + s.Dropped, static_cast<uint64_t>(n));
  ASSERT_TRUE(sub.WaitCount(s.Delivered));
  std::vector<int> got;
  for (const auto& r : sub.Received()) got.push_back(std::stoi(r.Topic.substr(r.Topic.rfind("/EA") + 3)));
  EXPECT_EQ(got.size(), s.Delivered);
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
  // The newest were kept: the last ones published all arrived.
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(std::vector<int>(got.end() - 4, got.end()), (std::vector<int>{n - 4, n - 3, n - 2, n - 1}));
  EXPECT_TRUE(test::Eventually([&] { return notices.Has("messages were dropped while the queue was full"); }, 5s))
      << notices.All();
  EXPECT_TRUE(notices.Has("is full")) << notices.All();
}

TEST(MqttFeed, PasswordAndTlsBrokers)
{
  test::TSecureBroker broker;
  ASSERT_TRUE(broker.Ok()) << broker.Log();
  const std::string dir = broker.Folder();
  std::ofstream(dir + "/good") << test::TSecureBroker::User << "\n" << test::TSecureBroker::Password << "\n";
  std::ofstream(dir + "/wrong") << test::TSecureBroker::User << "\nguess\n";
  const std::string password = "127.0.0.1:" + std::to_string(broker.PasswordPort);
  const std::string tls = "127.0.0.1:" + std::to_string(broker.TlsPort);
  struct TCase {
    std::string Broker, Credentials, Ca;
    bool Tls;
    const char* Said;  // empty: connects and delivers
  };
  const TCase cases[] = {
      {"mqtt://" + password, dir + "/good", "", false, ""},
      {password, dir + "/wrong", "", false, "the broker refused the connection: not authorised;"},
      {password, "", "", false, "the broker refused the connection: not authorised;"},
      {"mqtts://" + tls, "", broker.CaFile(), false, ""},
      {tls, "", broker.CaFile(), true, ""},
      {"mqtts://" + tls, "", "", false, "certificate verify failed"},  // not signed by a CA of the system
  };
  for (const auto& c : cases) {
    TNotices notices;
    TMqttOptions o = FeedOptions("navtex", notices);
    o.Broker = c.Broker;
    o.CredentialsFile = c.Credentials;
    o.CaFile = c.Ca;
    o.Tls = c.Tls;
    o.DrainTimeout = 0;
    TMqttFeed feed(o);
    std::string error;
    ASSERT_TRUE(feed.Start(error)) << error;
    ASSERT_TRUE(feed.Publish("EA01", MessageJson(1), false));
    const std::string what = c.Broker + " " + c.Credentials + " " + c.Ca;
    if (!*c.Said) {
      EXPECT_TRUE(test::Eventually([&] { return feed.Stats().Delivered == 1; }, 10s))
          << what << ":\n" << notices.All() << broker.Log();
      continue;
    }
    EXPECT_TRUE(test::Eventually([&] { return notices.Has(c.Said); }, 10s)) << what << ":\n" << notices.All();
    EXPECT_EQ(feed.Stats().Connections, 0u) << what;
  }
}

}  // namespace
}  // namespace brontel::net
