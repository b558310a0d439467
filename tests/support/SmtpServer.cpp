#include "support/SmtpServer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "support/Net.h"

namespace ktinet::test {

namespace {

const std::string kScript = std::string(KTINET_SOURCE_DIR) + "/tests/support/smtp_server.py";

// ---- a small JSON reader ---------------------------------------------------------------------

class JsonReader {
 public:
  explicit JsonReader(const std::string& t) : s(t) {}
  Json Document() {
    Json v = Value();
    Blank();
    if (at != s.size()) Fail("text after the value");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) {
    throw std::runtime_error("JSON: " + why + " at offset " + std::to_string(at));
  }
  void Blank() {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r' || s[at] == '\t')) ++at;
  }
  bool Take(const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (s.compare(at, n, word) != 0) return false;
    at += n;
    return true;
  }
  static void PutUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  unsigned Hex4() {
    if (at + 4 > s.size()) Fail("short \\u escape");
    unsigned v = static_cast<unsigned>(std::stoul(s.substr(at, 4), nullptr, 16));
    at += 4;
    return v;
  }
  std::string Str() {
    ++at;  // the opening quote
    std::string out;
    while (at < s.size() && s[at] != '"') {
      char c = s[at++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at >= s.size()) Fail("dangling escape");
      char e = s[at++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          unsigned cp = Hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF && s.compare(at, 2, "\\u") == 0) {
            at += 2;
            unsigned low = Hex4();
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          PutUtf8(out, cp);
          break;
        }
        default: out += e; break;
      }
    }
    if (at >= s.size()) Fail("unterminated string");
    ++at;
    return out;
  }
  Json Value() {
    Blank();
    if (at >= s.size()) Fail("unexpected end");
    Json v;
    char c = s[at];
    if (c == '{') {
      v.type = Json::kObject;
      ++at;
      Blank();
      if (at < s.size() && s[at] == '}') return ++at, v;
      for (;;) {
        Blank();
        if (at >= s.size() || s[at] != '"') Fail("member name expected");
        std::string key = Str();
        Blank();
        if (at >= s.size() || s[at++] != ':') Fail("':' expected");
        v.members.emplace_back(key, Value());
        Blank();
        if (at < s.size() && s[at] == ',') {
          ++at;
          continue;
        }
        if (at < s.size() && s[at] == '}') return ++at, v;
        Fail("',' or '}' expected");
      }
    }
    if (c == '[') {
      v.type = Json::kArray;
      ++at;
      Blank();
      if (at < s.size() && s[at] == ']') return ++at, v;
      for (;;) {
        v.items.push_back(Value());
        Blank();
        if (at < s.size() && s[at] == ',') {
          ++at;
          continue;
        }
        if (at < s.size() && s[at] == ']') return ++at, v;
        Fail("',' or ']' expected");
      }
    }
    if (c == '"') {
      v.type = Json::kString;
      v.str = Str();
      return v;
    }
    if (Take("true")) return v.type = Json::kBool, v.boolean = true, v;
    if (Take("false")) return v.type = Json::kBool, v;
    if (Take("null")) return v;
    size_t used = 0;
    v.type = Json::kNumber;
    v.number = std::stod(s.substr(at, 40), &used);
    at += used;
    return v;
  }

