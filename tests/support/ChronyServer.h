// A real NTP server on loopback for SNTP tests: chronyd in the foreground with a generated
// configuration (its own clock as a stratum 8 reference, answering 127.0.0.1 on a free UDP
// port, no command port, the system clock left alone). Ready once it answers a client packet.
#pragma once

#include <memory>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace ktinet::test {

class ChronyServer {
 public:
  ChronyServer();
  ~ChronyServer();
  ChronyServer(const ChronyServer&) = delete;
  ChronyServer& operator=(const ChronyServer&) = delete;

  int Port() const { return FPort; }
  void Stop();

 private:
  std::unique_ptr<TempDir> FDir;
  int FPort = 0;
  std::unique_ptr<ServerProcess> FProcess;
};

// One SNTP client packet to 127.0.0.1:port; true when a server reply came within timeoutMs.
bool NtpAnswers(int port, int timeoutMs);

}  // namespace ktinet::test
