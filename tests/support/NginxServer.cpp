#include "support/NginxServer.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <mutex>
#include <filesystem>
#include <stdexcept>

#include "support/Net.h"

namespace ktinet::test {

namespace {

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size()) text.replace(at, what.size(), with);
}

// An Apache MD5 hash of the password, as nginx's auth_basic reads it.
std::string HashPassword(const std::string& password) {
  if (password.find('\'') != std::string::npos) throw std::runtime_error("NginxServer: quote in a test password");
  std::string cmd = "openssl passwd -apr1 '" + password + "'";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) throw std::runtime_error("NginxServer: cannot run openssl passwd");
  char buf[256];
  std::string out;
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int status = ::pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (status != 0 || out.rfind("$apr1$", 0) != 0) throw std::runtime_error("NginxServer: openssl passwd failed: " + out);
  return out;
}

std::string RunQuiet(const std::string& command, int& status) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) throw std::runtime_error("NginxServer: cannot run " + command);
  char buf[256];
  std::string out;
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  status = ::pclose(p);
  return out;
}

// The test CA and server certificates (one per host name), made once per test run.
class TestPki {
 public:
  TestPki() {
    Run("openssl req -x509" + kKey + " -keyout " + FDir / "ca.key" + " -out " + FDir / "ca.pem" +
        " -days 2 -subj '/CN=ktinet web test CA' -addext basicConstraints=critical,CA:TRUE"
        " -addext keyUsage=critical,keyCertSign,cRLSign");
  }
  std::string CA() const { return FDir / "ca.pem"; }
  // Certificate and key files for a host ("" = 127.0.0.1 and localhost).
  std::pair<std::string, std::string> For(const std::string& host, bool cnOnly = false) {
    std::lock_guard<std::mutex> guard(FMutex);
    std::string tag = (host.empty() ? "loopback" : host) + (cnOnly ? "-cn-only" : "");
    for (char& c : tag)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
    std::string cert = FDir / (tag + ".pem"), key = FDir / (tag + ".key");
    if (::access(cert.c_str(), R_OK) == 0) return {cert, key};
    std::string san = host.empty() ? "DNS:localhost,IP:127.0.0.1" : "DNS:" + host;
    FDir.Write(tag + ".ext", (cnOnly ? std::string() : "subjectAltName=" + san + "\n") +
                                 "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                                 "extendedKeyUsage=serverAuth\n");
    Run("openssl req" + kKey + " -keyout " + key + " -out " + FDir / (tag + ".csr") + " -subj /CN=" +
        (host.empty() ? std::string("localhost") : host));
    Run("openssl x509 -req -in " + FDir / (tag + ".csr") + " -CA " + CA() + " -CAkey " + FDir / "ca.key" +
        " -CAcreateserial -out " + cert + " -days 2 -extfile " + FDir / (tag + ".ext"));
    return {cert, key};
  }

 private:
  static void Run(const std::string& command) {
    int status = 0;
    std::string out = RunQuiet(command, status);
    if (status != 0) throw std::runtime_error("NginxServer: " + command + " failed: " + out);
  }
  const std::string kKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  TempDir FDir;
  std::mutex FMutex;
};

TestPki& Pki() {
  static std::mutex lock;
  static std::unique_ptr<TestPki> pki;
  std::lock_guard<std::mutex> guard(lock);
  if (!pki) pki = std::make_unique<TestPki>();
  return *pki;
}

std::string NginxProgram() { return PeerProgram("nginx"); }

}  // namespace

