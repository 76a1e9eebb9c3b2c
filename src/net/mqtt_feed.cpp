#include "net/mqtt_feed.h"

#include <mosquitto.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace brontel::net {

namespace {

using TClock = std::chrono::steady_clock;

bool ParsePort(std::string_view digits, int& port)
{
  if (digits.empty() || digits.size() > 5) return false;
  int value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || value < 1 || value > 65535) return false;
  port = value;
  return true;
}

std::string UtcNow()
{
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string IsoUtc(double utc)
{
  const auto t = static_cast<std::time_t>(utc);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The client library's error text, without its final full stop.
std::string ErrorText(int rc)
{
  std::string text = mosquitto_strerror(rc);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string HostName()
{
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) return "receiver";
  return name;
}

std::string DefaultClientId()
{
  std::random_device rd;
  char id[32];
  std::snprintf(id, sizeof id, "brontel-%d-%04x", static_cast<int>(::getpid()), static_cast<unsigned>(rd() & 0xFFFF));
  return id;
}

void LibraryInit()
{
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// The client library ignores SIGPIPE for the whole process when it opens a
// socket; the feed's thread blocks it instead, and this puts back what the
// program had chosen.
class TKeepSigpipe {
public:
  TKeepSigpipe() { Saved = ::sigaction(SIGPIPE, nullptr, &Old) == 0; }
  ~TKeepSigpipe()
  {
    if (Saved) ::sigaction(SIGPIPE, &Old, nullptr);
  }

private:
  struct sigaction Old {};
  bool Saved = false;
};

}  // namespace

bool ParseBrokerAddress(std::string_view text, TBrokerAddress& address, std::string& error)
{
  TBrokerAddress a;
  std::string_view rest = text;
  if (rest.starts_with("mqtts://")) {
    a.Tls = true;
    a.Port = 8883;
    rest.remove_prefix(8);
  } else if (rest.starts_with("mqtt://")) {
    rest.remove_prefix(7);
  } else if (rest.find("://") != std::string_view::npos) {
    error = "'" + std::string(text) + "': only mqtt:// and mqtts:// brokers are known";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view host = rest, port;
  if (rest.starts_with("[")) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close == 1) {
      error = "'" + std::string(text) + "': an IPv6 address needs its closing ']'";
      return false;
    }
    host = rest.substr(1, close - 1);
    std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') {
        error = "'" + std::string(text) + "' is not HOST[:PORT]";
        return false;
      }
      port = after.substr(1);
      if (port.empty()) port = "-";
    }
  } else if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
    if (rest.find(':') != colon) {
      error = "'" + std::string(text) + "': write an IPv6 address in brackets, [ADDRESS]:PORT";
      return false;
    }
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (port.empty()) port = "-";
  }
  if (host.empty() || host.find_first_of("/@ ") != std::string_view::npos) {
    error = "'" + std::string(text) + "' is not HOST[:PORT]";
    return false;
  }
  if (!port.empty() && !ParsePort(port, a.Port)) {
    error = "'" + std::string(text) + "': the port must be a number from 1 to 65535";
    return false;
  }
  a.Host = std::string(host);
  address = a;
  return true;
}

bool ReadCredentials(const std::string& path, std::string& user, std::string& password, std::string& error)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the MQTT credentials file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::string u, p;
  std::getline(in, u);
  const bool hasPassword = static_cast<bool>(std::getline(in, p));
  if (in.bad()) {
    error = "cannot read the MQTT credentials file '" + path + "'";
    return false;
  }
  for (std::string* s : {&u, &p})
    if (!s->empty() && s->back() == '\r') s->pop_back();
  if (u.empty()) {
    error = "the MQTT credentials file '" + path + "' has no user name on its first line";
    return false;
  }
  user = u;
  password = hasPassword ? p : std::string();
  return true;
}

std::string TopicLevel(std::string_view id)
{
  if (id.empty()) return "none";
  std::string level(id);
  for (char& c : level) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*';
    if (!keep) c = '_';
  }
  return level;
}

// ---------------------------------------------------------------------------

struct TMqttFeed::TImpl {
  struct TItem {
    uint64_t Seq = 0;
    std::string Topic;
    std::string Payload;
  };

  TMqttOptions Opt;
  TBrokerAddress Addr;
  std::string Where;  // HOST:PORT for notices
  std::string Prefix;
  std::string User, Password;
  bool HasUser = false;
  std::string ClientId;
  std::string OfflineJson;

