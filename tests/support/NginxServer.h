// A real nginx on loopback for HTTP tests: the fixture writes a configuration into a temporary
// directory, serves files from a docroot there, and runs `nginx -p DIR -c nginx.conf -g 'daemon
// off;'` through ServerProcess on a free port. Logs, temporary paths and the pid file stay inside
// the directory.
//
//   NginxServer::Options o;
//   o.files = {{"hello.txt", "hello\n"}};
//   o.locations = "location = /old { return 302 /hello.txt; }\n";
//   NginxServer nginx(o);
//   ... GET http://127.0.0.1:nginx.Port()/hello.txt ...
//
// In `locations` and `httpExtra` the placeholders {dir}, {root}, {port} and {htpasswd} stand for
// the directory, the docroot, the port and the password file.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace ktinet::test {

class NginxServer {
 public:
  struct Options {
    // Files of the docroot: path relative to it, and contents.
    std::vector<std::pair<std::string, std::string>> files;
    // Users of the password file (name, password), hashed with `openssl passwd -apr1`.
    std::vector<std::pair<std::string, std::string>> users;
    // Directives inside the server block (locations, absolute_redirect ...).
    std::string locations;
    // Directives inside the http block, beside the server (more servers, maps).
    std::string httpExtra;
    // 0: a free port is chosen.
    int port = 0;
    // Serve HTTPS instead of HTTP, with a certificate signed by the test CA (CAFile()) for
    // certHost: empty means 127.0.0.1 and localhost; another name makes a certificate that does
    // not fit the loopback address.
    bool https = false;
    std::string certHost;
    // The certificate names certHost (localhost when empty) in its subject's CN only, with no
    // subjectAltName: what browsers refuse.
    bool certNameInCnOnly = false;
  };

  explicit NginxServer(Options options);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int Port() const { return FPort; }
  const std::string& Dir() const { return FDir->Path(); }
  std::string Root() const { return *FDir / "www"; }
  std::string HtpasswdPath() const { return *FDir / "htpasswd"; }
  // One line per request: `PORT "REQUEST LINE" STATUS "HOST HEADER"`.
  std::string AccessLog() const;
  // nginx logs a request after its answer has gone out: waits (bounded) until `needle` shows up.
  bool WaitForAccessLog(const std::string& needle, int timeoutMs = 5000) const;
  std::string ErrorLogTail() const;
  void Stop();

  // A location that makes this server a forward proxy for http:// targets given as IP addresses
  // with their port in the request line ("GET http://127.0.0.1:8080/x HTTP/1.0"); anything else
  // gets 400.
  static std::string ForwardProxyLocation();
  // A location that answers 200 with the request body it received (up to 8 KB, one line).
  static std::string EchoBodyLocation(const std::string& path);
  // The test CA (PEM) behind the HTTPS servers' certificates, made once per test run.
  static std::string CAFile();

 private:
  std::string Expand(std::string text) const;

  std::unique_ptr<TempDir> FDir;
  int FPort = 0;
  std::unique_ptr<ServerProcess> FProcess;
};

}  // namespace ktinet::test
