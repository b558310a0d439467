// TKtISMTP and `ktinet mail` against a real SMTP server (aiosmtpd) on loopback: delivery that
// Python's email package reads back, attachments byte for byte, login in clear text, over
// STARTTLS and implicit TLS with a test CA, and refusals reported with the server's text.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mail/KtISMTP.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace ktinet {
namespace {

using test::Json;
using test::SmtpServer;

std::string Header(const Json& parsed, const std::string& name) {
  for (const Json& h : parsed["headers"].items)
    if (h[0].str == name) return h[1].str;
  return "(absent)";
}

SmtpServer::Options InMode(SmtpServer::Mode mode) {
  SmtpServer::Options o;
  o.mode = mode;
  return o;
}

void Configure(TKtISMTP& smtp, const SmtpServer& server) {
  smtp.SetHost(u"127.0.0.1");
  smtp.SetPort(server.Port());
  smtp.SetConnectTimeout(5000);
  smtp.SetReadTimeout(10000);
  smtp.From()->SetText(u"Ann Sender <ann@example.com>");
}

// Runs the program; returns its exit code, with stderr in *err.
int RunTool(const std::string& args, std::string* err) {
  test::TempDir dir;
  int status = 0;
  test::RunCommand(std::string(KTINET_TOOL) + " mail " + args + " 2>" + (dir / "err") + " >/dev/null", &status);
  *err = test::ReadFileBytes(dir / "err");
  return status;
}

TEST(SmtpDelivery, TwoAttachmentsCopiesAndALoneDotArriveIntact) {
  SmtpServer server({});
  test::TempDir dir;
  std::string binary;
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) binary += static_cast<char>(random() & 0xFF);
  binary += std::string("\r\n.\r\n", 5);  // what would end the data if it went out raw
  std::string binPath = dir.Write("data.bin", binary);
  std::string textPath = dir.Write("notes.txt", "first\n.\nlast line\n");

  TKtISMTP smtp(nullptr);
  Configure(smtp, server);
  smtp.Recipients()->SetEMailAddresses(u"Bob <bob@example.com>");
  smtp.CC()->SetEMailAddresses(u"carl@example.com");
  smtp.BCC()->SetEMailAddresses(u"hidden@example.com");
  smtp.SetSubject(u"R\u00e9sum\u00e9 \u2013 quarterly figures \U0001F4C8 and a rather long tail of words");
  smtp.SetCharSet(u"utf-8");
  smtp.SetEncoding(u"8bit");
  smtp.Body()->SetText(u"Hello Bob,\n.\nthe line above is a lone dot.\nGr\u00fc\u00dfe");
  smtp.Login()->SetUserID(u"mailer");
  smtp.Login()->SetPassword(u"s3cret");
  smtp.Login()->SetUseLogin(true);
  TKtIEMailAttachment* a = smtp.Attachments()->Add();
  a->SetFileName(UTF8ToString(binPath));
  a->SetContentType(u"application/octet-stream");
  a->SetEncoding(u"base64");
  TKtIEMailAttachment* b = smtp.Attachments()->Add();
  b->SetFileName(UTF8ToString(textPath));
  b->SetAttachmentName(u"notes.txt");
  b->SetContentType(u"text/plain");
  b->SetEncoding(u"quoted-printable");

  EXPECT_EQ(smtp.Execute(), u"") << server.LogTail();
  auto messages = server.WaitMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  const Json& env = messages[0].envelope;
  EXPECT_EQ(env["mail_from"].str, "ann@example.com");
  ASSERT_EQ(env["rcpt_tos"].size(), 3u);
  EXPECT_EQ(env["rcpt_tos"][0].str, "bob@example.com");
  EXPECT_EQ(env["rcpt_tos"][1].str, "carl@example.com");
  EXPECT_EQ(env["rcpt_tos"][2].str, "hidden@example.com");
  EXPECT_TRUE(env["authenticated"].boolean);
  EXPECT_EQ(env["login"].str, "mailer");

  Json parsed = SmtpServer::Parse(messages[0].emlPath);
  EXPECT_EQ(parsed["defects"].size(), 0u);
  EXPECT_EQ(Header(parsed, "From"), "Ann Sender <ann@example.com>");
  EXPECT_EQ(Header(parsed, "To"), "Bob <bob@example.com>");
  EXPECT_EQ(Header(parsed, "Cc"), "carl@example.com");
  EXPECT_EQ(Header(parsed, "Bcc"), "(absent)");
  EXPECT_EQ(messages[0].bytes.find("hidden@"), std::string::npos);
  EXPECT_EQ(Header(parsed, "Subject"),
            "R\xc3\xa9sum\xc3\xa9 \xe2\x80\x93 quarterly figures \xf0\x9f\x93\x88 and a rather long tail of words");
  ASSERT_EQ(parsed["parts"].size(), 3u);
  const Json& text = parsed["parts"][0];
  EXPECT_EQ(text["text"].str, "Hello Bob,\n.\nthe line above is a lone dot.\nGr\xc3\xbc\xc3\x9f" "e");
  // The disposition names the file as it was given, path and all.
  EXPECT_EQ(parsed["parts"][1]["filename"].str, binPath);
  EXPECT_EQ(parsed["parts"][1]["size"].number, static_cast<double>(binary.size()));
  EXPECT_EQ(parsed["parts"][1]["sha256"].str, test::Sha256OfFile(binPath));
  EXPECT_EQ(parsed["parts"][2]["filename"].str, textPath);
  EXPECT_NE(messages[0].bytes.find("Content-Type: text/plain; name=\"notes.txt\"\r\n"), std::string::npos);
  EXPECT_NE(parsed["parts"][2]["text"].str.find("first\n.\nlast line"), std::string::npos)
      << parsed["parts"][2]["text"].str;
}