  // Shared with the callers of Publish and SetStatus.
  mutable std::mutex Mu;
  std::deque<TItem> Queue;
  std::map<int, TItem> InFlight;  // by message id of the current connection
  std::optional<TItem> Sending;   // being handed to the client library
  uint64_t NextSeq = 0;
  TMqttStatus Status;
  std::string StatusJson;
  bool StatusDirty = false;
  bool Running = false;
  bool Stopping = false;
  uint64_t UnsaidDrops = 0;
  TMqttFeedStats St;
  int WakeFd = -1;
  std::thread Thread;

  // The feed's thread only.
  mosquitto* Client = nullptr;
  bool Connected = false;
  int StatusMid = -1;
  TClock::time_point AttemptStart;
  double Retry = 1.0;
  std::string Refusal;       // the broker's reason for refusing the connection
  std::string LibraryError;  // the client library's last error line
  std::string LastSaid;      // the last failure said, so that a retry does not repeat it
  bool Leaving = false;      // saying goodbye: a lost connection is not retried
  bool DropsSaid = false;
  uint64_t DroppedSince = 0;
  std::mt19937 Jitter{std::random_device{}()};

  explicit TImpl(TMqttOptions o) : Opt(std::move(o)) {}

  void Say(const std::string& text)
  {
    if (Opt.Notice)
      Opt.Notice(text);
    else
      std::cerr << ("brontel: mqtt: " + text + '\n');  // one write, whole among other threads' lines
  }

  void Wake()
  {
    const uint64_t one = 1;
    if (WakeFd >= 0 && ::write(WakeFd, &one, sizeof one) < 0) {
      // The counter is full, so the thread is being woken anyway.
    }
  }

  void DrainWake()
  {
    uint64_t n;
    while (::read(WakeFd, &n, sizeof n) > 0) {
    }
  }

  bool IsStopping()
  {
    std::lock_guard lock(Mu);
    return Stopping;
  }

  std::string BuildStatus(const TMqttStatus& s, bool online) const
  {
    nlohmann::json j;
    j["receiver"] = Opt.Receiver;
    j["online"] = online;
    j["path"] = s.Path.empty() ? nlohmann::json(nullptr) : nlohmann::json(s.Path);
    j["signal"] = s.Signal;
    j["snr_db"] = s.SnrDb ? nlohmann::json(std::round(*s.SnrDb * 10.0) / 10.0) : nlohmann::json(nullptr);
    j["frequency_khz"] = s.FrequencyKhz ? nlohmann::json(*s.FrequencyKhz) : nlohmann::json(nullptr);
    if (s.LastMessageId.empty()) {
      j["last_message"] = nullptr;
    } else {
      nlohmann::json m;
      m["id"] = s.LastMessageId;
      m["time"] = s.LastMessageUtc > 0 ? nlohmann::json(IsoUtc(s.LastMessageUtc)) : nlohmann::json(nullptr);
      j["last_message"] = m;
    }
    j["updated"] = UtcNow();
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }

  // ---- the feed's thread ----------------------------------------------------

  static void OnConnect(mosquitto*, void* self, int rc) { static_cast<TImpl*>(self)->Connack(rc); }
  static void OnPublish(mosquitto*, void* self, int mid) { static_cast<TImpl*>(self)->Acknowledged(mid); }
  static void OnLog(mosquitto*, void* self, int level, const char* text)
  {
    if ((level & MOSQ_LOG_ERR) && text) static_cast<TImpl*>(self)->LibraryError = text;
  }

  void Connack(int rc)
  {
    if (rc != 0) {
      std::string why = mosquitto_connack_string(rc);  // "Connection Refused: not authorised."
      if (why.starts_with("Connection Refused: ")) why.erase(0, 20);
      if (!why.empty() && why.back() == '.') why.pop_back();
      Refusal = "the broker refused the connection: " + why;
      return;
    }
    Connected = true;
    Retry = Opt.RetryMin;
    std::size_t waiting;
    {
      std::lock_guard lock(Mu);
      St.Connected = true;
      ++St.Connections;
      // The broker may have put the offline status in its place meanwhile.
      StatusDirty = true;
      waiting = Queue.size();
    }
    std::string text = "connected to " + Where;
    if (waiting) text += " (" + std::to_string(waiting) + " messages waiting)";
    Say(text);
    LastSaid.clear();
  }

