// The tests' Mosquitto brokers and a subscriber written on the client library.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/run_command.h"

namespace brontel::test {

// Polls `done` every 20 ms for up to `limit`.
inline bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline std::string BrokerScript() { return std::string("bash '") + BRONTEL_SOURCE_DIR + "/scripts/mqtt-test-broker.sh'"; }

// The broker of scripts/mqtt-test-broker.sh named by BRONTEL_MQTT_HOST and
// BRONTEL_MQTT_DIR (the test command starts one), else one of this process's
// own, stopped at exit.
class TMqttBroker {
public:
  static TMqttBroker& Get()
  {
    static TMqttBroker broker;
    return broker;
  }
  bool Ok() const { return Port > 0; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port); }
  int PortNumber() const { return Port; }
  // Stopped and started again on the same port with its persistence file.
  bool Restart() const { return std::system((BrokerScript() + " restart '" + Dir + "' >/dev/null").c_str()) == 0; }
  ~TMqttBroker()
  {
    if (Own) std::system((BrokerScript() + " stop '" + Dir + "'").c_str());
  }

private:
  TMqttBroker()
  {
    std::string vars;
    if (const char* host = std::getenv("BRONTEL_MQTT_HOST"); host && std::getenv("BRONTEL_MQTT_DIR"))
      vars = "BRONTEL_MQTT_HOST=" + std::string(host) + ";BRONTEL_MQTT_DIR=" + std::getenv("BRONTEL_MQTT_DIR") + ";";
    else if (const TCommandResult r = RunShell(BrokerScript() + " start"); r.Status == 0)
      vars = r.Out, Own = true;
    auto value = [&](const std::string& name) {
      const std::size_t at = vars.find(name + "=");
      if (at == std::string::npos) return std::string();
      const std::size_t from = at + name.size() + 1;
      return vars.substr(from, vars.find(';', from) - from);
    };
    const std::string host = value("BRONTEL_MQTT_HOST");
    Dir = value("BRONTEL_MQTT_DIR");
    if (host.starts_with("127.0.0.1:")) Port = std::atoi(host.c_str() + 10);
  }
  std::string Dir;
  int Port = 0;
  bool Own = false;
};

// A broker of one test's own: a listener that wants the user "watch" with
// the password "s3cret:pass", and a TLS listener whose certificate for
// 127.0.0.1 is signed by an authority made for the test (CaFile()).
class TSecureBroker {
public:
  TSecureBroker()
  {
    char dir[] = "/tmp/brontel-mqtt-secure.XXXXXX";
    if (!::mkdtemp(dir)) return;
    Dir = dir;
    auto freePort = [] {
      return std::atoi(RunShell("python3 -c 'import socket;s=socket.socket();s.bind((\"127.0.0.1\",0));"
                                "print(s.getsockname()[1])'").Out.c_str());
    };
    PasswordPort = freePort();
    TlsPort = freePort();
    std::ofstream(Dir + "/mosquitto.conf")
        << "per_listener_settings true\npid_file " << Dir << "/broker.pid\nlog_dest file " << Dir << "/broker.log\n"
        << "listener " << PasswordPort << " 127.0.0.1\nallow_anonymous false\npassword_file " << Dir << "/passwd\n"
        << "listener " << TlsPort << " 127.0.0.1\nallow_anonymous true\ncafile " << Dir << "/ca.pem\n"
        << "certfile " << Dir << "/server.pem\nkeyfile " << Dir << "/server.key\n";
    // As root the broker runs as Debian's mosquitto user, which must read
    // these files and write its pid and log there.
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    Up = RunShell("cd '" + Dir + "' && { openssl req -x509 " + ec + " -days 2 -subj '/CN=Brontel test CA' "
                  "-keyout ca.key -out ca.pem && openssl req " + ec + " -subj '/CN=127.0.0.1' -keyout server.key "
                  "-out server.csr && printf 'subjectAltName=IP:127.0.0.1\\n' >san.ext && openssl x509 -req "
                  "-in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext -out server.pem "
                  "&& mosquitto_passwd -c -b passwd watch 's3cret:pass' && chmod 755 . && chmod 644 server.key passwd "
                  "&& { [ \"$(id -u)\" != 0 ] || chown mosquitto: . ; } "
                  "&& PATH=\"$PATH:/usr/sbin\" mosquitto -d -c mosquitto.conf; } >make.log 2>&1 </dev/null")
             .Status == 0;
    const std::string probe = "bash -c 'exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(PasswordPort) +
                              " 4<>/dev/tcp/127.0.0.1/" + std::to_string(TlsPort) + "' 2>/dev/null";
    Up = Up && Eventually([&] { return RunShell(probe).Status == 0; }, std::chrono::seconds(5));
  }
  ~TSecureBroker()
  {
    if (!Dir.empty())
      RunShell("p=$(cat '" + Dir + "/broker.pid' 2>/dev/null) && kill $p && for i in $(seq 50); do "
               "kill -0 $p 2>/dev/null || break; sleep 0.1; done; rm -rf '" + Dir + "'");
  }
  bool Ok() const { return Up; }
  std::string CaFile() const { return Dir + "/ca.pem"; }
  std::string Folder() const { return Dir; }
  std::string Log() const { return RunShell("cat '" + Dir + "'/*.log 2>&1").Out; }
  int PasswordPort = 0, TlsPort = 0;

private:
  std::string Dir;
  bool Up = false;
};

