// The MQTT feed against real Mosquitto brokers: order and topics, the
// retained status and the last will, a broker restart, brokers that refuse or
// are not there, a full queue; and the parsing of its options.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <random>

#include "net/mqtt_feed.h"
#include "net/mqtt_test_broker.h"

namespace brontel::net {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::TMqttBroker;
using test::TReceived;
using test::TSubscriber;

// A topic prefix of the test's own, so that runs and cases (retained
// messages included) never meet.
std::string FreshPrefix()
{
  return "brontel-test/" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
         std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}() % 1000000);
}

struct TNotices {
  std::mutex Mu;
  std::string Text;
  bool Has(const std::string& part)
  {
    std::lock_guard lock(Mu);
    return Text.find(part) != std::string::npos;
  }
  std::string All()
  {
    std::lock_guard lock(Mu);
    return Text;
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
  o.Notice = [&notices](const std::string& s) {
    std::lock_guard lock(notices.Mu);
    notices.Text += s + "\n";
  };
  return o;
}

std::string MessageJson(int n) { return R"({"id":"EA)" + std::to_string(n) + R"(","text":"MESSAGE )" + std::to_string(n) + "\"}"; }
int Number(const TReceived& r) { return std::stoi(r.Topic.substr(r.Topic.rfind("/EA") + 3)); }
nlohmann::json Json(const TReceived& r) { return nlohmann::json::parse(r.Payload, nullptr, false); }

TEST(MqttOptions, AddressesIdentitiesAndFiles)
{
  struct TCase {
    const char* Text;
    const char* Host;  // null: refused
    int Port;
    bool Tls;
  };
  const TCase cases[] = {
      {"broker.lan", "broker.lan", 1883, false},      {"mqtt://10.0.0.2:1884", "10.0.0.2", 1884, false},
      {"mqtts://b.lan:443/", "b.lan", 443, true},     {"mqtts://[fd00::5]", "fd00::5", 8883, true},
      {"[::1]:1990", "::1", 1990, false},             {"broker.lan:", nullptr, 0, false},
      {"broker.lan:65536", nullptr, 0, false},        {"broker.lan:18x3", nullptr, 0, false},
      {"::1:1883", nullptr, 0, false},                {"http://broker.lan", nullptr, 0, false},
  };

  for (const auto& c : cases) {
    TBrokerAddress a;
    std::string error;
    ASSERT_EQ(ParseBrokerAddress(c.Text, a, error), c.Host != nullptr) << c.Text;
    if (!c.Host) {
      EXPECT_NE(error.find(c.Text), std::string::npos) << "the error names the address: " << error;
    } else {
      EXPECT_TRUE(a.Host == c.Host && a.Port == c.Port && a.Tls == c.Tls) << c.Text;
    }
  }
  // Identities as received: erasures kept, figures-shift characters and
  // wildcards made harmless.
  EXPECT_EQ(TopicLevel("E*39"), "E*39");
  EXPECT_EQ(TopicLevel("A/+#"), "A___");
  EXPECT_EQ(TopicLevel("J A\x82"), "J_A_");
  EXPECT_EQ(TopicLevel(""), "none");

  const std::string dir = ::testing::TempDir();
  std::ofstream(dir + "/crlf", std::ios::binary) << "watch\r\nse:cr et\r\n";
  std::ofstream(dir + "/user-only") << "watch";
  std::ofstream(dir + "/empty");
  std::string user, password, error;
  EXPECT_TRUE(ReadCredentials(dir + "/crlf", user, password, error) && user == "watch" && password == "se:cr et");
  EXPECT_TRUE(ReadCredentials(dir + "/user-only", user, password, error) && user == "watch" && password.empty());
  EXPECT_FALSE(ReadCredentials(dir + "/empty", user, password, error));
  EXPECT_FALSE(ReadCredentials(dir + "/missing", user, password, error));

  // Options that cannot work are refused by Start, and nothing is taken.
  TNotices notices;
  const std::function<void(TMqttOptions&)> bad[] = {
      [](TMqttOptions& o) { o.Broker = "broker.lan:99999"; },
      [](TMqttOptions& o) { o.TopicPrefix = "navtex/#"; },
      [](TMqttOptions& o) { o.TopicPrefix.assign(2, '/'); },
      [&](TMqttOptions& o) { o.CredentialsFile = dir + "/missing"; },
      [&](TMqttOptions& o) { o.CaFile = dir + "/missing"; },
  };
  for (std::size_t i = 0; i < std::size(bad); ++i) {
    TMqttOptions o = FeedOptions("navtex", notices);
    bad[i](o);
    TMqttFeed feed(o);
    EXPECT_FALSE(feed.Start(error)) << i;
    EXPECT_FALSE(error.empty()) << i;
    EXPECT_FALSE(feed.Publish("EA01", "{}", false)) << i;
  }
}