  void Acknowledged(int mid)
  {
    if (mid == StatusMid) {
      StatusMid = -1;
      return;
    }
    std::lock_guard lock(Mu);
    if (InFlight.erase(mid)) ++St.Delivered;
  }

  bool NewClient()
  {
    Client = mosquitto_new(ClientId.c_str(), true, this);
    if (!Client) return false;
    mosquitto_int_option(Client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(Client, OnConnect);
    mosquitto_publish_callback_set(Client, OnPublish);
    mosquitto_log_callback_set(Client, OnLog);
    const std::string statusTopic = Prefix + "/status";
    mosquitto_will_set(Client, statusTopic.c_str(), static_cast<int>(OfflineJson.size()), OfflineJson.data(), 1, true);
    if (HasUser &&
        mosquitto_username_pw_set(Client, User.c_str(), Password.empty() ? nullptr : Password.c_str()) != MOSQ_ERR_SUCCESS)
      return false;
    // A broker asked for with TLS is never spoken to without it.
    if (Addr.Tls && (Opt.CaFile.empty()
                         ? mosquitto_int_option(Client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                         : mosquitto_tls_set(Client, Opt.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr)) !=
                        MOSQ_ERR_SUCCESS)
      return false;
    return true;
  }

  // Closes the connection, if any; everything not acknowledged goes back to
  // the head of the queue, in order, to be sent on the next connection.
  void Lose(const std::string& reason)
  {
    if (Client) mosquitto_destroy(Client);
    Client = nullptr;
    const bool wasConnected = Connected;
    Connected = false;
    StatusMid = -1;
    std::size_t waiting;
    {
      std::lock_guard lock(Mu);
      std::vector<TItem> back;
      back.reserve(InFlight.size());
      for (auto& [mid, item] : InFlight) back.push_back(std::move(item));
      InFlight.clear();
      std::sort(back.begin(), back.end(), [](const TItem& a, const TItem& b) { return a.Seq < b.Seq; });
      Queue.insert(Queue.begin(), std::make_move_iterator(back.begin()), std::make_move_iterator(back.end()));
      St.Connected = false;
      St.LastError = reason;
      waiting = Queue.size();
    }
    if (wasConnected) {
      Say("lost the connection to " + Where + " (" + reason + "); " + std::to_string(waiting) + " messages waiting" +
          (Leaving ? "" : ", reconnecting"));
      LastSaid = reason;
    } else if (reason != LastSaid) {
      Say("cannot connect to " + Where + ": " + reason + "; retrying");
      LastSaid = reason;
    }
  }

  std::string Reason(int rc, int err)
  {
    if (!Refusal.empty()) return std::exchange(Refusal, {});
    std::string why;
    if (rc == MOSQ_ERR_ERRNO)
      why = std::strerror(err);
    else if (rc == MOSQ_ERR_EAI)
      why = std::string("cannot resolve '") + Addr.Host + "': " + ::gai_strerror(err);
    else
      why = ErrorText(rc);
    if ((rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_ERRNO) && !LibraryError.empty()) why += " (" + LibraryError + ")";
    LibraryError.clear();
    return why;
  }

  bool Connect()
  {
    Refusal.clear();
    LibraryError.clear();
    if (!NewClient()) {
      Lose(Opt.CaFile.empty() ? "cannot set up the client" : "cannot set up TLS with the CA file '" + Opt.CaFile + "'");
      return false;
    }
    int rc, err;
    {
      TKeepSigpipe keep;
      errno = 0;
      rc = mosquitto_connect_async(Client, Addr.Host.c_str(), Addr.Port, Opt.KeepAliveSeconds);
      err = errno;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
      Lose(Reason(rc, err));
      return false;
    }
    AttemptStart = TClock::now();
    return true;
  }

  // Waits for the socket, a wake-up or `ms`, then lets the client library
  // read, write and keep the connection alive. False when the connection is
  // gone.
  bool Step(int ms)
  {
    pollfd fds[2] = {{WakeFd, POLLIN, 0}, {mosquitto_socket(Client), POLLIN, 0}};
    if (fds[1].fd < 0) {
      Lose(Reason(MOSQ_ERR_NO_CONN, 0));
      return false;
    }
    if (mosquitto_want_write(Client)) fds[1].events |= POLLOUT;
    ::poll(fds, 2, std::max(ms, 0));
    if (fds[0].revents) DrainWake();
    int rc, err;
    {
      TKeepSigpipe keep;
      errno = 0;
      rc = mosquitto_loop(Client, 0, 1);
      err = errno;
    }
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(Client) < 0) {
      Lose(Reason(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc, err));
      return false;
    }
    if (!Connected && TClock::now() - AttemptStart > std::chrono::duration<double>(Opt.ConnectTimeout)) {
      char text[96];
      std::snprintf(text, sizeof text, "no answer from an MQTT broker within %g s", Opt.ConnectTimeout);
      Lose(text);
      return false;
    }
    return true;
  }

  // Hands the newest status and the queue's head to the connection, at most
  // Window messages unacknowledged. The client library is called without the
  // lock (its callbacks take the lock while holding the library's own); the
  // message being handed over waits in Sending meanwhile, where it still
  // counts as in flight.
  bool Pump()
  {
    std::string status;
    {
      std::lock_guard lock(Mu);
      if (StatusDirty && StatusMid < 0) {
        if (StatusJson.empty()) StatusJson = BuildStatus(Status, true);
        status = StatusJson;
        StatusDirty = false;
      }
    }
    if (!status.empty()) {
      const std::string topic = Prefix + "/status";
      int mid = 0;
      if (mosquitto_publish(Client, &mid, topic.c_str(), static_cast<int>(status.size()), status.data(), 1, true) ==
          MOSQ_ERR_SUCCESS)
        StatusMid = mid;
    }
    const std::size_t window = std::max<std::size_t>(1, std::min(Opt.Window, Opt.QueueLimit));
    for (;;) {
      TItem* item;
      {
        std::lock_guard lock(Mu);
        if (Queue.empty() || InFlight.size() >= window) return true;
        Sending = std::move(Queue.front());
        Queue.pop_front();
        item = &*Sending;
      }
      int mid = 0;
      const int rc = mosquitto_publish(Client, &mid, item->Topic.c_str(), static_cast<int>(item->Payload.size()),
                                       item->Payload.data(), 1, false);
      std::unique_lock lock(Mu);
      TItem sent = std::move(*Sending);
      Sending.reset();
      if (rc == MOSQ_ERR_SUCCESS) {
        InFlight.emplace(mid, std::move(sent));
        continue;
      }
      if (rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_MALFORMED_UTF8 ||
          rc == MOSQ_ERR_INVAL) {
        // Refused before it was sent: sending it again would not help.
        ++St.Refused;
        lock.unlock();
        Say("cannot publish to " + sent.Topic + ": " + ErrorText(rc));
        continue;
      }
      // The connection broke under the message: it goes back to the head of
      // the queue, and the older ones in flight before it.
      Queue.push_front(std::move(sent));
      lock.unlock();
      Lose(ErrorText(rc));
      return false;
    }
  }

  void SayDrops()
  {
    uint64_t drops, total;
    bool empty;
    {
      std::lock_guard lock(Mu);
      drops = std::exchange(UnsaidDrops, 0);
      empty = Queue.empty() && InFlight.empty();
      total = St.Dropped;
    }
    if (drops && !DropsSaid) {
      Say("the queue of " + std::to_string(Opt.QueueLimit) +
          " messages for the broker is full: the oldest waiting messages are dropped");
      DropsSaid = true;
      DroppedSince = total - drops;
    }
    if (DropsSaid && empty && Connected) {
      Say(std::to_string(total - DroppedSince) + " messages were dropped while the queue was full");
      DropsSaid = false;
    }
  }

  // Waits `seconds` (a little more or less, so that many receivers do not
  // all come back at once), or less when stopping. False when stopping;
  // while `draining`, waits at most until `deadline` instead.
  bool WaitRetry(bool draining, TClock::time_point deadline)
  {
    std::uniform_real_distribution<double> spread(0.8, 1.2);
    auto until = TClock::now() + std::chrono::duration_cast<TClock::duration>(
                                     std::chrono::duration<double>(Retry * spread(Jitter)));
    if (draining) until = std::min(until, deadline);
    Retry = std::min(Retry * 2.0, Opt.RetryMax);
    while (draining || !IsStopping()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TClock::now()).count();
      if (left <= 0) return true;
      pollfd fd{WakeFd, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left)) > 0) DrainWake();
      SayDrops();
    }
    return false;
  }

  void Goodbye()
  {
    if (Client && Connected) {
      // The offline status replaces the online one, then a clean disconnect
      // (which keeps the broker from sending the last will as well).
      const std::string topic = Prefix + "/status";
      std::string offline;
      {
        std::lock_guard lock(Mu);
        offline = BuildStatus(Status, false);
      }
      int mid = 0;
      Leaving = true;
      if (mosquitto_publish(Client, &mid, topic.c_str(), static_cast<int>(offline.size()), offline.data(), 1,
                            true) == MOSQ_ERR_SUCCESS) {
        StatusMid = mid;
        const auto until = TClock::now() + std::chrono::seconds(1);
        while (Client && StatusMid == mid && TClock::now() < until) Step(50);
      }
      if (Client) {
        mosquitto_disconnect(Client);
        const auto until = TClock::now() + std::chrono::seconds(1);
        while (Client && mosquitto_socket(Client) >= 0 && TClock::now() < until) {
          pollfd fd{mosquitto_socket(Client), POLLIN, 0};
          if (mosquitto_want_write(Client)) fd.events |= POLLOUT;
          ::poll(&fd, 1, 50);
          TKeepSigpipe keep;
          if (mosquitto_loop(Client, 0, 1) != MOSQ_ERR_SUCCESS) break;
        }
      }
    }
    if (Client) mosquitto_destroy(Client);
    Client = nullptr;
    Connected = false;
    std::size_t left;
    {
      std::lock_guard lock(Mu);
      St.Connected = false;
      // Still unacknowledged ones count as undelivered.
      for (auto& [mid, item] : InFlight) Queue.push_back(std::move(item));
      InFlight.clear();
      left = Queue.size();
    }
    if (left) Say(std::to_string(left) + " messages were not delivered to " + Where);
  }

  void Run()
  {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    Retry = Opt.RetryMin;
    bool first = true;
    bool draining = false;
    TClock::time_point deadline;
    for (;;) {
      if (!draining && IsStopping()) {
        draining = true;
        deadline = TClock::now() + std::chrono::duration_cast<TClock::duration>(
                                       std::chrono::duration<double>(Opt.DrainTimeout));
        Retry = Opt.RetryMin;
      }
      if (draining) {
        bool done, everConnected;
        {
          std::lock_guard lock(Mu);
          done = Queue.empty() && InFlight.empty();
          everConnected = St.Connections > 0;
        }
        // A broker never reached is not waited for; one that went away (a
        // restart) is given the rest of the time to come back.
        if (done || (!Connected && !everConnected) || TClock::now() >= deadline) break;
      }
      if (!Client) {
        if (!first && !WaitRetry(draining, deadline)) continue;
        if (draining && TClock::now() >= deadline) continue;
        first = false;
        if (!Connect()) continue;
      }
      int ms = 1000;
      if (!Connected) {
        const double left = Opt.ConnectTimeout - std::chrono::duration<double>(TClock::now() - AttemptStart).count();
        ms = std::clamp(static_cast<int>(left * 1000.0) + 1, 0, 1000);
      }
      if (draining)
        ms = std::min<int>(
            ms, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count()));
      if (!Step(ms)) continue;
      if (Connected && !Pump()) continue;
      SayDrops();
    }
    Goodbye();
  }
};