struct TReceived {
  std::string Topic, Payload;
  int Qos = 0;
  bool Retain = false;
};

// Subscribes to one topic filter at QoS 1 and keeps every message. With
// `persistent` the broker keeps its session, and what arrives meanwhile,
// while it is away and across a broker restart.
class TSubscriber {
public:
  explicit TSubscriber(std::string filter, const std::string& clientId = {}, bool persistent = false)
      : Filter(std::move(filter))
  {
    mosquitto_lib_init();
    Client = mosquitto_new(clientId.empty() ? nullptr : clientId.c_str(), !persistent, this);
    mosquitto_reconnect_delay_set(Client, 1, 1, false);
    mosquitto_connect_callback_set(Client, [](mosquitto* m, void* self, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<TSubscriber*>(self)->Filter.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(Client, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<TSubscriber*>(self)->Update([](TSubscriber& s) { s.Subscribed = true; });
    });
    mosquitto_message_callback_set(Client, [](mosquitto*, void* self, const mosquitto_message* m) {
      static_cast<TSubscriber*>(self)->Update([m](TSubscriber& s) {
        s.Messages.push_back({m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen), m->qos,
                              m->retain});
      });
    });
    mosquitto_connect_async(Client, "127.0.0.1", TMqttBroker::Get().PortNumber(), 10);
    mosquitto_loop_start(Client);
  }
  ~TSubscriber()
  {
    mosquitto_disconnect(Client);
    mosquitto_loop_stop(Client, false);
    mosquitto_destroy(Client);
  }
  bool WaitSubscribed()
  {
    std::unique_lock lock(Mu);
    return Changed.wait_for(lock, std::chrono::seconds(10), [&] { return Subscribed; });
  }
  // Until `done` holds for the messages received so far.
  bool WaitFor(const std::function<bool(const std::vector<TReceived>&)>& done,
               std::chrono::seconds limit = std::chrono::seconds(20))
  {
    std::unique_lock lock(Mu);
    return Changed.wait_for(lock, limit, [&] { return done(Messages); });
  }
  bool WaitCount(std::size_t n, std::chrono::seconds limit = std::chrono::seconds(20))
  {
    return WaitFor([n](const std::vector<TReceived>& m) { return m.size() >= n; }, limit);
  }
  std::vector<TReceived> Received()
  {
    std::lock_guard lock(Mu);
    return Messages;
  }

private:
  void Update(const std::function<void(TSubscriber&)>& change)
  {
    std::lock_guard lock(Mu);
    change(*this);
    Changed.notify_all();
  }
  std::string Filter;
  mosquitto* Client = nullptr;
  std::mutex Mu;
  std::condition_variable Changed;
  bool Subscribed = false;
  std::vector<TReceived> Messages;
};

}  // namespace brontel::test
