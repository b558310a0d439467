#include "support/ChronyServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/Net.h"

namespace ktinet::test {

bool NtpAnswers(int port, int timeoutMs) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  unsigned char packet[48] = {0x1B};
  packet[40] = 0xEA;  // a transmit time the reply must echo
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, packet, sizeof packet, 0) == static_cast<ssize_t>(sizeof packet)) {
    pollfd p{fd, POLLIN, 0};
    unsigned char reply[512];
    if (::poll(&p, 1, timeoutMs) > 0) {
      ssize_t n = ::recv(fd, reply, sizeof reply, 0);
      ok = n >= 48 && (reply[0] & 7) == 4 && reply[24] == 0xEA && reply[1] != 0;
    }
  }
  ::close(fd);
  return ok;
}

ChronyServer::ChronyServer() : FDir(std::make_unique<TempDir>()) {
  FPort = FreePort(true);
  std::string conf = "local stratum 8\n"
                     "allow 127.0.0.1\n"
                     "bindaddress 127.0.0.1\n"
                     "port " + std::to_string(FPort) + "\n"
                     "cmdport 0\n"
                     "pidfile " + (*FDir / "chronyd.pid") + "\n"
                     "driftfile " + (*FDir / "drift") + "\n";
  FDir->Write("chrony.conf", conf);

  ServerProcess::Options p;
  std::string program = PeerProgram("chronyd");
  // -x: never touch the system clock; -u: stay as the user we are (no privileges to drop to).
  p.argv = {program, "-d", "-x", "-f", *FDir / "chrony.conf"};
  if (::geteuid() == 0) {
    p.argv.push_back("-u");
    p.argv.push_back("root");
  }
  p.name = "chronyd";
  const int port = FPort;
  p.probe = [port] { return NtpAnswers(port, 200); };
  FProcess = std::make_unique<ServerProcess>(std::move(p));
}

ChronyServer::~ChronyServer() { Stop(); }

void ChronyServer::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace ktinet::test