TEST(MqttFeed, MessagesArriveInOrderOnTheirTopicsAtQos1)
{
  ASSERT_TRUE(TMqttBroker::Get().Ok());
  const std::string prefix = FreshPrefix();
  TSubscriber sub(prefix + "/+/+");
  ASSERT_TRUE(sub.WaitSubscribed());
  struct sigaction before {}, after{};
  ::sigaction(SIGPIPE, nullptr, &before);

  TNotices notices;
  TMqttOptions o = FeedOptions(prefix + "/", notices);  // a final '/' is not doubled
  o.Window = 3;                                          // several rounds of acknowledgements
  TMqttFeed feed(o);
  std::string error;
  ASSERT_TRUE(feed.Start(error)) << error;
  const int n = 40;
  std::vector<std::pair<std::string, std::string>> sent, got;  // topic, payload
  for (int i = 0; i < n; ++i) {
    const bool repeat = i % 3 == 2;
    const std::string id = i == 7 ? "E*39" : "EA" + std::to_string(i);
    ASSERT_TRUE(feed.Publish(id, MessageJson(i) + "\n", repeat));
    sent.emplace_back(prefix + (repeat ? "/repeat/" : "/message/") + TopicLevel(id), MessageJson(i));
  }
  ASSERT_TRUE(Eventually([&] { return feed.Stats().Delivered == n; }, 20s)) << notices.All();
  ASSERT_TRUE(sub.WaitCount(n));
  for (const auto& r : sub.Received()) {
    EXPECT_TRUE(r.Qos == 1 && !r.Retain) << r.Topic;
    got.emplace_back(r.Topic, r.Payload);
  }
  EXPECT_EQ(got, sent);
  const TMqttFeedStats s = feed.Stats();
  EXPECT_TRUE(s.Connected && s.Accepted == n && s.Queued + s.InFlight + s.Dropped + s.Refused == 0);
  EXPECT_TRUE(notices.Has("connected to " + TMqttBroker::Get().Address())) << notices.All();
  ::sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler) << "the feed leaves the program's SIGPIPE handling alone";
}

TEST(MqttFeed, StatusIsRetainedAndSaysWhenTheReceiverStopsOrDies)
{
  ASSERT_TRUE(TMqttBroker::Get().Ok());
  const std::string prefix = FreshPrefix();
  auto retained = [&] {  // what a new subscriber gets: the retained status, or null
    TSubscriber late(prefix + "/status");
    late.WaitCount(1, 2s);
    const auto got = late.Received();
    return got.empty() || !got[0].Retain ? nlohmann::json() : Json(got[0]);
  };
  TMqttStatus status;
  status.Path = "robust";
  status.Signal = true;
  status.SnrDb = 12.345;
  status.FrequencyKhz = 490.0;
  status.LastMessageId = "EB12";
  status.LastMessageUtc = 1796640125.0;  // 2026-12-07T10:42:05Z

  // A receiver killed outright: the broker shows its last will.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // never outlives a failed test
    TNotices quiet;
    TMqttFeed feed(FeedOptions(prefix, quiet));
    std::string error;
    feed.Start(error);
    feed.SetStatus(status);
    Eventually([&] { return feed.Stats().Connected; }, 10s);
    std::this_thread::sleep_for(200ms);  // the status acknowledged
    (void)!::write(ready[1], "r", 1);
    for (;;) ::pause();
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  auto online = [](const nlohmann::json& j) { return j.is_object() && j.value("online", false); };
  auto offline = [](const nlohmann::json& j) { return j.is_object() && !j.value("online", true); };
  EXPECT_TRUE(Eventually([&] { return online(retained()); }, 10s));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(Eventually([&] { return offline(retained()); }, 10s));

  TNotices notices;
  auto feed = std::make_unique<TMqttFeed>(FeedOptions(prefix, notices));
  std::string error;
  ASSERT_TRUE(feed->Start(error)) << error;
  TMqttStatus first;
  first.Path = "exact";
  feed->SetStatus(first);
  feed->SetStatus(status);  // only the newest counts
  nlohmann::json j;
  ASSERT_TRUE(Eventually([&] { return (j = retained()).is_object() && j.value("path", "") == "robust"; }, 10s))
      << j.dump();
  const nlohmann::json want = {{"receiver", "test-receiver"}, {"online", true}, {"path", "robust"},
                               {"signal", true}, {"snr_db", 12.3}, {"frequency_khz", 490.0},
                               {"last_message", {{"id", "EB12"}, {"time", "2026-12-07T10:42:05Z"}}}};
  j.erase("updated");
  EXPECT_EQ(j, want);

  feed.reset();  // a receiver that stops says so, keeping what it knew
  j = retained();
  ASSERT_TRUE(offline(j)) << j.dump();
  EXPECT_EQ(j["last_message"]["id"], "EB12") << j.dump();
}