  const std::string& s;
  size_t at = 0;
};

const Json& NullJson() {
  static const Json null;
  return null;
}

// The test CA and the server certificate, made once per test run.
struct TestCertificates {
  TempDir dir;
  std::string ca, cert, key;
  TestCertificates() {
    ca = dir / "ca.pem";
    cert = dir / "server.pem";
    key = dir / "server.key";
    dir.Write("server.ext",
              "subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
              "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n");
    const std::string d = dir.Path();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string commands[] = {
        "openssl req -x509" + ec + " -keyout " + d + "/ca.key -out " + ca +
            " -days 2 -subj '/CN=ktinet mail test CA' -addext basicConstraints=critical,CA:TRUE"
            " -addext keyUsage=critical,keyCertSign,cRLSign",
        "openssl req" + ec + " -keyout " + key + " -out " + d + "/server.csr -subj /CN=localhost",
        "openssl x509 -req -in " + d + "/server.csr -CA " + ca + " -CAkey " + d + "/ca.key -CAcreateserial -out " +
            cert + " -days 2 -extfile " + d + "/server.ext",
    };
    for (const std::string& c : commands) {
      int status = 0;
      std::string out = RunCommand(c + " 2>&1", &status);
      if (status != 0) throw std::runtime_error("SmtpServer: " + c + " failed: " + out);
    }
  }
};

TestCertificates& Certificates() {
  static std::mutex lock;
  static std::unique_ptr<TestCertificates> certs;
  std::lock_guard<std::mutex> guard(lock);
  if (!certs) certs = std::make_unique<TestCertificates>();
  return *certs;
}

}  // namespace

const Json& Json::operator[](const std::string& key) const {
  for (const auto& [k, v] : members)
    if (k == key) return v;
  return NullJson();
}

const Json& Json::operator[](size_t index) const { return index < items.size() ? items[index] : NullJson(); }

Json Json::Parse(const std::string& text) { return JsonReader(text).Document(); }

std::string RunCommand(const std::string& command, int* status) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[4096];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int st = ::pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

std::string Sha256OfFile(const std::string& path) {
  int status = 0;
  std::string out = RunCommand("sha256sum '" + path + "'", &status);
  if (status != 0 || out.size() < 64) throw std::runtime_error("sha256sum failed for " + path);
  return out.substr(0, 64);
}

SmtpServer::SmtpServer(Options options) : FDir(std::make_unique<TempDir>()) {
  FPort = FreePort();
  std::filesystem::create_directories(*FDir / "mail");
  ServerProcess::Options p;
  p.argv = {"/usr/bin/python3", kScript, "serve", "--dir", *FDir / "mail", "--port", std::to_string(FPort),
            "--ready", *FDir / "ready", "--user", options.user, "--password", options.password};
  if (options.mode != kPlain) {
    TestCertificates& certs = Certificates();
    p.argv.insert(p.argv.end(), {"--mode", options.mode == kStartTls ? "starttls" : "implicit", "--cert", certs.cert,
                                 "--key", certs.key});
  }
  for (const std::string& r : options.reject) p.argv.insert(p.argv.end(), {"--reject", r});
  p.name = "aiosmtpd";
  p.readyFile = *FDir / "ready";
  p.readyTimeoutMs = 20000;
  FProcess = std::make_unique<ServerProcess>(std::move(p));
}

SmtpServer::~SmtpServer() { FProcess->Stop(); }

std::string SmtpServer::CAFile() { return Certificates().ca; }

std::vector<SmtpServer::Message> SmtpServer::Messages() const {
  std::vector<Message> out;
  for (int i = 1;; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "mail/msg-%03d", i);
    std::string base = *FDir / name;
    if (!std::filesystem::exists(base + ".eml")) break;
    Message m;
    m.emlPath = base + ".eml";
    m.bytes = ReadFileBytes(m.emlPath);
    m.envelope = Json::Parse(ReadFileBytes(base + ".json"));
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<SmtpServer::Message> SmtpServer::WaitMessages(size_t count, int timeoutMs) const {
  for (int waited = 0;; waited += 20) {
    std::vector<Message> m = Messages();
    if (m.size() >= count || waited >= timeoutMs) return m;
    ::usleep(20 * 1000);
  }
}

Json SmtpServer::Parse(const std::string& emlPath) {
  int status = 0;
  std::string out = RunCommand("/usr/bin/python3 '" + kScript + "' parse '" + emlPath + "'", &status);
  if (status != 0) throw std::runtime_error("parsing " + emlPath + " failed: " + out);
  return Json::Parse(out);
}

}  // namespace ktinet::test
