// Loopback stand-ins for the carriers' tracking services and the translator service
// (fake_services.py under /usr/bin/python3), over HTTPS with a certificate authority made for the
// test by the openssl command, or over plain HTTP. Each request is recorded before it is answered,
// so a test that got its answer can read the request at once.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace ktinet::test {

class FakeServices {
 public:
  struct Options {
    bool https = true;
    // The subjectAltName of the server's certificate.
    std::string subjectAltName = "IP:127.0.0.1,DNS:localhost";
    // The script under tests/support that plays the services, and its data folder under tests/.
    // Every script takes --port, --data, --log and, over HTTPS, --cert and --key, and records
    // each request as DIR/NNNN.req the way fake_services.py does.
    std::string script = "fake_services.py";
    std::string data = "services/data";
    // More arguments for the script (a test's own settings).
    std::vector<std::string> extraArgs;
  };

  struct Request {
    std::string method;
    std::string target;  // as sent: path and query, still percent-encoded
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The value of the first header of that name (ignoring case); empty when missing.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
  };

  FakeServices() : FakeServices(Options()) {}
  explicit FakeServices(Options options);
  ~FakeServices();
  FakeServices(const FakeServices&) = delete;
  FakeServices& operator=(const FakeServices&) = delete;

  int Port() const { return FPort; }
  // The PEM file of the authority that signed the server's certificate (empty over HTTP).
  std::string CAFile() const { return FCAFile; }
  // "https://127.0.0.1:PORT" (or http).
  std::string BaseUrl() const;
  // The requests received so far, in order.
  std::vector<Request> Requests() const;

 private:
  std::unique_ptr<TempDir> FDir;
  int FPort = 0;
  std::string FCAFile;
  std::unique_ptr<ServerProcess> FProcess;
};

// Makes a certificate authority and a server certificate signed by it in dir: ca.pem,
// server.pem and server.key. Throws std::runtime_error when openssl fails.
void MakeTestCertificates(const std::string& dir, const std::string& subjectAltName);

}  // namespace ktinet::test
