// The demo's line for TKtISMTP: a message with an attachment, sent with login to a tiny SMTP
// sink on loopback that answers like a mail server and keeps what it received.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "mail/KtISMTP.h"
#include "rtl/SysUtils.h"

namespace ktinet::cli {

namespace {

struct SinkLog {
  std::mutex lock;
  std::string envelope;  // "MAIL FROM:<...> RCPT TO:<...> ..."
  std::string message;   // the data, dot-stuffing undone
};

// Plays the server side of one SMTP session; every command gets a reply, AUTH LOGIN takes any
// credentials, DATA is read up to the lone dot.
DemoHandler SmtpSink(std::shared_ptr<SinkLog> log) {
  return [log](DemoConnection& conn) {
    conn.Send("220 sink.localhost ESMTP demo sink\r\n");
    for (int step = 0; step < 200; ++step) {
      std::string line = conn.ReceiveUntil("\n");
      if (line.empty() || line.back() != '\n') return;
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      std::string verb = UTF8Encode(UpperCase(UTF8ToString(line.substr(0, line.find(' ')))));
      if (verb == "EHLO") {
        conn.Send("250-sink.localhost\r\n250-AUTH LOGIN\r\n250 8BITMIME\r\n");
      } else if (verb == "AUTH") {
        conn.Send("334 VXNlcm5hbWU6\r\n");
        conn.ReceiveLine();
        conn.Send("334 UGFzc3dvcmQ6\r\n");
        conn.ReceiveLine();
        conn.Send("235 2.7.0 Authentication successful\r\n");
      } else if (verb == "MAIL" || verb == "RCPT") {
        std::lock_guard<std::mutex> guard(log->lock);
        log->envelope += (log->envelope.empty() ? "" : " ") + line;
        conn.Send("250 2.1.0 Ok\r\n");
      } else if (verb == "DATA") {
        conn.Send("354 End data with <CR><LF>.<CR><LF>\r\n");
        std::string data = conn.ReceiveUntil("\r\n.\r\n", 10000);
        std::string plain;
        for (size_t at = 0; at < data.size();) {
          size_t end = data.find("\r\n", at);
          std::string l = data.substr(at, end == std::string::npos ? std::string::npos : end - at);
          if (l == ".") break;
          if (!l.empty() && l[0] == '.') l.erase(0, 1);
          plain += l + "\r\n";
          at = end == std::string::npos ? data.size() : end + 2;
        }
        {
          std::lock_guard<std::mutex> guard(log->lock);
          log->message = plain;
        }
        conn.Send("250 2.0.0 Ok: queued as DEMO1\r\n");
      } else if (verb == "QUIT") {
        conn.Send("221 2.0.0 Bye\r\n");
        return;
      } else {
        conn.Send("250 2.0.0 Ok\r\n");
      }
    }
  };
}

DemoOutcome DemoMail() {
  auto log = std::make_shared<SinkLog>();
  DemoServer sink(SmtpSink(log));

  TKtISMTP smtp(nullptr);
  smtp.SetHost(UTF8ToString(DemoServer::Host()));
  smtp.SetPort(sink.Port());
  smtp.SetConnectTimeout(5000);
  smtp.SetReadTimeout(5000);
  smtp.From()->SetText(u"Demo Sender <sender@example.com>");
  smtp.Recipients()->SetEMailAddresses(u"Ann <ann@example.com>");
  smtp.BCC()->SetEMailAddresses(u"audit@example.com");
  smtp.SetSubject(u"Demo message");
  smtp.Body()->SetText(u"Hello from the demo.\n.\nThe line above is a lone dot.");
  smtp.Login()->SetUserID(u"demo");
  smtp.Login()->SetPassword(u"demo");
  smtp.Login()->SetUseLogin(true);
  // A small binary attachment, every byte value twice over.
  std::string bytes;
  for (int i = 0; i < 512; ++i) bytes += static_cast<char>(i & 0xFF);
  std::string path = UTF8Encode(IncludeTrailingPathDelimiter(GetTempDir())) + "ktinet-demo-" +
                     std::to_string(::getpid()) + ".bin";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  struct Remove {
    std::string p;
    ~Remove() { std::remove(p.c_str()); }
  } removeLater{path};
  TKtIEMailAttachment* a = smtp.Attachments()->Add();
  a->SetFileName(UTF8ToString(path));
  a->SetContentType(u"application/octet-stream");
  a->SetEncoding(u"base64");
  smtp.Execute();
  sink.Stop();

  DemoOutcome out;
  out.did = "message with login, a blind copy and an attachment to an SMTP sink on 127.0.0.1:" +
            std::to_string(sink.Port());
  std::lock_guard<std::mutex> guard(log->lock);
  if (!smtp.LastError().empty()) {
    out.result = "error: " + UTF8Encode(smtp.LastError());
  } else if (log->envelope.find("RCPT TO:<audit@example.com>") == std::string::npos ||
             log->message.find("\r\n.\r\nThe line above") == std::string::npos ||
             log->message.find("Bcc") != std::string::npos ||
             log->message.find("------------ArdenfoldSMTP--") == std::string::npos) {
    out.result = "the sink received something unexpected";
  } else {
    out.ok = true;
    out.result = "accepted, " + std::to_string(log->message.size()) + " bytes of message for 2 recipients";
  }
  return out;
}

}  // namespace

KTINET_DEMO_STEP(DemoStep{40, "TKtISMTP", DemoMail});

}  // namespace ktinet::cli