TEST(MqttFeed, BrokerRestartLosesNoMessage)
{
  TMqttBroker& broker = TMqttBroker::Get();
  ASSERT_TRUE(broker.Ok());
  const std::string prefix = FreshPrefix();
  TSubscriber sub(prefix + "/message/#", "brontel-test-" + std::to_string(::getpid()), true);
  ASSERT_TRUE(sub.WaitSubscribed());
  TNotices notices;
  TMqttOptions o = FeedOptions(prefix, notices);
  o.Window = 4;
  o.DrainTimeout = 60.0;  // longer than a restart takes on a loaded machine
  TMqttFeed feed(o);
  std::string error;
  ASSERT_TRUE(feed.Start(error)) << error;
  ASSERT_TRUE(Eventually([&] { return feed.Stats().Connected; }, 10s)) << notices.All();

  int next = 0;
  auto publish = [&](int count, std::chrono::milliseconds gap) {
    for (int i = 0; i < count; ++i, ++next) {
      ASSERT_TRUE(feed.Publish("EA" + std::to_string(next), MessageJson(next), false));
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
  ASSERT_TRUE(Eventually([&] { return feed.Stats().Delivered == static_cast<uint64_t>(total); }, 30s))
      << notices.All();
  // Everything arrives; one whose acknowledgement was lost may come twice,
  // but the first arrivals are in order.
  std::vector<int> firsts;
  EXPECT_TRUE(sub.WaitFor([&](const std::vector<TReceived>& got) {
    std::vector<bool> seen(total, false);
    firsts.clear();
    for (const auto& r : got)
      if (const int k = Number(r); k >= 0 && k < total && !seen[k]) seen[k] = true, firsts.push_back(k);
    return static_cast<int>(firsts.size()) == total;
  })) << firsts.size() << " of " << total << " arrived\n" << notices.All();
  EXPECT_TRUE(std::is_sorted(firsts.begin(), firsts.end()));
  EXPECT_TRUE(feed.Stats().Connections >= 2 && notices.Has("lost the connection")) << notices.All();

  // A feed stopped while its broker is away (a restart at the end of a run)
  // waits for it to come back and hands over what was still waiting.
  std::thread again([&] { restarted = broker.Restart(); });
  const bool wentAway = Eventually([&] { return !feed.Stats().Connected; }, 10s);
  publish(10, 0ms);
  feed.Stop();
  again.join();
  ASSERT_TRUE(wentAway && restarted);
  EXPECT_EQ(feed.Stats().Delivered, static_cast<uint64_t>(next)) << notices.All();
  EXPECT_TRUE(sub.WaitFor([&](const std::vector<TReceived>& got) {
    return std::any_of(got.begin(), got.end(), [&](const TReceived& r) { return Number(r) == next - 1; });
  })) << notices.All();
}

// Brokers that want a password or speak TLS take the feed's messages; those
// that refuse it or are not there are said, and never block the feed.
TEST(MqttFeed, PasswordsTlsAndBrokersThatRefuseOrAreNotThere)
{
  test::TSecureBroker secure;
  ASSERT_TRUE(secure.Ok()) << secure.Log();
  std::ofstream(secure.Folder() + "/good") << "watch\ns3cret:pass\n";
  std::ofstream(secure.Folder() + "/wrong") << "watch\nguess\n";
  // A port on which something listens and never answers, and a closed one.
  const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), closed = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_TRUE(::bind(closed, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
              ::getsockname(closed, reinterpret_cast<sockaddr*>(&a), &len) == 0);
  const std::string closedPort = std::to_string(ntohs(a.sin_port));
  ::close(closed);
  a.sin_port = 0;
  ASSERT_TRUE(::bind(silent, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(silent, 4) == 0 &&
              ::getsockname(silent, reinterpret_cast<sockaddr*>(&a), &len) == 0);
  const std::string password = "127.0.0.1:" + std::to_string(secure.PasswordPort);
  const std::string tls = "127.0.0.1:" + std::to_string(secure.TlsPort);
  const std::string good = secure.Folder() + "/good", wrong = secure.Folder() + "/wrong", ca = secure.CaFile();
  struct TCase {
    std::string Broker, Credentials, Ca;
    bool Tls;
    std::string Said;  // empty: connects and delivers
  };
  const TCase cases[] = {
      {"mqtt://" + password, good, "", false, ""},
      {"mqtts://" + tls, "", ca, false, ""},
      {tls, "", ca, true, ""},
      {"127.0.0.1:" + closedPort, "", "", false, "refused"},
      {"broker.invalid", "", "", false, "cannot resolve 'broker.invalid'"},
      {"127.0.0.1:" + std::to_string(ntohs(a.sin_port)), "", "", false, "no answer from an MQTT broker within 1 s"},
      {password, wrong, "", false, "the broker refused the connection: not authorised;"},
      {password, "", "", false, "the broker refused the connection: not authorised;"},
      {"mqtts://" + tls, "", "", false, "certificate verify failed"},  // an authority the system does not know
  };
  for (const auto& c : cases) {
    TNotices notices;
    TMqttOptions o = FeedOptions("navtex", notices);
    o.Broker = c.Broker;
    o.CredentialsFile = c.Credentials;
    o.CaFile = c.Ca;
    o.Tls = c.Tls;
    o.ConnectTimeout = 1.0;
    o.DrainTimeout = 5.0;  // not waited for when nothing can be delivered
    auto feed = std::make_unique<TMqttFeed>(o);
    std::string error;
    ASSERT_TRUE(feed->Start(error)) << error;
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(feed->Publish("EA" + std::to_string(i), MessageJson(i), false));
    if (c.Said.empty()) {
      EXPECT_TRUE(Eventually([&] { return feed->Stats().Delivered == 25; }, 10s)) << c.Broker << "\n" << notices.All();
      continue;
    }
    EXPECT_TRUE(Eventually([&] { return notices.Has(c.Said); }, 8s)) << c.Broker << ":\n" << notices.All();
    const TMqttFeedStats s = feed->Stats();
    EXPECT_TRUE(!s.Connected && s.Connections == 0 && s.Queued == 25 && !s.LastError.empty()) << c.Broker;
    const auto t0 = std::chrono::steady_clock::now();
    feed.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s) << c.Broker << ": stopping does not hang";
    EXPECT_TRUE(notices.Has("25 messages were not delivered")) << c.Broker << ":\n" << notices.All();
  }
  ::close(silent);
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
  ASSERT_TRUE(Eventually([&] { return feed.Stats().Queued + feed.Stats().InFlight == 0; }, 20s));
  const TMqttFeedStats s = feed.Stats();
  ASSERT_GT(s.Dropped, 0u);
  EXPECT_EQ(s.Delivered + s.Dropped, static_cast<uint64_t>(n));
  ASSERT_TRUE(sub.WaitCount(s.Delivered));
  std::vector<int> got;
  for (const auto& r : sub.Received()) got.push_back(Number(r));
  EXPECT_EQ(got.size(), s.Delivered);
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got.back(), n - 1) << "the newest are kept";
  EXPECT_EQ(got[got.size() - 4], n - 4);
  EXPECT_TRUE(Eventually([&] { return notices.Has("messages were dropped while the queue was full"); }, 5s));
  EXPECT_TRUE(notices.Has("is full")) << notices.All();
}

}  // namespace
}  // namespace brontel::net
