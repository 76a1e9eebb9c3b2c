// Datagrams to one UDP destination (HOST:PORT), the way navigation programs
// receive NMEA sentences on a network.
#pragma once

#include <string>
#include <string_view>

namespace brontel {

// Splits "HOST:PORT" ("[::1]:10110" for IPv6 literals); false with a message
// in `error` unless HOST is given and PORT is a number from 1 to 65535.
bool SplitUdpDestination(std::string_view destination, std::string& host, std::string& port, std::string& error);

class TUdpSender {
public:
  TUdpSender() = default;
  ~TUdpSender();
  TUdpSender(const TUdpSender&) = delete;
  TUdpSender& operator=(const TUdpSender&) = delete;

  // Resolves the destination (see SplitUdpDestination) and opens a socket
  // that may also send to a broadcast address; false with a message in
  // `error` when it cannot.
  bool Open(std::string_view destination, std::string& error);

  // Sends one datagram; false with a message in `error` when the system
  // refuses it (the receiver not listening is not an error for UDP).
  bool Send(std::string_view datagram, std::string& error);

private:
  int Socket = -1;
  std::string Address;      // the resolved destination (struct sockaddr_storage bytes)
  std::string Destination;  // as given, for messages
};

}  // namespace brontel
