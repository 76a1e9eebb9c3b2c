#include "nmea/udp_sender.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brontel {

TUdpSender::~TUdpSender()
{
  if (Socket >= 0) ::close(Socket);
}

bool TUdpSender::Open(std::string_view destination, std::string& error)
{
  const std::size_t colon = destination.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == destination.size()) {
    error.assign("'").append(destination).append("' is not HOST:PORT");
    return false;
  }
  std::string host(destination.substr(0, colon));
  const std::string port(destination.substr(colon + 1));
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error.assign("cannot resolve '").append(destination).append("': ").append(::gai_strerror(rc));
    return false;
  }
  std::string why = "no address";
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) {
      why = std::strerror(errno);
      continue;
    }
    if (Socket >= 0) ::close(Socket);
    Socket = s;
    Address.assign(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen);
    break;
  }
  ::freeaddrinfo(found);
  if (Socket < 0) {
    error.assign("cannot open a socket for '").append(destination).append("': ").append(why);
    return false;
  }
  return true;
}

bool TUdpSender::Send(std::string_view datagram, std::string& error)
{
  if (Socket < 0) {
    error = "the UDP destination is not open";
    return false;
  }
  const ssize_t n = ::sendto(Socket, datagram.data(), datagram.size(), 0,
                             reinterpret_cast<const sockaddr*>(Address.data()),
                             static_cast<socklen_t>(Address.size()));
  // A previous datagram refused by the peer shows up here as ECONNREFUSED;
  // nobody listening is normal for a broadcast of sentences.
  if (n < 0 && errno != ECONNREFUSED) {
    error = std::string("cannot send to the UDP destination: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace brontel