// ---------------------------------------------------------------------------

TMqttFeed::TMqttFeed(TMqttOptions options) : Impl(std::make_unique<TImpl>(std::move(options)))
{
  Impl->Prefix = Impl->Opt.TopicPrefix;
  while (!Impl->Prefix.empty() && Impl->Prefix.back() == '/') Impl->Prefix.pop_back();
}

TMqttFeed::~TMqttFeed() { Stop(); }

bool TMqttFeed::Start(std::string& error)
{
  TImpl& d = *Impl;
  {
    std::lock_guard lock(d.Mu);
    if (d.Running || d.Stopping) {
      error = "the MQTT feed was already started";
      return false;
    }
  }
  TMqttOptions& o = d.Opt;
  if (!ParseBrokerAddress(o.Broker, d.Addr, error)) return false;
  if (o.Tls) d.Addr.Tls = true;
  d.Where = (d.Addr.Host.find(':') != std::string::npos ? "[" + d.Addr.Host + "]" : d.Addr.Host) + ":" +
            std::to_string(d.Addr.Port);

  if (d.Prefix.empty() || mosquitto_pub_topic_check((d.Prefix + "/status").c_str()) != MOSQ_ERR_SUCCESS ||
      mosquitto_validate_utf8(d.Prefix.data(), static_cast<int>(d.Prefix.size())) != MOSQ_ERR_SUCCESS) {
    error = "'" + o.TopicPrefix + "' cannot start an MQTT topic (empty, or with '+', '#' or bytes that are not UTF-8)";
    return false;
  }
  if (!o.CredentialsFile.empty()) {
    if (!ReadCredentials(o.CredentialsFile, d.User, d.Password, error)) return false;
    d.HasUser = true;
  }
  if (!o.CaFile.empty()) {
    std::ifstream ca(o.CaFile);
    if (!ca) {
      error = "cannot read the CA file '" + o.CaFile + "': " + std::strerror(errno);
      return false;
    }
  }
  if (o.QueueLimit == 0) o.QueueLimit = 1;
  if (o.KeepAliveSeconds < 5) o.KeepAliveSeconds = 5;
  if (!(o.RetryMin > 0)) o.RetryMin = 0.1;
  if (!(o.RetryMax >= o.RetryMin)) o.RetryMax = o.RetryMin;
  if (!(o.ConnectTimeout > 0)) o.ConnectTimeout = 10.0;
  if (!(o.DrainTimeout >= 0)) o.DrainTimeout = 0;
  if (o.Receiver.empty()) o.Receiver = HostName();
  d.ClientId = o.ClientId.empty() ? DefaultClientId() : o.ClientId;
  d.OfflineJson = nlohmann::json{{"receiver", o.Receiver}, {"online", false}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);

  LibraryInit();
  d.WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (d.WakeFd < 0) {
    error = std::string("cannot start the MQTT feed: ") + std::strerror(errno);
    return false;
  }
  std::lock_guard lock(d.Mu);
  try {
    d.Thread = std::thread([&d] { d.Run(); });
  } catch (const std::system_error& e) {
    error = std::string("cannot start the MQTT feed's thread: ") + e.what();
    ::close(d.WakeFd);
    d.WakeFd = -1;
    return false;
  }
  d.Running = true;
  return true;
}

