// A UDP socket on the loopback address that a test sends datagrams to.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace brontel::test {

class TUdpListener {
public:
  // Binds a free port; `timeoutSeconds` bounds each Receive.
  explicit TUdpListener(int timeoutSeconds = 5) : Socket(::socket(AF_INET, SOCK_DGRAM, 0))
  {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (Socket < 0 || ::bind(Socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(Socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    PortNumber = ntohs(addr.sin_port);
    timeval timeout{timeoutSeconds, 0};
    ::setsockopt(Socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~TUdpListener()
  {
    if (Socket >= 0) ::close(Socket);
  }
  TUdpListener(const TUdpListener&) = delete;
  TUdpListener& operator=(const TUdpListener&) = delete;

  bool Ok() const { return PortNumber != 0; }
  // "127.0.0.1:PORT", for a sender.
  std::string Address() const { return "127.0.0.1:" + std::to_string(PortNumber); }
  // The next datagram; empty after the time-out.
  std::string Receive()
  {
    char buf[2048];
    const ssize_t n = ::recv(Socket, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  }

private:
  int Socket;
  int PortNumber = 0;
};

}  // namespace brontel::test
