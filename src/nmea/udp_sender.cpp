#include "nmea/udp_sender.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brontel {

bool SplitUdpDestination(std::string_view destination, std::string& host, std::string& port, std::string& error)
{
  const std::size_t colon = destination.rfind(':');
  if (colon == std::string_view::npos || colon == 0) {
    error = destination.empty() ? std::string("an empty destination") : std::string(destination);
    error += " is not HOST:PORT";
    return false;
  }
  host.assign(destination.substr(0, colon));
  port.assign(destination.substr(colon + 1));
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
  const long number = digits ? std::stol(port) : 0;
  if (!digits || number < 1 || number > 65535) {
    error = std::string(destination);
    error += ": the port must be a number from 1 to 65535";
    return false;
  }
  return true;
}

TUdpSender::~TUdpSender()
{
  if (Socket >= 0) ::close(Socket);
}

bool TUdpSender::Open(std::string_view destination, std::string& error)
{
  std::string host, port;
  if (!SplitUdpDestination(destination, host, port, error)) return false;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error.assign("cannot resolve '").append(destination).append("': ").append(::gai_strerror(rc));
    return false;
  }
  std::string why = "no address";
  if (Socket >= 0) ::close(Socket);
  Socket = -1;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) {
      why = std::strerror(errno);
      continue;
    }
    // A broadcast address is a destination like any other here: sentences
    // are commonly broadcast to every plotter on a boat's network.
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    Socket = s;
    Address.assign(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen);
    break;
  }
  ::freeaddrinfo(found);
  if (Socket < 0) {
    error.assign("cannot open a socket for '").append(destination).append("': ").append(why);
    return false;
  }
  Destination.assign(destination);
  return true;
}

bool TUdpSender::Send(std::string_view datagram, std::string& error)
{
  if (Socket < 0) {
    error = "the UDP destination is not open";
    return false;
  }
  ssize_t n = -1;
  do {
    n = ::sendto(Socket, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(Address.data()),
                 static_cast<socklen_t>(Address.size()));
  } while (n < 0 && errno == EINTR);
  // A previous datagram refused by the peer shows up here as ECONNREFUSED;
  // nobody listening is normal for a broadcast of sentences.
  if (n < 0 && errno != ECONNREFUSED) {
    error = "cannot send to " + Destination + ": " + std::strerror(errno);
    return false;
  }
  if (n >= 0 && static_cast<std::size_t>(n) != datagram.size()) {
    error = "cannot send to " + Destination + ": the datagram went out cut";
    return false;
  }
  return true;
}

}  // namespace brontel
