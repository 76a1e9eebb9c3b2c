// The tests' Mosquitto broker (scripts/mqtt-test-broker.sh) and a subscriber
// written on the client library, which records what the broker sends it.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/run_command.h"

namespace brontel::test {

// The broker named by BRONTEL_MQTT_HOST and BRONTEL_MQTT_DIR (the test
// command starts one); without them, one of this process's own, stopped at
// exit.
class TMqttBroker {
public:
  static TMqttBroker& Get()
  {
    static TMqttBroker broker;
    return broker;
  }

  bool Ok() const { return Port > 0; }
  const std::string& Address() const { return HostPort; }  // 127.0.0.1:PORT
  const std::string& Host() const { return HostName; }
  int PortNumber() const { return Port; }

  // Stops the broker and starts it again on the same port with its
  // persistence file, as a restart by its administrator would.
  bool Restart() const { return std::system(("bash " + Script() + " restart '" + Dir + "' >/dev/null").c_str()) == 0; }

  ~TMqttBroker()
  {
    if (Own) std::system(("bash " + Script() + " stop '" + Dir + "'").c_str());
  }

private:
  TMqttBroker()
  {
    const char* host = std::getenv("BRONTEL_MQTT_HOST");
    const char* dir = std::getenv("BRONTEL_MQTT_DIR");
    if (host && *host && dir && *dir) {
      Set(host, dir);
      return;
    }
    const TCommandResult r = RunShell("bash " + Script() + " start");
    if (r.Status != 0) return;
    // BRONTEL_MQTT_HOST=127.0.0.1:PORT; export ...;\nBRONTEL_MQTT_DIR=DIR; export ...;
    auto value = [&](const std::string& name) {
      const std::size_t at = r.Out.find(name + "=");
      if (at == std::string::npos) return std::string();
      const std::size_t from = at + name.size() + 1;
      return r.Out.substr(from, r.Out.find(';', from) - from);
    };
    Own = true;
    Set(value("BRONTEL_MQTT_HOST"), value("BRONTEL_MQTT_DIR"));
  }

  void Set(const std::string& hostPort, const std::string& dir)
  {
    HostPort = hostPort;
    Dir = dir;
    const std::size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) return;
    HostName = hostPort.substr(0, colon);
    Port = std::atoi(hostPort.c_str() + colon + 1);
  }

  static std::string Script() { return std::string("'") + BRONTEL_SOURCE_DIR + "/scripts/mqtt-test-broker.sh'"; }

  std::string HostPort, HostName, Dir;
  int Port = 0;
  bool Own = false;
};

struct TReceived {
  std::string Topic;
  std::string Payload;
  int Qos = 0;
  bool Retain = false;
};

// Subscribes to one topic filter at QoS 1 and keeps every message. With
// `persistent` its session (and what the broker queues for it while it is
// away) outlives a lost connection and a broker restart.
class TSubscriber {
public:
  TSubscriber(std::string filter, const std::string& clientId = {}, bool persistent = false)
      : Filter(std::move(filter))
  {
    mosquitto_lib_init();
    Client = mosquitto_new(clientId.empty() ? nullptr : clientId.c_str(), !persistent, this);
    mosquitto_reconnect_delay_set(Client, 1, 1, false);
    mosquitto_connect_callback_set(Client, [](mosquitto* m, void* self, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<TSubscriber*>(self)->Filter.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(Client, [](mosquitto*, void* self, int, int, const int*) {
      auto* s = static_cast<TSubscriber*>(self);
      std::lock_guard lock(s->Mu);
      s->Subscribed = true;
      s->Changed.notify_all();
    });
    mosquitto_message_callback_set(Client, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* s = static_cast<TSubscriber*>(self);
      std::lock_guard lock(s->Mu);
      s->Messages.push_back({m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen), m->qos,
                             m->retain});
      s->Changed.notify_all();
    });
    const TMqttBroker& b = TMqttBroker::Get();
    mosquitto_connect_async(Client, b.Host().c_str(), b.PortNumber(), 10);
    mosquitto_loop_start(Client);
  }

  ~TSubscriber()
  {
    mosquitto_disconnect(Client);
    mosquitto_loop_stop(Client, false);
    mosquitto_destroy(Client);
  }

  TSubscriber(const TSubscriber&) = delete;
  TSubscriber& operator=(const TSubscriber&) = delete;

  // Until the broker has confirmed the subscription.
  bool WaitSubscribed(std::chrono::seconds limit = std::chrono::seconds(10))
  {
    std::unique_lock lock(Mu);
    return Changed.wait_for(lock, limit, [&] { return Subscribed; });
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
  std::string Filter;
  mosquitto* Client = nullptr;
  std::mutex Mu;
  std::condition_variable Changed;
  bool Subscribed = false;
  std::vector<TReceived> Messages;
};

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

}  // namespace brontel::test
