// Received messages and the receiver's status published to an MQTT broker,
// for dashboards and for the other receivers of a network.
//
// Topics under a prefix P:
//   P/message/B1B2B3B4   each new message, its JSON form, QoS 1
//   P/repeat/B1B2B3B4    each repeat of a known message, QoS 1
//   P/status             the receiver's status, retained, QoS 1; the broker
//                        replaces it with an offline status when the
//                        connection breaks without a goodbye
//
// Publish and SetStatus only queue and return: a thread of the feed's own
// connects, publishes in order and reconnects with back-off. A message counts
// as delivered once the broker has acknowledged it (PUBACK); one still
// unacknowledged when a connection breaks is sent again on the next (so a
// subscriber may see it twice, never not at all). The queue is bounded: when
// it is full the oldest waiting message is dropped, counted and said.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brontel::net {

// Where the broker is: "HOST", "HOST:PORT", "[IPv6]:PORT", each optionally
// after "mqtt://" (plain TCP, default port 1883) or "mqtts://" (TLS, default
// port 8883).
struct TBrokerAddress {
  std::string Host;
  int Port = 1883;
  bool Tls = false;
};

// Parses a broker address; false with the reason in `error`.
bool ParseBrokerAddress(std::string_view text, TBrokerAddress& address, std::string& error);

// Reads a credentials file: the user name on its first line, the password on
// the second (absent: no password). False with the reason in `error`.
bool ReadCredentials(const std::string& path, std::string& user, std::string& password, std::string& error);

// The topic level of a message identity: letters, digits and '*' (an erasure)
// kept, anything else (a '/', an MQTT wildcard, a space, a byte outside
// ASCII) as '_'; an empty identity as "none".
std::string TopicLevel(std::string_view id);

struct TMqttOptions {
  std::string Broker;               // see TBrokerAddress
  std::string TopicPrefix = "brontel";
  std::string Receiver;             // this receiver's name in the status (default: the host name)
  std::string CredentialsFile;      // user and password (see ReadCredentials); empty: anonymous
  bool Tls = false;                 // TLS even without "mqtts://"
  std::string CaFile;               // TLS: trust this CA file (PEM) instead of the system's store
  std::string ClientId;             // empty: brontel-PID-RANDOM
  std::size_t QueueLimit = 1000;    // messages waiting for the broker, at most
  std::size_t Window = 10;          // messages sent and not yet acknowledged, at most
  int KeepAliveSeconds = 30;
  double ConnectTimeout = 10.0;     // s from the start of an attempt to the broker's answer
  double RetryMin = 1.0;            // s, first wait after a failed attempt; doubled up to
  double RetryMax = 60.0;           // s, this
  double DrainTimeout = 3.0;        // s that Stop waits for the queue to reach the broker
  // Said when the connection comes, goes or fails, and when messages are
  // dropped; called on the feed's thread, which it must not stop, and must
  // not throw. Null: written to standard error.
  std::function<void(const std::string&)> Notice;
};

// What the status topic carries besides the receiver's name.
struct TMqttStatus {
  std::string Path;                 // decoder path: "exact" or "robust"
  bool Signal = false;              // a signal is being received
  std::optional<double> SnrDb;      // its signal-to-noise ratio, when known
  std::optional<double> FrequencyKhz;
  std::string LastMessageId;        // B1B2B3B4 of the last message (empty: none yet)
  double LastMessageUtc = 0.0;      // its time, UTC seconds (0: unknown)
};

struct TMqttFeedStats {
  bool Connected = false;
  std::size_t Queued = 0;           // waiting to be sent
  std::size_t InFlight = 0;         // sent, not yet acknowledged
  uint64_t Accepted = 0;            // messages taken by Publish
  uint64_t Delivered = 0;           // acknowledged by the broker
  uint64_t Dropped = 0;             // dropped because the queue was full
  uint64_t Refused = 0;             // refused by the client library (too large, bad topic)
  uint64_t Connections = 0;         // successful connections so far
  std::string LastError;            // why the last attempt or connection failed
};

class TMqttFeed {
public:
  explicit TMqttFeed(TMqttOptions options);
  // Stop(), when still running.
  ~TMqttFeed();
  TMqttFeed(const TMqttFeed&) = delete;
  TMqttFeed& operator=(const TMqttFeed&) = delete;

  // Checks the options (address, prefix, credentials and CA files) and starts
  // the feed's thread, which connects in the background. False with the
  // reason in `error` when an option is wrong; a broker that cannot be
  // reached is no error here: it is said, and retried.
  bool Start(std::string& error);

  // Queues a message's JSON form (one object; a final newline is removed)
  // for P/message/ID, or P/repeat/ID for a repeat. False once stopped.
  bool Publish(std::string_view id, std::string_view json, bool repeat);

  // Replaces the retained status; only the newest is sent.
  void SetStatus(const TMqttStatus& status);

  // Waits up to DrainTimeout for the queue to be delivered, publishes the
  // offline status, disconnects and ends the thread; says how many messages
  // were left undelivered. Idempotent.
  void Stop();

  TMqttFeedStats Stats() const;
  // The topics this feed publishes to.
  std::string MessageTopic(std::string_view id, bool repeat) const;
  std::string StatusTopic() const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace brontel::net
