// A real SMTP server (Debian's aiosmtpd under /usr/bin/python3) on a free loopback port, run by
// tests/support/smtp_server.py: LOGIN authentication, clear text, STARTTLS or implicit TLS with a
// test CA made by the openssl command once per test run. Every accepted message is stored; the
// test reads the envelope and has Python's email package parse the message.
//
//   SmtpServer smtp({.mode = SmtpServer::kStartTls});
//   ... send to 127.0.0.1:smtp.Port(), trusting smtp.CAFile() ...
//   auto messages = smtp.WaitMessages(1);
//   Json parsed = SmtpServer::Parse(messages[0].emlPath);
//   EXPECT_EQ(parsed["parts"][1]["sha256"].str, Sha256OfFile(path));
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace ktinet::test {

// A parsed JSON value (what the helper scripts print); a missing member or index reads as null.
struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  bool boolean = false;
  double number = 0;
  std::string str;  // UTF-8
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json& operator[](const std::string& key) const;
  const Json& operator[](size_t index) const;
  size_t size() const { return type == kArray ? items.size() : members.size(); }
  // Throws std::runtime_error on malformed input.
  static Json Parse(const std::string& text);
};

class SmtpServer {
 public:
  enum Mode { kPlain, kStartTls, kImplicitTls };
  struct Options {
    Mode mode = kPlain;
    std::string user = "mailer";
    std::string password = "s3cret";
    // Recipients containing one of these texts are refused with "550 5.1.1 <rcpt>: Recipient
    // address rejected".
    std::vector<std::string> reject;
  };
  struct Message {
    std::string emlPath;
    std::string bytes;  // the message as received (after the server undid dot-stuffing)
    Json envelope;      // mail_from, rcpt_tos, tls, authenticated, login
  };

  explicit SmtpServer(Options options);
  ~SmtpServer();
  SmtpServer(const SmtpServer&) = delete;
  SmtpServer& operator=(const SmtpServer&) = delete;

  int Port() const { return FPort; }
  // The test CA's certificate (PEM) that signed the server's certificate (for 127.0.0.1 and
  // localhost).
  static std::string CAFile();
  // Waits (bounded) until `count` messages are stored; returns those there are then.
  std::vector<Message> WaitMessages(size_t count, int timeoutMs = 10000) const;
  // Messages stored so far.
  std::vector<Message> Messages() const;
  std::string LogTail() const { return FProcess->LogTail(); }

  // Python's email package's reading of a message file.
  static Json Parse(const std::string& emlPath);

 private:
  std::unique_ptr<TempDir> FDir;
  int FPort = 0;
  std::unique_ptr<ServerProcess> FProcess;
};

// Hex SHA-256 of a file's bytes (sha256sum).
std::string Sha256OfFile(const std::string& path);
// Runs a command through the shell; returns its standard output and sets *status.
std::string RunCommand(const std::string& command, int* status = nullptr);

}  // namespace ktinet::test