bool TMqttFeed::Publish(std::string_view id, std::string_view json, bool repeat)
{
  TImpl& d = *Impl;
  if (!json.empty() && json.back() == '\n') json.remove_suffix(1);
  {
    std::lock_guard lock(d.Mu);
    if (!d.Running || d.Stopping) return false;
    ++d.St.Accepted;
    if (d.Queue.size() + d.InFlight.size() + (d.Sending ? 1 : 0) >= d.Opt.QueueLimit) {
      ++d.St.Dropped;
      ++d.UnsaidDrops;
      if (d.Queue.empty()) return true;  // everything in flight: the newest gives way
      d.Queue.pop_front();
    }
    d.Queue.push_back({d.NextSeq++, MessageTopic(id, repeat), std::string(json)});
    d.Wake();
  }
  return true;
}

void TMqttFeed::SetStatus(const TMqttStatus& status)
{
  TImpl& d = *Impl;
  {
    std::lock_guard lock(d.Mu);
    d.Status = status;
    if (!d.Running || d.Stopping) return;
    d.StatusJson = d.BuildStatus(status, true);
    d.StatusDirty = true;
    d.Wake();
  }
}

void TMqttFeed::Stop()
{
  TImpl& d = *Impl;
  {
    std::lock_guard lock(d.Mu);
    if (!d.Running || d.Stopping) return;
    d.Stopping = true;
    d.Wake();
  }
  d.Thread.join();
  std::lock_guard lock(d.Mu);
  d.Running = false;
  ::close(d.WakeFd);
  d.WakeFd = -1;
}

TMqttFeedStats TMqttFeed::Stats() const
{
  std::lock_guard lock(Impl->Mu);
  TMqttFeedStats s = Impl->St;
  s.Queued = Impl->Queue.size();
  s.InFlight = Impl->InFlight.size() + (Impl->Sending ? 1 : 0);
  return s;
}

std::string TMqttFeed::MessageTopic(std::string_view id, bool repeat) const
{
  return Impl->Prefix + (repeat ? "/repeat/" : "/message/") + TopicLevel(id);
}

std::string TMqttFeed::StatusTopic() const { return Impl->Prefix + "/status"; }

}  // namespace brontel::net
