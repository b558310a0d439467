#include "support/FakeServices.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/Net.h"

namespace ktinet::test {

namespace {

void Run(const std::string& command) {
  std::string full = command + " >/dev/null 2>&1";
  if (std::system(full.c_str()) != 0) throw std::runtime_error("FakeServices: failed: " + command);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void MakeTestCertificates(const std::string& dir, const std::string& subjectAltName) {
  const std::string q = "'" + dir + "/";
  Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj '/CN=ktinet test CA'"
      " -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign'"
      " -keyout " + q + "ca.key' -out " + q + "ca.pem'");
  Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=127.0.0.1' -keyout " + q +
      "server.key' -out " + q + "server.csr'");
  TempDir scratch;
  std::string ext = scratch.Write("ext.cnf", "subjectAltName=" + subjectAltName +
                                                 "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
  Run("openssl x509 -req -days 2 -in " + q + "server.csr' -CA " + q + "ca.pem' -CAkey " + q +
      "ca.key' -CAcreateserial -extfile '" + ext + "' -out " + q + "server.pem'");
}

FakeServices::FakeServices(Options options) : FDir(std::make_unique<TempDir>()) {
  std::filesystem::create_directories(*FDir / "requests");
  FPort = FreePort();
  ServerProcess::Options p;
  p.name = options.script;
  p.argv = {"/usr/bin/python3", std::string(KTINET_SOURCE_DIR) + "/tests/support/" + options.script,
            "--port", std::to_string(FPort),
            "--data", std::string(KTINET_SOURCE_DIR) + "/tests/" + options.data,
            "--log", *FDir / "requests"};
  p.argv.insert(p.argv.end(), options.extraArgs.begin(), options.extraArgs.end());
  if (options.https) {
    MakeTestCertificates(FDir->Path(), options.subjectAltName);
    FCAFile = *FDir / "ca.pem";
    p.argv.insert(p.argv.end(), {"--cert", *FDir / "server.pem", "--key", *FDir / "server.key"});
  }
  p.port = FPort;
  FProcess = std::make_unique<ServerProcess>(p);
}

FakeServices::~FakeServices() = default;

std::string FakeServices::BaseUrl() const {
  return std::string(FCAFile.empty() ? "http" : "https") + "://127.0.0.1:" + std::to_string(FPort);
}

std::vector<FakeServices::Request> FakeServices::Requests() const {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(*FDir / "requests"))
    if (entry.path().extension() == ".req") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<Request> out;
  for (const auto& file : files) {
    std::string raw = ReadFileBytes(file);
    size_t end = raw.find("\n\n");
    if (end == std::string::npos) continue;
    Request r;
    r.body = raw.substr(end + 2);
    std::string head = raw.substr(0, end) + "\n";
    size_t at = head.find('\n');
    std::string line = head.substr(0, at);
    size_t space = line.find(' ');
    r.method = line.substr(0, space);
    r.target = line.substr(space + 1);
    for (size_t next; (next = head.find('\n', at + 1)) != std::string::npos; at = next) {
      std::string h = head.substr(at + 1, next - at - 1);
      size_t colon = h.find(": ");
      if (colon != std::string::npos) r.headers.emplace_back(h.substr(0, colon), h.substr(colon + 2));
    }
    out.push_back(std::move(r));
  }
  return out;
}

std::string FakeServices::Request::Header(const std::string& name) const {
  for (const auto& [k, v] : headers)
    if (Lower(k) == Lower(name)) return v;
  return std::string();
}

bool FakeServices::Request::HasHeader(const std::string& name) const {
  for (const auto& h : headers)
    if (Lower(h.first) == Lower(name)) return true;
  return false;
}

}  // namespace ktinet::test
