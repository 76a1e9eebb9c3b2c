// A Mosquitto broker of one test's own with the two things the shared test
// broker has not: a listener that wants a user name and password, and a TLS
// listener whose certificate is signed by a certificate authority made for
// the test (its certificate in CaFile()). Stopped by its pid.
#pragma once

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/run_command.h"

namespace brontel::test {

class TSecureBroker {
public:
  static constexpr const char* User = "watch";
  static constexpr const char* Password = "s3cret:pass";

  TSecureBroker()
  {
    char dir[] = "/tmp/brontel-mqtt-secure.XXXXXX";
    if (!::mkdtemp(dir)) return;
    Dir = dir;
    std::filesystem::permissions(Dir, std::filesystem::perms(0755));
    PasswordPort = FreePort();
    TlsPort = FreePort();
    const std::string d = "'" + Dir + "'";
    // An EC certificate authority and a server certificate for 127.0.0.1.
    const std::string make =
        "cd " + d + " && " +
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj '/CN=Brontel test CA' -keyout ca.key -out ca.pem && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=127.0.0.1' "
        "-keyout server.key -out server.csr && "
        "printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' >san.ext && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext "
        "-out server.pem && "
        "mosquitto_passwd -c -b passwd " + User + " '" + Password + "' && "
        "chmod 644 server.key passwd";
    if (RunShell("(" + make + ") >" + d + "/make.log 2>&1").Status != 0) return;
    std::ofstream conf(Dir + "/mosquitto.conf");
    conf << "per_listener_settings true\n"
         << "pid_file " << Dir << "/broker.pid\n"
         << "log_dest file " << Dir << "/broker.log\n"
         << "listener " << PasswordPort << " 127.0.0.1\n"
         << "allow_anonymous false\n"
         << "password_file " << Dir << "/passwd\n"
         << "listener " << TlsPort << " 127.0.0.1\n"
         << "allow_anonymous true\n"
         << "cafile " << Dir << "/ca.pem\n"
         << "certfile " << Dir << "/server.pem\n"
         << "keyfile " << Dir << "/server.key\n";
    conf.close();
    // As root the broker runs as Debian's mosquitto user by itself, and
    // writes its pid and log files as that user.
    if (::geteuid() == 0)
      if (const passwd* pw = ::getpwnam("mosquitto"); pw && ::chown(Dir.c_str(), pw->pw_uid, pw->pw_gid) != 0) return;
    if (RunShell("PATH=\"$PATH:/usr/sbin\" mosquitto -d -c " + d + "/mosquitto.conf </dev/null >/dev/null 2>&1").Status != 0) return;
    for (int i = 0; i < 100 && !Ok(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::ifstream pid(Dir + "/broker.pid");
      if (!(pid >> Pid)) Pid = 0;
      Up = Pid > 0 && Listening(PasswordPort) && Listening(TlsPort);
    }
  }

  ~TSecureBroker()
  {
    if (Pid > 0) {
      ::kill(Pid, SIGTERM);
      for (int i = 0; i < 50 && ::kill(Pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!Dir.empty()) std::filesystem::remove_all(Dir);
  }

  TSecureBroker(const TSecureBroker&) = delete;
  TSecureBroker& operator=(const TSecureBroker&) = delete;

  bool Ok() const { return Up; }
  std::string CaFile() const { return Dir + "/ca.pem"; }
  std::string Log() const { return RunShell("cat '" + Dir + "/make.log' '" + Dir + "/broker.log' 2>&1").Out; }
  std::string Folder() const { return Dir; }
  int PasswordPort = 0;
  int TlsPort = 0;

private:
  static int FreePort()
  {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
    ::close(fd);
    return port;
  }

  static bool Listening(int port)
  {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
  }

  std::string Dir;
  pid_t Pid = 0;
  bool Up = false;
};

}  // namespace brontel::test
