// A receiver's feed in a process of its own, for the tests that kill it:
//   brontel_mqtt_probe BROKER PREFIX
// connects, publishes an online status, says "connected" on standard output
// and waits to be killed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "net/mqtt_feed.h"

int main(int argc, char** argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: brontel_mqtt_probe BROKER PREFIX\n");
    return 2;
  }
  brontel::net::TMqttOptions o;
  o.Broker = argv[1];
  o.TopicPrefix = argv[2];
  o.Receiver = "probe";
  brontel::net::TMqttFeed feed(o);
  std::string error;
  if (!feed.Start(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  brontel::net::TMqttStatus status;
  status.Path = "robust";
  feed.SetStatus(status);
  while (!feed.Stats().Connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::printf("connected\n");
  std::fflush(stdout);
  for (;;) ::pause();
}