NginxServer::NginxServer(Options options) : FDir(std::make_unique<TempDir>()) {
  FPort = options.port ? options.port : FreePort();
  std::filesystem::create_directories(Root());
  for (const auto& [name, bytes] : options.files) FDir->Write("www/" + name, bytes);
  std::string htpasswd;
  for (const auto& [user, password] : options.users) htpasswd += user + ":" + HashPassword(password) + "\n";
  FDir->Write("htpasswd", htpasswd);

  std::string conf;
  // A master running as root hands requests to workers of another user, who could not read the
  // private temporary directory.
  if (::geteuid() == 0) conf += "user root;\n";
  conf +=
      "worker_processes 1;\n"
      "pid {dir}/nginx.pid;\n"
      "error_log {dir}/error.log info;\n"
      "events { worker_connections 64; }\n"
      "http {\n"
      "  default_type text/plain;\n"
      "  log_format ktinet '$server_port \"$request\" $status \"$http_host\"';\n"
      "  access_log {dir}/access.log ktinet;\n"
      "  client_body_temp_path {dir}/body;\n"
      "  proxy_temp_path {dir}/proxy;\n"
      "  fastcgi_temp_path {dir}/fastcgi;\n"
      "  uwsgi_temp_path {dir}/uwsgi;\n"
      "  scgi_temp_path {dir}/scgi;\n"
      "  server {\n";
  if (options.https) {
    auto [cert, key] = Pki().For(options.certHost, options.certNameInCnOnly);
    conf += "    listen 127.0.0.1:{port} ssl;\n"
            "    ssl_certificate " + cert + ";\n"
            "    ssl_certificate_key " + key + ";\n";
  } else {
    conf += "    listen 127.0.0.1:{port};\n";
  }
  conf +=
      "    server_name localhost;\n"
      "    root {root};\n";
  conf += options.locations;
  conf += "\n  }\n";
  conf += options.httpExtra;
  conf += "\n}\n";
  FDir->Write("nginx.conf", Expand(conf));

  ServerProcess::Options p;
  p.argv = {NginxProgram(), "-p", FDir->Path(), "-c", *FDir / "nginx.conf", "-g", "daemon off;"};
  p.name = "nginx";
  p.port = FPort;
  FProcess = std::make_unique<ServerProcess>(std::move(p));
}

NginxServer::~NginxServer() { Stop(); }

void NginxServer::Stop() {
  if (FProcess) FProcess->Stop();
}

std::string NginxServer::Expand(std::string text) const {
  ReplaceAll(text, "{dir}", FDir->Path());
  ReplaceAll(text, "{root}", Root());
  ReplaceAll(text, "{port}", std::to_string(FPort));
  ReplaceAll(text, "{htpasswd}", HtpasswdPath());
  return text;
}

std::string NginxServer::AccessLog() const { return ReadFileBytes(*FDir / "access.log"); }

bool NginxServer::WaitForAccessLog(const std::string& needle, int timeoutMs) const {
  for (int waited = 0;; waited += 10) {
    if (AccessLog().find(needle) != std::string::npos) return true;
    if (waited >= timeoutMs) return false;
    ::usleep(10 * 1000);
  }
}

std::string NginxServer::ErrorLogTail() const {
  std::string log = ReadFileBytes(*FDir / "error.log");
  return log.size() > 4000 ? log.substr(log.size() - 4000) : log;
}

std::string NginxServer::ForwardProxyLocation() {
  return "location / {\n"
         "  set $fp_target '';\n"
         "  set $fp_path '';\n"
         "  if ($request ~ \"^[A-Z]+ http://([0-9.]+:[0-9]+)(/[^ ]*) HTTP/\") {\n"
         "    set $fp_target $1;\n"
         "    set $fp_path $2;\n"
         "  }\n"
         "  if ($fp_target = '') { return 400 \"not a proxy request\\n\"; }\n"
         "  proxy_pass http://$fp_target$fp_path;\n"
         "}\n";
}

std::string NginxServer::CAFile() { return Pki().CA(); }

std::string NginxServer::EchoBodyLocation(const std::string& path) {
  // The body is read only where it is proxied; the inner location hands it back from a header.
  return "location = " + path + " {\n"
         "  client_body_buffer_size 8k;\n"
         "  client_body_in_single_buffer on;\n"
         "  proxy_set_header X-Echo-Body $request_body;\n"
         "  proxy_pass http://127.0.0.1:{port}/__echo_back;\n"
         "}\n"
         "location = /__echo_back { return 200 \"$http_x_echo_body\"; }\n";
}

}  // namespace ktinet::test