TEST(SmtpDelivery, ToolReportsRefusalsWithTheServersText) {
  SmtpServer server({.reject = {"nobody"}});
  const std::string base = "--server 127.0.0.1:" + std::to_string(server.Port()) + " --from ann@example.com --timeout 10";
  std::string err;
  EXPECT_EQ(RunTool(base + " --to nobody@example.com --subject x --body hi", &err), 1);
  EXPECT_NE(err.find("550 5.1.1 <nobody@example.com>: Recipient address rejected"), std::string::npos) << err;

  EXPECT_EQ(RunTool(base + " --to bob@example.com --user mailer --password wrong --body hi", &err), 1);
  EXPECT_NE(err.find("535"), std::string::npos) << err;

  EXPECT_EQ(RunTool(base + " --to bob@example.com --tls starttls --body hi", &err), 1);
  EXPECT_NE(err.find("does not offer STARTTLS"), std::string::npos) << err;
  EXPECT_TRUE(server.Messages().empty());

  EXPECT_EQ(RunTool(base + " --to bob@example.com --user mailer --password s3cret --body 'hi\\n.\\nend'", &err), 0)
      << err;
  auto messages = server.WaitMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].bytes.find("\r\nhi\r\n.\r\nend\r\n"), std::string::npos);
}

TEST(SmtpDelivery, LoginOverStartTlsNeedsTheRightCA) {
  SmtpServer server(InMode(SmtpServer::kStartTls));
  TKtISMTP smtp(nullptr);
  Configure(smtp, server);
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.SetUseTLS(utStartTLS);
  smtp.Login()->SetUserID(u"mailer");
  smtp.Login()->SetPassword(u"s3cret");
  smtp.Login()->SetUseLogin(true);
  smtp.Body()->Add(u"over TLS");

  // Without the test CA the certificate is not trusted: nothing is sent.
  try {
    smtp.Execute();
    ADD_FAILURE() << "an untrusted certificate was accepted";
  } catch (const ESocketError& e) {
    EXPECT_NE(e.Message().find(u"certificate verify failed"), String::npos) << UTF8Encode(e.Message());
  }
  EXPECT_FALSE(smtp.Connected());

  // The right CA but the wrong name.
  smtp.SetCACertFile(UTF8ToString(SmtpServer::CAFile()));
  smtp.SetHost(u"127.0.0.2");
  EXPECT_THROW(smtp.Execute(), ESocketError);

  smtp.SetHost(u"localhost");
  smtp.SetKeepConnection(true);
  EXPECT_EQ(smtp.Execute(), u"") << server.LogTail();
  // A second message on the kept connection logs in only once.
  smtp.SetSubject(u"second");
  EXPECT_EQ(smtp.Execute(), u"") << server.LogTail();
  smtp.Disconnect();
  auto messages = server.WaitMessages(2);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].envelope["tls"].boolean);
  EXPECT_TRUE(messages[1].envelope["authenticated"].boolean);

  std::string err;
  const std::string args = "--server localhost:" + std::to_string(server.Port()) +
                           " --from a@example.com --to b@example.com --tls starttls --user mailer --password s3cret"
                           " --timeout 10 --body hi";
  EXPECT_EQ(RunTool(args, &err), 1);
  EXPECT_NE(err.find("certificate verify failed"), std::string::npos) << err;
  EXPECT_EQ(RunTool(args + " --cacert " + SmtpServer::CAFile(), &err), 0) << err;
}

TEST(SmtpDelivery, ImplicitTls) {
  SmtpServer server(InMode(SmtpServer::kImplicitTls));
  TKtISMTP smtp(nullptr);
  Configure(smtp, server);
  smtp.SetUseTLS(utImplicit);
  smtp.SetCACertFile(UTF8ToString(SmtpServer::CAFile()));
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.Login()->SetUserID(u"mailer");
  smtp.Login()->SetPassword(u"s3cret");
  smtp.Login()->SetUseLogin(true);
  smtp.Body()->Add(u"implicit");
  EXPECT_EQ(smtp.Execute(), u"") << server.LogTail();
  auto messages = server.WaitMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].envelope["tls"].boolean);
  EXPECT_TRUE(messages[0].envelope["authenticated"].boolean);
}

}  // namespace
}  // namespace ktinet
